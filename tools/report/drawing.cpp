#include "tools/report/drawing.h"

#include <QFontMetrics>

namespace sorvik {

QFont labelFont()
{
    QFont font;
    font.setPixelSize(12);
    return font;
}

QImage whiteCanvas(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

Plot plotCanvas(const QString &title, const QString &xName, const QString &yName, int width, int height)
{
    const QFont font = labelFont();
    const QFontMetrics metrics(font);
    const int left = margin + metrics.height() + 48, top = margin + metrics.height() + 4;
    Plot plot{whiteCanvas(left + width + margin, top + height + 2 * metrics.height() + 2 * margin), QRect(left, top, width, height)};
    QPainter painter(&plot.image);
    painter.setFont(font);
    painter.drawText(QRect(left, margin, width, metrics.height()), Qt::AlignLeft, title);
    painter.drawText(QRect(left, top + height + metrics.height() + 4, width, metrics.height()), Qt::AlignHCenter, xName);
    painter.translate(margin, top + height);
    painter.rotate(-90);
    painter.drawText(QRect(0, 0, height, metrics.height()), Qt::AlignHCenter, yName);
    painter.resetTransform();
    painter.setPen(QColor(160, 160, 160));
    painter.drawRect(plot.area.adjusted(0, 0, -1, -1));
    return plot;
}

void axisText(QPainter &painter, const QRect &box, Qt::Alignment alignment, const QString &text)
{
    painter.setPen(Qt::black);
    painter.setFont(labelFont());
    painter.drawText(box, alignment, text);
}

QColor classColour(int index)
{
    static const QRgb palette[] = {0x1f77b4, 0xff7f0e, 0x2ca02c, 0xd62728, 0x9467bd, 0x8c564b, 0xe377c2, 0x7f7f7f, 0xbcbd22, 0x17becf};
    return index < 10 ? QColor(palette[index]) : QColor::fromHsv(int(index * 137.508) % 360, 200, 180);
}

} // namespace sorvik
