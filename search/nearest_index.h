#pragma once

#include "linalg/matrix.h"

#include <memory>
#include <utility>

namespace sorvik {

struct IndexLayout;  // index_layout.h: how the rows lie, seen by the search alone

// Which vectors a search is built over: the widest the processor has (512 bits
// where it has them), or the portable ones built for any processor. Both give
// the same answers.
enum class Vectors { Widest, Portable };

// The stored rows arranged for a fast search with the same answers as the plain
// scan: made by nearestIndex, read by nearestRow (nearest.h). Copies share the
// arrangement, which never changes once made.
class NearestIndex {
public:
    NearestIndex() = default;
    explicit NearestIndex(std::shared_ptr<const IndexLayout> layout) : laidOut(std::move(layout)) {}
    const IndexLayout *layout() const { return laidOut.get(); }

private:
    std::shared_ptr<const IndexLayout> laidOut;
};

NearestIndex nearestIndex(const Matrix &stored, Vectors vectors = Vectors::Widest);

} // namespace sorvik
