#include "tools/report/pictures.h"

#include "tools/report/drawing.h"

#include "samples/features.h"


#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>

namespace sorvik {

namespace {

int textWidth(const QFontMetrics &metrics, const QStringList &texts)
{
    int width = 0;
    for (const QString &text : texts)
        width = std::max(width, metrics.horizontalAdvance(text));
    return width;
}

QColor rightColour(double share)
{
    return QColor::fromRgbF(1 - 0.9 * share, 1 - 0.7 * share, 1 - 0.35 * share);
}

QColor errorColour(double share)
{
    return QColor::fromRgbF(1 - 0.2 * share, 1 - 0.85 * share, 1 - 0.9 * share);
}

const int keyBar = 100;
const QString rightKey = QStringLiteral("read right: 0 to 100 % of the row");

int keyWidth(const QFontMetrics &metrics)
{
    return keyBar + 6 + metrics.horizontalAdvance(rightKey);
}

int keyHeight(const QFontMetrics &metrics)
{
    return metrics.height() + 12;
}

// The colour key below the matrix: a scale for each hue with its ends named.
void drawKey(QPainter &painter, const QFontMetrics &metrics, const QRect &area, int largestError)
{
    const int bar = keyBar, textLeft = area.left() + bar + 6;
    for (int row = 0; row < 2; ++row) {
        const int y = area.top() + row * keyHeight(metrics);
        for (int x = 0; x < bar; ++x)
            painter.fillRect(QRect(area.left() + x, y + 2, 1, metrics.height()), row == 0 ? rightColour(x / 99.0) : errorColour(x / 99.0));
        painter.setPen(Qt::black);
        painter.drawText(QRect(textLeft, y, area.width() - bar - 6, metrics.height() + 4), Qt::AlignLeft | Qt::AlignVCenter,
                         row == 0 ? rightKey
                                  : QStringLiteral("misread: 0 to %1 images").arg(largestError));
    }
}

// Component t taken back to pixels through the basic functions of the F-transform:
// each pixel the sum of the component's values weighted as the transform weighs
// that pixel, drawn on the component's own scale (zero grey, light positive, dark
// negative, its largest magnitude full white or black).
QImage componentImage(const Matrix &components, int t, const Raster &grid, const Transform &transform)
{
    const int h = transform.spacing;
    const std::vector<float> a = basicFunctionTable(h);
    const auto weight = [&](int distance) { return std::abs(distance) < int(a.size()) ? double(a[std::size_t(std::abs(distance))]) : 0.0; };
    std::vector<double> pixels(std::size_t(grid.sourceWidth) * std::size_t(grid.sourceHeight), 0.0);
    double largest = 0;
    for (int y = 0; y < grid.sourceHeight; ++y)
        for (int x = 0; x < grid.sourceWidth; ++x) {
            double sum = 0;
            for (int j = 0; j < grid.height; ++j) {
                const double wy = weight(y - (h + transform.offsetY + j * h));
                for (int i = 0; wy != 0 && i < grid.width; ++i)
                    sum += wy * weight(x - (h + transform.offsetX + i * h)) * components(j * grid.width + i, t);
            }
            pixels[std::size_t(y) * std::size_t(grid.sourceWidth) + std::size_t(x)] = sum;
            largest = std::max(largest, std::fabs(sum));
        }
    QImage image(grid.sourceWidth, grid.sourceHeight, QImage::Format_RGB32);
    for (int y = 0; y < grid.sourceHeight; ++y)
        for (int x = 0; x < grid.sourceWidth; ++x) {
            const double v = pixels[std::size_t(y) * std::size_t(grid.sourceWidth) + std::size_t(x)];
            const int grey = largest > 0 ? int(std::lround(127.5 + 127.5 * v / largest)) : 128;
            image.setPixel(x, y, qRgb(grey, grey, grey));
        }
    return image;
}

} // namespace

QImage confusionPicture(const Figures &figures)
{
    const int n = figures.classes.size();
    const QFont font = labelFont();
    const QFontMetrics metrics(font);
    const int cell = std::max(28, metrics.horizontalAdvance(QString::number(figures.images)) + 8);
    const int labels = textWidth(metrics, figures.classes) + margin;
    const int left = margin + metrics.height() + labels, top = margin + metrics.height() + labels;
    const int span = std::max(n * cell, metrics.horizontalAdvance(QStringLiteral("predicted class")));  // room for the captions
    QImage image = whiteCanvas(left + std::max(span, keyWidth(metrics)) + margin, top + span + 2 * margin + 2 * keyHeight(metrics));
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QRect(left, margin, span, metrics.height()), Qt::AlignLeft, QStringLiteral("predicted class"));
    painter.save();
    painter.translate(margin, top + span);
    painter.rotate(-90);
    painter.drawText(QRect(0, 0, span, metrics.height()), Qt::AlignRight, QStringLiteral("actual class"));
    painter.restore();
    for (int i = 0; i < n; ++i) {
        painter.drawText(QRect(left - labels, top + i * cell, labels - 4, cell), Qt::AlignRight | Qt::AlignVCenter, figures.classes.at(i));
        painter.save();
        painter.translate(left + i * cell, top - 4);
        painter.rotate(-90);
        painter.drawText(QRect(0, 0, labels - 4, cell), Qt::AlignLeft | Qt::AlignVCenter, figures.classes.at(i));
        painter.restore();
    }
    int largestError = 0;
    for (int a = 0; a < n; ++a)
        for (int p = 0; p < n; ++p)
            largestError = std::max(largestError, a == p ? 0 : figures.confusion[std::size_t(a)][std::size_t(p)]);
    for (int a = 0; a < n; ++a) {
        const auto &counts = figures.confusion[std::size_t(a)];
        const int total = std::max(1, std::accumulate(counts.begin(), counts.end(), 0));
        for (int p = 0; p < n; ++p) {
            // Right reads in blue by their share of the row; misreads in red by their
            // count against the largest misread count, so that errors stand out
            // however large the diagonal is.
            const int count = counts[std::size_t(p)];
            const double share = a == p ? double(count) / total : double(count) / std::max(1, largestError);
            const QRect box(left + p * cell, top + a * cell, cell, cell);
            painter.fillRect(box, a == p ? rightColour(share) : errorColour(share));
            painter.setPen(QColor(220, 220, 220));
            painter.drawRect(box.adjusted(0, 0, -1, -1));
            if (count > 0) {
                painter.setPen(share > 0.5 ? Qt::white : Qt::black);
                painter.drawText(box, Qt::AlignCenter, QString::number(count));
            }
        }
    }
    drawKey(painter, metrics, QRect(left, top + span + margin, std::max(span, keyWidth(metrics)), 2 * keyHeight(metrics)), largestError);
    return image;
}

QImage recallPicture(const Figures &figures)
{
    const QFont font = labelFont();
    const QFontMetrics metrics(font);
    const int row = metrics.height() + 6, bar = 300;
    const int labels = textWidth(metrics, figures.classes) + margin;
    const int valueWidth = metrics.horizontalAdvance(QStringLiteral("100.0 %")) + margin;
    QImage image = whiteCanvas(margin + labels + bar + valueWidth + margin, margin + row * (figures.classes.size() + 1) + margin);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QRect(margin + labels, margin, bar, row), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("recall per class"));
    for (int i = 0; i < int(figures.perClass.size()); ++i) {
        const ClassFigures &c = figures.perClass[std::size_t(i)];
        const int y = margin + row * (i + 1);
        painter.drawText(QRect(margin, y, labels - 4, row), Qt::AlignRight | Qt::AlignVCenter, c.label);
        painter.fillRect(QRect(margin + labels, y + 3, int(std::lround(c.recall * bar)), row - 6), QColor(40, 100, 180));
        painter.drawText(QRect(margin + labels + bar + 4, y, valueWidth, row), Qt::AlignLeft | Qt::AlignVCenter,
                         c.support == 0 ? QStringLiteral("-") : QString::number(c.recall * 100, 'f', 1) + QStringLiteral(" %"));
    }
    return image;
}

QImage componentsPicture(const Matrix &components, const Raster &grid, const std::vector<double> &shares, int count, const Transform &transform)
{
    count = std::min({count, components.columns, int(shares.size())});
    if (count <= 0 || grid.width * grid.height != components.rows)
        return QImage();
    const QFont font = labelFont();
    const QFontMetrics metrics(font);
    const int scale = std::max(1, 96 / std::max({grid.sourceWidth, grid.sourceHeight, 1}));
    const int tileWidth = std::max(grid.sourceWidth * scale, metrics.horizontalAdvance(QStringLiteral("#16 100.0 %"))), tileHeight = grid.sourceHeight * scale;
    const int columns = std::min(count, 8), rows = (count + columns - 1) / columns, title = metrics.height() + 2;
    QImage image = whiteCanvas(margin + columns * (tileWidth + margin), margin + rows * (title + tileHeight + margin));
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    for (int t = 0; t < count; ++t) {
        const int left = margin + t % columns * (tileWidth + margin), top = margin + t / columns * (title + tileHeight + margin);
        painter.drawText(QRect(left, top, tileWidth, title), Qt::AlignLeft | Qt::AlignTop,
                         QStringLiteral("#%1 %2 %").arg(t + 1).arg(shares[std::size_t(t)] * 100, 0, 'f', 1));
        painter.drawImage(QRect(left, top + title, grid.sourceWidth * scale, tileHeight), componentImage(components, t, grid, transform));
    }
    return image;
}

QImage pairPicture(const QImage &test, const QImage &nearest)
{
    // At the images' own size: the page enlarges it, pixel by pixel, and a small
    // file is quick to write. Grey images stay grey, a quarter of the bytes.
    constexpr int gap = 2;
    QImage image = whiteCanvas(gap + (test.width() + gap) * (nearest.isNull() ? 1 : 2), gap + std::max(test.height(), nearest.height()) + gap);
    QPainter painter(&image);
    painter.drawImage(gap, gap, test);
    if (!nearest.isNull())
        painter.drawImage(2 * gap + test.width(), gap, nearest);
    painter.end();
    return test.isGrayscale() && (nearest.isNull() || nearest.isGrayscale()) ? image.convertToFormat(QImage::Format_Grayscale8) : image;
}

QImage thumbnailSheet(const QStringList &labels, const std::vector<QImage> &images)
{
    std::map<QString, std::vector<const QImage *>> rows;
    int side = 1;
    for (int i = 0; i < labels.size(); ++i) {
        rows[labels.at(i)].push_back(&images[std::size_t(i)]);
        side = std::max({side, images[std::size_t(i)].width(), images[std::size_t(i)].height()});
    }
    const int scale = std::max(1, 48 / side), cell = side * scale, labelWidth = 60;
    std::size_t most = 1;
    for (const auto &row : rows)
        most = std::max(most, row.second.size());
    QImage sheet(labelWidth + int(most) * (cell + margin) + margin, margin + int(rows.size()) * (cell + margin), QImage::Format_RGB32);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    int y = margin;
    for (const auto &[label, shown] : rows) {
        axisText(painter, QRect(margin, y, labelWidth - 2 * margin, cell), Qt::AlignRight | Qt::AlignVCenter, label);
        for (std::size_t i = 0; i < shown.size(); ++i)
            painter.drawImage(QRect(labelWidth + int(i) * (cell + margin), y, shown[i]->width() * scale, shown[i]->height() * scale), *shown[i]);
        y += cell + margin;
    }
    return sheet;
}

} // namespace sorvik
