#include "tools/report/drawing.h"

#include <QFontMetrics>
#include <QPolygonF>

#include <cmath>

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
    const int left = margin + metrics.height() + 58, top = margin + metrics.height() + 4;
    Plot plot{whiteCanvas(left + width + margin + 28, top + height + 2 * metrics.height() + 2 * margin + 4), QRect(left, top, width, height)};
    QPainter painter(&plot.image);
    painter.setFont(font);
    painter.drawText(QRect(left, margin, width, metrics.height()), Qt::AlignLeft, title);
    painter.drawText(QRect(left, top + height + metrics.height() + 8, width, metrics.height()), Qt::AlignHCenter, xName);
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

void yTickText(QPainter &painter, const QRect &area, int at, const QString &text)
{
    axisText(painter, QRect(area.left() - 58, at - 7, 50, 14), Qt::AlignRight | Qt::AlignVCenter, text);
}

void xTickText(QPainter &painter, const QRect &area, int at, const QString &text)
{
    axisText(painter, QRect(at - 40, area.bottom() + 5, 80, 14), Qt::AlignHCenter | Qt::AlignTop, text);
}

QColor classColour(int index)
{
    static const QRgb palette[] = {0x1f77b4, 0xff7f0e, 0x2ca02c, 0xd62728, 0x9467bd, 0x8c564b,
                                   0xe377c2, 0x7f7f7f, 0xbcbd22, 0x17becf, 0x003f5c, 0x9c6b00};
    return QColor(palette[index % 12]);
}

void drawMarker(QPainter &painter, QPointF centre, int index)
{
    const QColor colour = classColour(index);
    const double r = 2.5;
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    switch (index / 12 % 5) {
    case 0: painter.drawRect(QRectF(centre.x() - r, centre.y() - r, 2 * r, 2 * r)); break;
    case 1: painter.drawEllipse(centre, r, r); break;
    case 2: painter.drawPolygon(QPolygonF({centre + QPointF(0, -r - 1), centre + QPointF(r + 1, r), centre + QPointF(-r - 1, r)})); break;
    case 3: painter.drawPolygon(QPolygonF({centre + QPointF(0, -r - 1), centre + QPointF(r + 1, 0), centre + QPointF(0, r + 1), centre + QPointF(-r - 1, 0)})); break;
    default:
        painter.setPen(QPen(colour, 1.5));
        painter.drawLine(centre + QPointF(-r, -r), centre + QPointF(r, r));
        painter.drawLine(centre + QPointF(-r, r), centre + QPointF(r, -r));
    }
}

std::vector<double> niceTicks(double high, int count)
{
    if (!(high > 0) || !std::isfinite(high))
        return {0};
    const double rough = high / count, power = std::pow(10.0, std::floor(std::log10(rough)));
    const double step = (rough / power < 1.5 ? 1 : rough / power < 3.5 ? 2 : rough / power < 7.5 ? 5 : 10) * power;
    std::vector<double> ticks;
    for (int i = 0; i * step <= high * (1 + 1e-9) && i <= 4 * count; ++i)
        ticks.push_back(i * step);
    return ticks;
}

QString tickLabel(double value, double step)
{
    if (step >= 1) {
        QString text = QString::number(qint64(std::llround(value)));
        for (int at = text.size() - 3; at > (text.startsWith(QLatin1Char('-')) ? 1 : 0); at -= 3)
            text.insert(at, QChar(0x2009));  // a thin space between thousands
        return text;
    }
    return QString::number(value, 'f', std::max(0, int(std::ceil(-std::log10(step) - 1e-9))));
}

void drawAxes(QPainter &painter, const QRect &area, double xHigh, double yHigh, const QString &xUnit, const QString &yUnit)
{
    const std::vector<double> xs = niceTicks(xHigh, 5), ys = yHigh > 0 ? niceTicks(yHigh, 4) : std::vector<double>();
    const double xStep = xs.size() > 1 ? xs[1] : 1, yStep = ys.size() > 1 ? ys[1] : 1;
    for (const double y : ys) {
        const int at = area.bottom() - int(std::lround(area.height() * (yHigh > 0 ? y / yHigh : 0)));
        painter.setPen(QColor(230, 230, 230));
        painter.drawLine(area.left(), at, area.right(), at);
        yTickText(painter, area, at, tickLabel(y, yStep) + yUnit);
    }
    for (const double x : xs) {
        const int at = area.left() + int(std::lround(area.width() * (xHigh > 0 ? x / xHigh : 0)));
        painter.setPen(QColor(160, 160, 160));
        painter.drawLine(at, area.bottom(), at, area.bottom() + 3);
        xTickText(painter, area, at, tickLabel(x, xStep) + xUnit);
    }
}

} // namespace sorvik
