#pragma once

// What every picture of the report is drawn with: a white canvas, the lettering,
// the frame of a plot with its names, and a colour for each class. pictures.cpp
// draws the figures made of images and cells; plots.cpp the figures with axes.

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRect>

namespace sorvik {

constexpr int margin = 8;

// The lettering of every picture: 12 pixels high.
QFont labelFont();

QImage whiteCanvas(int width, int height);

// A white picture with a plot area framed, its title above and its axis names.
struct Plot {
    QImage image;
    QRect area;  // where the data goes
};
Plot plotCanvas(const QString &title, const QString &xName, const QString &yName, int width = 360, int height = 200);

// A number or name at an axis, in black.
void axisText(QPainter &painter, const QRect &box, Qt::Alignment alignment, const QString &text);

// The colour of class `index` (in the order of the classes).
QColor classColour(int index);

} // namespace sorvik
