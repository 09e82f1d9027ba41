#ifndef VANTOSCOPE_REPORTPLOTS_PLOTKIT_H
#define VANTOSCOPE_REPORTPLOTS_PLOTKIT_H

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRectF>
#include <QString>
#include <QVector>
#include <algorithm>
#include <cmath>
#include <functional>

// The small kit the report's plots are drawn with: a white canvas, fonts,
// nice ticks, linear axes, a legend and the σ colour map.
namespace Plot {

// Every plot's size in the page, in CSS pixels. The images are drawn at
// plotScale times that, so they stay sharp on dense screens and in print.
constexpr int plotWidth = 720;
constexpr int plotHeight = 480;
constexpr int plotScale = 2;

inline const QColor ink(0x22, 0x22, 0x22);
inline const QColor softInk(0x66, 0x66, 0x66);
inline const QColor gridLine(0xe2, 0xe2, 0xe2);
inline const QColor frameLine(0xb0, 0xb0, 0xb0);
inline const QColor outOfView(0xf1, 0xf1, 0xf1);
inline const QColor hollowGrey(0x9a, 0x9a, 0x9a);
inline const QColor seriesBlue(0x1f, 0x5f, 0xa8);
inline const QColor bandBlue(0xc6, 0xd9, 0xef);
inline const QColor nominalGreen(0x2e, 0x8b, 0x3a);
inline const QColor errorRed(0xc0, 0x39, 0x2b);

// A white canvas of the plot size (or of `width` x `height` CSS pixels) at
// plotScale pixels per CSS pixel.
QImage canvas();
QImage canvas(int width, int height);
QFont plotFont(int pixels, bool bold = false);
// Antialiasing and the plot font.
void begin(QPainter &p);
void drawTitle(QPainter &p, const QString &title, double width = plotWidth);
// A round step (1, 2 or 5 times a power of ten) giving about `count` ticks over `range`.
double niceStep(double range, int count);
int decimalsFor(double step);
QString tickText(double value, double step);
QVector<double> ticks(double lo, double hi, double step);
// Widens an empty or inverted range so that it can be drawn.
void makeUsable(double &lo, double &hi);
void drawNoData(QPainter &p, const QRectF &area, const QString &text);
// σ as a share of the scale's top, 0 to 1, low to high.
QColor sigmaColour(double share);
// The image as PNG bytes; `quality` as QImageWriter takes it (higher is
// faster and larger; -1 the default compression).
QByteArray pngData(const QImage &image, int quality = -1);

// A plot area with linear axes, ticks, grid and labels.
class Axes
{
public:
    Axes(double x0, double x1, double y0, double y1) : x0(x0), x1(x1), y0(y0), y1(y1)
    {
        makeUsable(this->x0, this->x1);
        makeUsable(this->y0, this->y1);
    }

    static constexpr QRectF frame() { return {74, 40, plotWidth - 74 - 24, plotHeight - 40 - 58}; }
    QRectF area = frame();

    double mapX(double x) const { return area.left() + (x - x0) / (x1 - x0) * area.width(); }
    double mapY(double y) const { return area.bottom() - (y - y0) / (y1 - y0) * area.height(); }
    QPointF map(double x, double y) const { return {mapX(x), mapY(y)}; }
    double xMin() const { return x0; }
    double xMax() const { return x1; }
    double yMin() const { return y0; }
    double yMax() const { return y1; }

    // Grid, ticks and labels; `xStep` 0 picks a step.
    void draw(QPainter &p, const QString &xLabel, const QString &yLabel, double xStep = 0,
              double yStep = 0) const
    {
        if (xStep <= 0)
            xStep = niceStep(x1 - x0, 8);
        if (yStep <= 0)
            yStep = niceStep(y1 - y0, 6);
        p.save();
        p.setFont(plotFont(11));
        const QFontMetricsF metrics(p.font());
        for (double x : ticks(x0, x1, xStep)) {
            const double px = mapX(x);
            p.setPen(QPen(gridLine, 1));
            p.drawLine(QPointF(px, area.top()), QPointF(px, area.bottom()));
            p.setPen(QPen(frameLine, 1));
            p.drawLine(QPointF(px, area.bottom()), QPointF(px, area.bottom() + 4));
            p.setPen(softInk);
            p.drawText(QRectF(px - 40, area.bottom() + 5, 80, metrics.height()), Qt::AlignHCenter,
                       tickText(x, xStep));
        }
        for (double y : ticks(y0, y1, yStep)) {
            const double py = mapY(y);
            p.setPen(QPen(gridLine, 1));
            p.drawLine(QPointF(area.left(), py), QPointF(area.right(), py));
            p.setPen(QPen(frameLine, 1));
            p.drawLine(QPointF(area.left() - 4, py), QPointF(area.left(), py));
            p.setPen(softInk);
            p.drawText(QRectF(area.left() - 66, py - metrics.height() / 2, 60, metrics.height()),
                       Qt::AlignRight | Qt::AlignVCenter, tickText(y, yStep));
        }
        p.setPen(QPen(frameLine, 1));
        p.setBrush(Qt::NoBrush);
        p.drawRect(area);

        p.setFont(plotFont(12));
        p.setPen(ink);
        p.drawText(QRectF(area.left(), area.bottom() + 24, area.width(), 22), Qt::AlignHCenter,
                   xLabel);
        p.translate(16, area.center().y());
        p.rotate(-90);
        p.drawText(QRectF(-area.height() / 2, -2, area.height(), 20), Qt::AlignHCenter, yLabel);
        p.restore();
    }

private:
    double x0, x1, y0, y1;
};

// Entries stacked at the top right of a plot area: a drawn sample and a text.
class Legend
{
public:
    Legend(QPainter &p, const QRectF &area) : p(p), area(area) {}

    static constexpr double rowHeight = 16, margin = 6;
    static double height(int rows) { return rowHeight * rows + 8; }
    // The top of a value range that keeps values up to `hi` clear below a
    // legend of `rows` entries.
    static double roomyTop(double lo, double hi, int rows, double areaHeight)
    {
        const double share = std::min(0.5, (2 * margin + height(rows)) / areaHeight);
        return hi + (hi - lo) * share / (1 - share);
    }

    template <typename Sample> void add(const QString &text, Sample sample)
    {
        entries.append({text, sample});
    }
    void draw()
    {
        if (entries.isEmpty())
            return;
        p.save();
        p.setFont(plotFont(11));
        const QFontMetricsF metrics(p.font());
        double textWidth = 0;
        for (const Entry &e : entries)
            textWidth = std::max(textWidth, metrics.horizontalAdvance(e.text));
        const QRectF box(area.right() - textWidth - 46, area.top() + margin, textWidth + 40,
                         height(entries.size()));
        p.setPen(QPen(frameLine, 1));
        p.setBrush(QColor(255, 255, 255, 230));
        p.drawRect(box);
        for (int i = 0; i < entries.size(); ++i) {
            const QPointF at(box.left() + 16, box.top() + 4 + rowHeight * (i + 0.5));
            entries[i].sample(p, at);
            p.setPen(ink);
            p.drawText(QRectF(box.left() + 32, at.y() - rowHeight / 2, textWidth + 4, rowHeight),
                       Qt::AlignLeft | Qt::AlignVCenter, entries[i].text);
        }
        p.restore();
    }

private:
    struct Entry
    {
        QString text;
        std::function<void(QPainter &, QPointF)> sample;
    };
    QPainter &p;
    QRectF area;
    QVector<Entry> entries;
};

} // namespace Plot

#endif
