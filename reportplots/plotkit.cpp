#include "plotkit.h"

#include <QBuffer>
#include <QImageWriter>

namespace Plot {

QImage canvas()
{
    return canvas(plotWidth, plotHeight);
}

QImage canvas(int width, int height)
{
    QImage image(width * plotScale, height * plotScale, QImage::Format_ARGB32);
    image.setDevicePixelRatio(plotScale);
    image.fill(Qt::white);
    return image;
}

QFont plotFont(int pixels, bool bold)
{
    QFont font;
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

void begin(QPainter &p)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setFont(plotFont(12));
}

void drawTitle(QPainter &p, const QString &title, double width)
{
    p.save();
    p.setPen(ink);
    p.setFont(plotFont(15, true));
    p.drawText(QRectF(16, 6, width - 32, 24), Qt::AlignLeft | Qt::AlignVCenter, title);
    p.restore();
}

// 1, 2 or 5 times a power of ten, so that about `count` steps span `range`.
double niceStep(double range, int count)
{
    if (!(range > 0) || !std::isfinite(range))
        return 1;
    const double raw = range / std::max(1, count);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double f = raw / power;
    return (f <= 1 ? 1 : f <= 2 ? 2 : f <= 5 ? 5 : 10) * power;
}

int decimalsFor(double step)
{
    return step >= 1 ? 0 : std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0, 6);
}

QString tickText(double value, double step)
{
    if (std::fabs(value) < step * 1e-6)
        value = 0;
    return QString::number(value, 'f', decimalsFor(step));
}

// The multiples of `step` from `lo` to `hi`; a range too narrow for its
// magnitude (a sensor can report anything) gives only a few.
QVector<double> ticks(double lo, double hi, double step)
{
    QVector<double> at;
    const double first = std::ceil(lo / step - 1e-9);
    for (int k = 0; k < 100; ++k) {
        const double value = (first + k) * step;
        if (value > hi + step * 1e-9)
            break;
        at.append(value);
    }
    return at;
}

// A range that can be divided by: finite, low below high.
void makeUsable(double &lo, double &hi)
{
    if (!std::isfinite(lo) || !std::isfinite(hi)) {
        lo = 0;
        hi = 1;
    }
    if (hi - lo < std::max(1e-9, std::fabs(lo) * 1e-6)) {
        const double pad = std::max(1.0, std::fabs(lo) * 0.05);
        lo -= pad;
        hi += pad;
    }
}

void drawNoData(QPainter &p, const QRectF &area, const QString &text)
{
    p.save();
    p.setPen(softInk);
    p.setFont(plotFont(16));
    p.drawText(area, Qt::AlignCenter, text);
    p.restore();
}

// σ low to high: dark violet through teal and green to lime, every step
// visible on white.
QColor sigmaColour(double share)
{
    static const QColor stops[] = {QColor(0x44, 0x01, 0x54), QColor(0x3b, 0x52, 0x8b),
                                   QColor(0x21, 0x91, 0x8c), QColor(0x4f, 0xb8, 0x5c),
                                   QColor(0xb0, 0xd2, 0x1a)};
    constexpr int last = 4;
    const double at = std::clamp(std::isfinite(share) ? share : 0.0, 0.0, 1.0) * last;
    const int k = std::min(last - 1, static_cast<int>(at));
    const double f = at - k;
    const QColor &a = stops[k], &b = stops[k + 1];
    return QColor::fromRgbF(a.redF() + f * (b.redF() - a.redF()),
                            a.greenF() + f * (b.greenF() - a.greenF()),
                            a.blueF() + f * (b.blueF() - a.blueF()));
}

QByteArray pngData(const QImage &image, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    writer.setQuality(quality);
    writer.write(image);
    return bytes;
}

} // namespace Plot
