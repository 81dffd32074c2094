#include "tools/report/pictures.h"

#include "tools/report/drawing.h"

#include "samples/features.h"


#include <algorithm>
#include <cmath>
#include <map>

namespace sorvik {

namespace {

int textWidth(const QFontMetrics &metrics, const QStringList &texts)
{
    int width = 0;
    for (const QString &text : texts)
        width = std::max(width, metrics.horizontalAdvance(text));
    return width;
}

} // namespace

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
    // The two may differ in size where both give the model's features.
    QImage image = whiteCanvas(gap + test.width() + gap + (nearest.isNull() ? 0 : nearest.width() + gap), gap + std::max(test.height(), nearest.height()) + gap);
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
