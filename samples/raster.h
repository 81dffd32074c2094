#pragma once

#include <QString>

#include <cstdint>
#include <vector>

namespace sorvik {

// One sample: a labelled grid of unsigned bytes, row by row. The grey image of a
// sample and its F-transform components both travel in this form.
struct Raster {
    std::vector<std::uint8_t> data;  // width * height values; column x of row y at y * width + x
    std::int32_t width = 0;
    std::int32_t height = 0;
    QString label;                   // class label, empty until the directory reader sets it
    std::int32_t sourceWidth = 0;    // size of the raster the values were computed from
    std::int32_t sourceHeight = 0;
};

} // namespace sorvik
