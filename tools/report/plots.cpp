#include "tools/report/plots.h"

#include "tools/report/drawing.h"
#include "tools/report/figures.h"

#include <QFontMetrics>
#include <QPolygonF>

#include <map>


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

QImage varianceCurve(const std::vector<double> &shares, int features)
{
    const int k = int(shares.size());
    Plot plot = plotCanvas(QStringLiteral("variance held by the leading components"),
                           QStringLiteral("components (%1 kept of %2 features)").arg(k).arg(features), QStringLiteral("share of the variance kept"));
    QPainter painter(&plot.image);
    const QRect &a = plot.area;
    drawAxes(painter, a, k, 100, QString(), QStringLiteral(" %"));
    QPolygonF curve;
    double sum = 0;
    curve << QPointF(a.left(), a.bottom());
    std::vector<std::pair<int, double>> marks;  // where the curve first holds 90 and 99 %
    for (int t = 0; t < k; ++t) {
        const double before = sum;
        sum += shares[std::size_t(t)];
        for (const double mark : {0.9, 0.99})
            if (before < mark && sum >= mark)
                marks.emplace_back(t + 1, mark);
        curve << QPointF(a.left() + a.width() * double(t + 1) / k, a.bottom() - a.height() * std::min(1.0, sum));
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(40, 100, 180), 2));
    painter.drawPolyline(curve);
    for (const auto &[t, mark] : marks) {
        const QPointF at(a.left() + a.width() * double(t) / k, a.bottom() - a.height() * mark);
        painter.setPen(QPen(QColor(200, 50, 40), 1, Qt::DashLine));
        painter.drawLine(QPointF(at.x(), a.bottom()), at);
        // Left of its line, within the plot.
        axisText(painter, QRect(int(at.x()) - 154, int(at.y()) + (mark > 0.95 ? 2 : 10), 150, 14), Qt::AlignRight,
                 QStringLiteral("%1 % with %2").arg(mark * 100).arg(t));
    }
    return plot.image;
}

QImage projectionScatter(const Matrix &projections, const QStringList &labels, int most)
{
    // Up to twelve classes have a key; more are named at their centres, and their
    // markers tell apart the classes of one colour.
    const QStringList classes = distinctClasses(labels);
    const bool keyed = classes.size() <= 12;
    const int keyWidth = keyed ? 80 : 0;
    Plot plot = plotCanvas(QStringLiteral("training images by their first two projections"), QStringLiteral("projection 1"),
                           QStringLiteral("projection 2"), keyed ? plotWidth : 480, keyed ? plotHeight : 360);
    QImage image = whiteCanvas(plot.image.width() + keyWidth, plot.image.height());
    QPainter painter(&image);
    painter.drawImage(0, 0, plot.image);
    const QRect &a = plot.area;
    const int step = std::max(1, (projections.rows + most - 1) / std::max(1, most));
    // In double, where the span of two floats never overflows.
    double low[2] = {INFINITY, INFINITY}, high[2] = {-INFINITY, -INFINITY};
    for (int r = 0; r < projections.rows && projections.columns >= 2; r += step)
        for (int c = 0; c < 2; ++c)
            low[c] = std::min(low[c], double(projections(r, c))), high[c] = std::max(high[c], double(projections(r, c)));
    std::vector<QPointF> sums(std::size_t(classes.size()));
    std::vector<int> counts(std::size_t(classes.size()), 0);
    for (int r = 0; r < projections.rows && projections.columns >= 2; r += step) {
        const double x = (projections(r, 0) - low[0]) / std::max(1e-30, high[0] - low[0]), y = (projections(r, 1) - low[1]) / std::max(1e-30, high[1] - low[1]);
        const QPointF at(a.left() + 3 + x * (a.width() - 6), a.bottom() - 3 - y * (a.height() - 6));
        const int index = int(std::lower_bound(classes.begin(), classes.end(), labels.at(r)) - classes.begin());
        drawMarker(painter, at, index);
        sums[std::size_t(index)] += at;
        ++counts[std::size_t(index)];
    }
    painter.setRenderHint(QPainter::Antialiasing);  // the names and the key, not the thousands of points
    for (int i = 0; i < classes.size(); ++i) {
        if (keyed) {
            drawMarker(painter, QPointF(a.right() + 36, a.top() + 16 * i + 8), i);
            axisText(painter, QRect(a.right() + 46, a.top() + 16 * i, keyWidth - 20, 16), Qt::AlignLeft | Qt::AlignVCenter, classes.at(i));
        } else if (counts[std::size_t(i)] > 0) {
            const QPointF centre = sums[std::size_t(i)] / counts[std::size_t(i)];
            QFont bold = labelFont();
            bold.setBold(true);
            painter.setFont(bold);
            painter.setPen(Qt::white);
            for (const QPointF shift : {QPointF(-1, 0), QPointF(1, 0), QPointF(0, -1), QPointF(0, 1)})
                painter.drawText(QRectF(centre + shift - QPointF(20, 8), QSizeF(40, 16)), Qt::AlignCenter, classes.at(i));
            painter.setPen(classColour(i).darker(130));
            painter.drawText(QRectF(centre - QPointF(20, 8), QSizeF(40, 16)), Qt::AlignCenter, classes.at(i));
        }
    }
    return image;
}

int unmeasuredDistances(const std::vector<Answer> &answers)
{
    return int(std::count_if(answers.begin(), answers.end(), [](const Answer &a) { return !std::isfinite(a.distance); }));
}

QImage distanceHistogram(const std::vector<Answer> &answers)
{
    // Squared distances, as predictions.csv gives them; only finite ones have a
    // place on the axis (the page counts the others). Right and misread answers
    // each as shares of their own kind, so that both show on one axis.
    constexpr int bins = 40;
    double largest = 0;
    for (const Answer &a : answers)
        if (std::isfinite(a.distance))
            largest = std::max(largest, double(a.distance));
    const std::vector<double> ticks = niceTicks(largest, 5);
    const double top = std::max(largest, ticks.back());
    std::vector<int> counts[2] = {std::vector<int>(bins, 0), std::vector<int>(bins, 0)};
    int totals[2] = {0, 0};
    const bool labelled = std::any_of(answers.begin(), answers.end(), [](const Answer &a) { return a.hasClass; });
    for (const Answer &a : answers)
        if ((a.hasClass || !labelled) && std::isfinite(a.distance)) {
            const int kind = !labelled || a.label == a.predicted ? 0 : 1;
            ++counts[kind][std::size_t(std::min(bins - 1, int(top > 0 ? double(a.distance) / top * bins : 0)))];
            ++totals[kind];
        }
    double most = 1;
    for (int kind = 0; kind < 2; ++kind)
        for (const int c : counts[kind])
            most = std::max(most, totals[kind] > 0 ? 100.0 * c / totals[kind] : 0.0);
    Plot plot = plotCanvas(labelled ? QStringLiteral("nearest squared distances: read right (blue) and misread (red)")
                                    : QStringLiteral("nearest squared distances of the images"),
                           QStringLiteral("squared distance to the nearest training image"), QStringLiteral("share of its kind"), 480, plotHeight);
    QPainter painter(&plot.image);
    const QRect &a = plot.area;
    const std::vector<double> yTicks = niceTicks(most, 4);
    const double yTop = std::max(most, yTicks.back());
    drawAxes(painter, a, top, yTop, QString(), QStringLiteral(" %"));
    const double width = double(a.width()) / bins;
    for (int kind = 0; kind < 2; ++kind)
        for (int b = 0; b < bins; ++b) {
            const double share = totals[kind] > 0 ? 100.0 * counts[kind][std::size_t(b)] / totals[kind] : 0;
            const double height = share / yTop * (a.height() - 1);
            painter.fillRect(QRectF(a.left() + b * width + 1 + kind * (width - 2) / 2, a.bottom() - height, (width - 2) / 2, height),
                             kind == 0 ? QColor(40, 100, 180) : QColor(200, 50, 40));
        }
    return plot.image;
}

QRect markLabelPlace(QPointF at, int width, const std::vector<QRect> &taken, const QRect &area)
{
    const int x = int(at.x()), y = int(at.y());
    const QRect places[] = {QRect(x - 5 - width, y + 4, width, 14), QRect(x - 5 - width, y - 18, width, 14), QRect(x + 6, y + 4, width, 14),
                            QRect(x + 6, y - 18, width, 14)};
    for (const QRect &place : places)
        if (area.contains(place) && std::none_of(taken.begin(), taken.end(), [&](const QRect &t) { return t.intersects(place); }))
            return place;
    return places[0];
}

QImage rejectionPlot(const std::vector<RejectionRow> &curve, const std::vector<RejectionRow> &marked)
{
    Plot plot = plotCanvas(QStringLiteral("answers kept below a rejection distance: how many, and how many right"),
                           QStringLiteral("images answered"), QStringLiteral("answers right"), 480, plotHeight + 40);
    QPainter painter(&plot.image);
    const QRect &a = plot.area;
    // The accuracy axis starts below the lowest accuracy of the curve, in steps of ten.
    double lowest = 100;
    for (const RejectionRow &r : curve)
        lowest = std::min(lowest, 100 * r.accuracy);
    const double floor = std::max(0.0, std::floor((lowest - 1) / 5) * 5);
    const auto point = [&](const RejectionRow &r) {
        return QPointF(a.left() + a.width() * r.answered, a.bottom() - a.height() * (100 * r.accuracy - floor) / (100 - floor));
    };
    for (const double y : niceTicks(100 - floor, 4)) {
        const int at = a.bottom() - int(std::lround(a.height() * y / (100 - floor)));
        painter.setPen(QColor(230, 230, 230));
        painter.drawLine(a.left(), at, a.right(), at);
        yTickText(painter, a, at, tickLabel(floor + y, 1) + QStringLiteral(" %"));
    }
    for (const double x : niceTicks(100, 5))
        xTickText(painter, a, a.left() + int(a.width() * x / 100), tickLabel(x, 1) + QStringLiteral(" %"));
    QPolygonF line;
    for (const RejectionRow &r : curve)
        line << point(r);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(40, 100, 180), 2));
    painter.drawPolyline(line);
    std::vector<QRect> labels;
    for (const RejectionRow &r : marked) {
        const QPointF at = point(r);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(200, 50, 40));
        painter.drawEllipse(at, 3.5, 3.5);
        const QString text = QStringLiteral("at most %1").arg(tickLabel(double(r.squaredDistance), 1));
        labels.push_back(markLabelPlace(at, QFontMetrics(labelFont()).horizontalAdvance(text) + 2, labels, a));
        axisText(painter, labels.back(), Qt::AlignLeft, text);
    }
    return plot.image;
}

QImage gridPlot(const std::vector<Scored> &grid, const Scored &best)
{
    Plot plot = plotCanvas(QStringLiteral("cross-validated accuracy, the best of the neighbour counts"),
                           QStringLiteral("components"), QStringLiteral("mean accuracy"), 480, plotHeight + 40);
    QPainter painter(&plot.image);
    const QRect &a = plot.area;
    int most = 1;
    double lowest = 100;
    std::map<int, std::map<int, double>> lines;  // spacing: components: best accuracy
    for (const Scored &s : grid) {
        double &kept = lines[s.spacing][s.components];
        kept = std::max(kept, s.accuracy);
        most = std::max(most, s.components);
    }
    for (const auto &line : lines)
        for (const auto &point : line.second)
            lowest = std::min(lowest, point.second);
    const double floor = std::max(0.0, std::floor(lowest / 10) * 10);
    const auto at = [&](int components, double accuracy) {
        return QPointF(a.left() + a.width() * double(components) / most, a.bottom() - a.height() * (accuracy - floor) / std::max(1e-9, 100 - floor));
    };
    drawAxes(painter, a, most, 0);
    for (const double y : niceTicks(100 - floor, 4))
        yTickText(painter, a, a.bottom() - int(a.height() * y / (100 - floor)), tickLabel(floor + y, 1) + QStringLiteral(" %"));
    painter.setRenderHint(QPainter::Antialiasing);
    int index = 0;
    for (const auto &[spacing, points] : lines) {
        QPolygonF line;
        for (const auto &[components, accuracy] : points)
            line << at(components, accuracy);
        painter.setPen(QPen(classColour(index), 2));
        painter.drawPolyline(line);
        // The key at the foot of the plot, in the colours of the lines.
        painter.fillRect(QRect(a.right() - 90, a.bottom() - 18 * (int(lines.size()) - index), 12, 3), classColour(index));
        axisText(painter, QRect(a.right() - 74, a.bottom() - 18 * (int(lines.size()) - index) - 7, 70, 14), Qt::AlignLeft,
                 QStringLiteral("spacing %1").arg(spacing));
        ++index;
    }
    painter.setPen(QPen(QColor(200, 50, 40), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(at(best.components, best.accuracy), 6, 6);
    return plot.image;
}

} // namespace sorvik
