#include "tools/report/pictures.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace sorvik {

namespace {

constexpr int margin = 8;

QImage canvas(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

int textWidth(const QFontMetrics &metrics, const QStringList &texts)
{
    int width = 0;
    for (const QString &text : texts)
        width = std::max(width, metrics.horizontalAdvance(text));
    return width;
}

} // namespace

QImage confusionPicture(const Figures &figures)
{
    const int n = figures.classes.size();
    QFont font;
    font.setPixelSize(12);
    const QFontMetrics metrics(font);
    const int cell = std::max(28, metrics.horizontalAdvance(QString::number(figures.images)) + 8);
    const int labels = textWidth(metrics, figures.classes) + margin;
    const int left = margin + metrics.height() + labels, top = margin + metrics.height() + labels;
    const int span = std::max(n * cell, metrics.horizontalAdvance(QStringLiteral("predicted class")));  // room for the captions
    QImage image = canvas(left + span + margin, top + span + margin);
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
    for (int a = 0; a < n; ++a) {
        const auto &counts = figures.confusion[std::size_t(a)];
        const int total = std::max(1, std::accumulate(counts.begin(), counts.end(), 0));
        for (int p = 0; p < n; ++p) {
            // The colour is the count's share of its row: the rows of small classes read as well as the large.
            const double share = double(counts[std::size_t(p)]) / total;
            const QColor colour = QColor::fromRgbF(1 - 0.9 * share, 1 - 0.7 * share, 1 - 0.35 * share);
            const QRect box(left + p * cell, top + a * cell, cell, cell);
            painter.fillRect(box, colour);
            painter.setPen(QColor(220, 220, 220));
            painter.drawRect(box.adjusted(0, 0, -1, -1));
            if (counts[std::size_t(p)] > 0) {
                painter.setPen(share > 0.5 ? Qt::white : Qt::black);
                painter.drawText(box, Qt::AlignCenter, QString::number(counts[std::size_t(p)]));
            }
        }
    }
    return image;
}

QImage recallPicture(const Figures &figures)
{
    QFont font;
    font.setPixelSize(12);
    const QFontMetrics metrics(font);
    const int row = metrics.height() + 6, bar = 300;
    const int labels = textWidth(metrics, figures.classes) + margin;
    const int valueWidth = metrics.horizontalAdvance(QStringLiteral("100.0 %")) + margin;
    QImage image = canvas(margin + labels + bar + valueWidth + margin, margin + row * (figures.classes.size() + 1) + margin);
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

QImage componentsPicture(const Matrix &components, int gridWidth, int gridHeight, int count)
{
    count = std::min(count, components.columns);
    if (count <= 0 || gridWidth * gridHeight != components.rows)
        return QImage();
    const int scale = std::max(2, 96 / std::max(gridWidth, gridHeight));
    const int columns = std::min(count, 8), rows = (count + columns - 1) / columns;
    const int tileWidth = gridWidth * scale, tileHeight = gridHeight * scale;
    QImage image = canvas(margin + columns * (tileWidth + margin), margin + rows * (tileHeight + margin));
    for (int t = 0; t < count; ++t) {
        // Each component on its own scale: its largest magnitude is full white or black.
        float largest = 0;
        for (int f = 0; f < components.rows; ++f)
            largest = std::max(largest, std::fabs(components(f, t)));
        const int left = margin + t % columns * (tileWidth + margin), top = margin + t / columns * (tileHeight + margin);
        for (int y = 0; y < tileHeight; ++y) {
            QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(top + y)) + left;
            for (int x = 0; x < tileWidth; ++x) {
                const float value = components((y / scale) * gridWidth + x / scale, t);
                const int grey = largest > 0 ? int(std::lround(127.5 + 127.5 * value / largest)) : 128;
                line[x] = qRgb(grey, grey, grey);
            }
        }
    }
    return image;
}

QImage pairPicture(const QImage &test, const QImage &nearest)
{
    const int side = std::max(test.width(), test.height());
    const int scale = std::max(1, 112 / std::max(1, side));
    const QSize shown = test.size() * scale;
    QImage image = canvas(margin + (shown.width() + margin) * (nearest.isNull() ? 1 : 2), margin + shown.height() + margin);
    QPainter painter(&image);
    painter.drawImage(QRect(QPoint(margin, margin), shown), test);
    if (!nearest.isNull())
        painter.drawImage(QRect(QPoint(2 * margin + shown.width(), margin), nearest.size() * scale), nearest);
    return image;
}

} // namespace sorvik
