#include "tools/report/plots.h"

#include "tools/report/drawing.h"
#include "tools/report/figures.h"


#include <algorithm>
#include <cmath>

namespace sorvik {

namespace {

constexpr int plotWidth = 360, plotHeight = 200;

} // namespace

std::vector<double> varianceShares(const Matrix &projections)
{
    // Sums of the rows of every column at once, row by row as the matrix lies.
    const int n = projections.rows, k = projections.columns;
    std::vector<double> mean(std::size_t(k), 0.0), variance(std::size_t(k), 0.0);
    for (int r = 0; r < n; ++r)
        for (int j = 0; j < k; ++j)
            mean[std::size_t(j)] += projections(r, j);
    for (double &m : mean)
        m /= std::max(1, n);
    for (int r = 0; r < n; ++r)
        for (int j = 0; j < k; ++j) {
            const double d = projections(r, j) - mean[std::size_t(j)];
            variance[std::size_t(j)] += d * d;
        }
    double total = 0;
    for (const double v : variance)
        total += v;
    for (double &v : variance)
        v = total > 0 && n > 1 ? v / total : 0.0;
    return variance;
}

QImage varianceCurve(const std::vector<double> &shares)
{
    Plot plot = plotCanvas(QStringLiteral("variance held by the leading components"), QStringLiteral("components"), QStringLiteral("share"));
    QPainter painter(&plot.image);
    const QRect &a = plot.area;
    const int k = int(shares.size());
    QPolygonF curve;
    double sum = 0;
    curve << QPointF(a.left(), a.bottom());
    for (int t = 0; t < k; ++t) {
        sum += shares[std::size_t(t)];
        curve << QPointF(a.left() + a.width() * double(t + 1) / k, a.bottom() - a.height() * std::min(1.0, sum));
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(40, 100, 180), 2));
    painter.drawPolyline(curve);
    axisText(painter, QRect(a.left() - 48, a.top() - 6, 44, 14), Qt::AlignRight, QStringLiteral("100 %"));
    axisText(painter, QRect(a.left() - 48, a.bottom() - 8, 44, 14), Qt::AlignRight, QStringLiteral("0"));
    axisText(painter, QRect(a.right() - 40, a.bottom() + 2, 40, 14), Qt::AlignRight, QString::number(k));
    return plot.image;
}

QImage projectionScatter(const Matrix &projections, const QStringList &labels, int most)
{
    const QStringList classes = distinctClasses(labels);
    const int keyWidth = 80;
    Plot plot = plotCanvas(QStringLiteral("training images by their first two projections"), QStringLiteral("projection 1"),
                           QStringLiteral("projection 2"), plotWidth, std::max(plotHeight, 16 * int(std::min<qsizetype>(classes.size(), 24))));
    QImage image(plot.image.width() + keyWidth, plot.image.height(), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.drawImage(0, 0, plot.image);
    const QRect &a = plot.area;
    const int step = std::max(1, (projections.rows + most - 1) / std::max(1, most));
    // In double, where the span of two floats never overflows.
    double low[2] = {INFINITY, INFINITY}, high[2] = {-INFINITY, -INFINITY};
    for (int r = 0; r < projections.rows && projections.columns >= 2; r += step)
        for (int c = 0; c < 2; ++c)
            low[c] = std::min(low[c], double(projections(r, c))), high[c] = std::max(high[c], double(projections(r, c)));
    for (int r = 0; r < projections.rows && projections.columns >= 2; r += step) {
        const double x = (projections(r, 0) - low[0]) / std::max(1e-30, high[0] - low[0]), y = (projections(r, 1) - low[1]) / std::max(1e-30, high[1] - low[1]);
        painter.fillRect(QRectF(a.left() + 1 + x * (a.width() - 4), a.bottom() - 2 - y * (a.height() - 4), 2, 2),
                         classColour(int(std::lower_bound(classes.begin(), classes.end(), labels.at(r)) - classes.begin())));
    }
    for (int i = 0; i < std::min<qsizetype>(classes.size(), 24); ++i) {
        painter.fillRect(QRect(a.right() + 12, a.top() + 16 * i + 3, 10, 10), classColour(i));
        axisText(painter, QRect(a.right() + 26, a.top() + 16 * i, keyWidth - 20, 16), Qt::AlignLeft | Qt::AlignVCenter,
                 i == 23 && classes.size() > 24 ? QStringLiteral("...") : classes.at(i));
    }
    return image;
}

int unmeasuredDistances(const std::vector<Answer> &answers)
{
    return int(std::count_if(answers.begin(), answers.end(), [](const Answer &a) { return !std::isfinite(a.distance); }));
}

QImage distanceHistogram(const std::vector<Answer> &answers)
{
    // Only finite distances have a place on the axis; the page counts the others.
    constexpr int bins = 40;
    double largest = 0;
    for (const Answer &a : answers)
        if (std::isfinite(a.distance))
            largest = std::max(largest, std::sqrt(double(a.distance)));
    int counts[2][bins] = {};
    for (const Answer &a : answers)
        if (a.hasClass && std::isfinite(a.distance)) {
            const double share = largest > 0 ? std::sqrt(double(a.distance)) / largest : 0.0;  // 0 to 1
            ++counts[a.label == a.predicted ? 0 : 1][std::min(bins - 1, int(share * bins))];
        }
    std::vector<QImage> panels;
    for (int panel = 0; panel < 2; ++panel) {
        Plot plot = plotCanvas(panel == 0 ? QStringLiteral("nearest distance of the images read right") : QStringLiteral("nearest distance of the misread images"),
                               QStringLiteral("distance to the nearest training image"), QStringLiteral("images"), plotWidth, plotHeight / 2);
        QPainter painter(&plot.image);
        const int most = std::max(1, *std::max_element(counts[panel], counts[panel] + bins));
        const QRect &a = plot.area;
        for (int b = 0; b < bins; ++b) {
            const int height = int(std::lround(double(counts[panel][b]) / most * (a.height() - 2)));
            painter.fillRect(QRect(a.left() + b * a.width() / bins + 1, a.bottom() - height, a.width() / bins - 1, height),
                             panel == 0 ? QColor(40, 100, 180) : QColor(200, 50, 40));
        }
        axisText(painter, QRect(a.left() - 48, a.top() - 6, 44, 14), Qt::AlignRight, QString::number(most));
        axisText(painter, QRect(a.left(), a.bottom() + 2, 60, 14), Qt::AlignLeft, QStringLiteral("0"));
        axisText(painter, QRect(a.right() - 60, a.bottom() + 2, 60, 14), Qt::AlignRight, QString::number(largest, 'g', 3));
        panels.push_back(plot.image);
    }
    QImage image(panels[0].width(), panels[0].height() + panels[1].height(), QImage::Format_RGB32);
    QPainter painter(&image);
    painter.drawImage(0, 0, panels[0]);
    painter.drawImage(0, panels[0].height(), panels[1]);
    return image;
}

} // namespace sorvik
