#pragma once

// What every picture of the report is drawn with: a white canvas, the lettering,
// the frame of a plot with its names, and a colour for each class. pictures.cpp
// draws the figures made of images and cells; plots.cpp the figures with axes.

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRect>

#include <vector>

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

// A tick's label left of the y axis of `area` at height `at`, or below its x axis
// at `at`: apart where the two axes meet.
void yTickText(QPainter &painter, const QRect &area, int at, const QString &text);
void xTickText(QPainter &painter, const QRect &area, int at, const QString &text);

// The colour of class `index` (in the order of the classes): twelve colours that
// stay apart, repeated; classMarker then tells the classes of one colour apart.
QColor classColour(int index);

// The marker of class `index`: a square, a disc, a triangle, a diamond or a cross,
// one for each round of the twelve colours, so that no two of 60 classes share
// colour and marker.
void drawMarker(QPainter &painter, QPointF centre, int index);

// Ticks of an axis from 0 to `high`: steps of 1, 2 or 5 times a power of ten,
// about `count` of them.
std::vector<double> niceTicks(double high, int count);

// A tick's label: a whole number when the step is one (with thin groups of
// thousands), else as few decimals as the step needs.
QString tickLabel(double value, double step);

// Draws the ticks of both axes of a plot area, x over [0, xHigh] and y over
// [0, yHigh], with `xUnit` and `yUnit` after the labels ("%" or nothing); none on
// the y axis where yHigh is 0, for a plot that labels it itself.
void drawAxes(QPainter &painter, const QRect &area, double xHigh, double yHigh, const QString &xUnit = QString(), const QString &yUnit = QString());

} // namespace sorvik
