#include "batchplots.h"

#include "check/checkreport.h"
#include "reportplots/plotkit.h"

#include <QPainterPath>
#include <QSet>
#include <QtMath>
#include <algorithm>
#include <cmath>
#include <limits>

using namespace Plot;

namespace {

QImage opaqueCanvas(int width, int height)
{
    QImage image(width * plotScale, height * plotScale, QImage::Format_RGB32);
    image.setDevicePixelRatio(plotScale);
    image.fill(Qt::white);
    return image;
}

QRectF batchArea()
{
    return {68, 36, batchPlotWidth - 68 - 16, batchPlotHeight - 36 - 52};
}

QString axisLabel(const Batch::CheckSeries &check)
{
    return check.unit.isEmpty() ? check.key : QStringLiteral("%1 (%2)").arg(check.key, check.unit);
}

void limitLine(QPainter &p, const Axes &axes, double x, const QString &label)
{
    p.setPen(QPen(errorRed, 1.6, Qt::DashLine));
    p.drawLine(axes.map(x, axes.yMin()), axes.map(x, axes.yMax()));
    p.setPen(errorRed);
    p.setFont(plotFont(11, true));
    p.drawText(QRectF(axes.mapX(x) - 40, axes.area.top() - 16, 80, 14), Qt::AlignCenter, label);
}

// A limit too far off the values to share their axis: named at the edge.
void distantLimit(QPainter &p, const Axes &axes, bool left, const QString &label)
{
    p.setPen(errorRed);
    p.setFont(plotFont(11, true));
    const QRectF box(left ? axes.area.left() + 4 : axes.area.right() - 154, axes.area.top() + 4,
                     150, 14);
    p.drawText(box, (left ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter,
               left ? QStringLiteral("◂ %1").arg(label) : QStringLiteral("%1 ▸").arg(label));
}

// A dot drawn once and stamped at every point: a chart of ten thousand
// runs draws no ten thousand circles.
class DotStamp
{
public:
    DotStamp(const QColor &colour, double radius)
        : image(qCeil(2 * radius + 2) * plotScale, qCeil(2 * radius + 2) * plotScale,
                QImage::Format_ARGB32_Premultiplied),
          half(radius + 1)
    {
        image.setDevicePixelRatio(plotScale);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        p.drawEllipse(QPointF(half, half), radius, radius);
    }
    void draw(QPainter &p, QPointF at) const { p.drawImage(at - QPointF(half, half), image); }

private:
    QImage image;
    double half;
};

void dot(QPainter &p, QPointF at, const QColor &colour, double radius)
{
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawEllipse(at, radius, radius);
}

} // namespace

QImage histogramPlot(const Batch::CheckSeries &check)
{
    const Batch::Capability &c = check.capability;
    double lo = c.min, hi = c.max;
    const double span = std::max(hi - lo, std::max(std::fabs(c.mean) * 0.05, 1e-9));
    // A limit within a few spans of the values shares their axis.
    auto near = [&](const std::optional<double> &limit) {
        return limit && *limit >= c.min - 2 * span && *limit <= c.max + 2 * span;
    };
    if (near(check.low))
        lo = std::min(lo, *check.low);
    if (near(check.high))
        hi = std::max(hi, *check.high);
    makeUsable(lo, hi);
    const int wanted = std::clamp(static_cast<int>(std::ceil(std::sqrt(double(c.n)))), 5, 30);
    const double width = niceStep(c.max - c.min > 0 ? c.max - c.min : hi - lo, wanted);
    const double first = std::floor(lo / width) * width;
    const int bins = std::max(1, static_cast<int>(std::ceil((hi - first) / width + 1e-9)));
    QVector<int> counts(bins + 1, 0);
    for (double v : check.values)
        ++counts[std::clamp(static_cast<int>(std::floor((v - first) / width)), 0, bins)];
    const int tallest = *std::max_element(counts.begin(), counts.end());
    const double right = first + counts.size() * width;

    Axes axes(first - width * 0.5, right + width * 0.5, 0,
              Legend::roomyTop(0, std::max(1.0, tallest * 1.05), 2, batchArea().height()));
    axes.area = batchArea();
    QImage image = opaqueCanvas(batchPlotWidth, batchPlotHeight);
    QPainter p(&image);
    begin(p);
    drawTitle(p, QStringLiteral("Distribution"), batchPlotWidth);
    axes.draw(p, axisLabel(check), QStringLiteral("runs"), 0, std::max(1.0, niceStep(tallest, 5)));
    p.setClipRect(axes.area);
    p.setPen(Qt::NoPen);
    p.setBrush(seriesBlue);
    for (int k = 0; k < counts.size(); ++k) {
        if (counts[k] == 0)
            continue;
        const double l = axes.mapX(first + k * width), r = axes.mapX(first + (k + 1) * width);
        const double gap = r - l > 4 ? 1 : 0;
        const double top = std::min(axes.mapY(counts[k]), axes.area.bottom() - 2);
        p.drawRect(QRectF(l + gap / 2, top, r - l - gap, axes.area.bottom() - top));
    }
    p.setPen(QPen(nominalGreen, 1.6));
    p.drawLine(axes.map(c.mean, 0), axes.map(c.mean, axes.yMax()));
    p.setClipping(false);
    if (near(check.low))
        limitLine(p, axes, *check.low, QStringLiteral("LSL"));
    else if (check.low)
        distantLimit(p, axes, true, QStringLiteral("LSL %1").arg(numberText(*check.low)));
    if (near(check.high))
        limitLine(p, axes, *check.high, QStringLiteral("USL"));
    else if (check.high)
        distantLimit(p, axes, false, QStringLiteral("USL %1").arg(numberText(*check.high)));

    Legend legend(p, axes.area);
    legend.add(QStringLiteral("%1 runs, bins of %2").arg(c.n).arg(numberText(width)),
               [](QPainter &p, QPointF at) {
                   p.setPen(Qt::NoPen);
                   p.setBrush(seriesBlue);
                   p.drawRect(QRectF(at - QPointF(5, 6), QSizeF(10, 12)));
               });
    legend.add(QStringLiteral("mean %1").arg(numberText(c.mean)), [](QPainter &p, QPointF at) {
        p.setPen(QPen(nominalGreen, 1.6));
        p.drawLine(at - QPointF(0, 7), at + QPointF(0, 7));
    });
    legend.draw();
    p.end();
    return image;
}

QImage controlChart(const Batch::CheckSeries &check)
{
    const Batch::Capability &c = check.capability;
    const int n = static_cast<int>(check.values.size());
    const bool limits = std::isfinite(c.sigmaWithin);
    const double ucl = limits ? c.mean + 3 * c.sigmaWithin : c.max;
    const double lcl = limits ? c.mean - 3 * c.sigmaWithin : c.min;
    double lo = std::min(c.min, lcl), hi = std::max(c.max, ucl);
    makeUsable(lo, hi);
    const double pad = (hi - lo) * 0.06;
    Axes axes(0.5, std::max(1.5, n + 0.5), lo - pad,
              Legend::roomyTop(lo - pad, hi + pad, 3, batchArea().height()));
    axes.area = batchArea();

    QImage image = opaqueCanvas(batchPlotWidth, batchPlotHeight);
    QPainter p(&image);
    begin(p);
    drawTitle(p, QStringLiteral("Individuals chart"), batchPlotWidth);
    axes.draw(p, QStringLiteral("run, in order"), axisLabel(check), std::max(1.0, niceStep(n, 6)));
    p.setClipRect(axes.area);
    if (limits) {
        p.setPen(QPen(errorRed, 1.2, Qt::DashLine));
        p.drawLine(axes.map(axes.xMin(), ucl), axes.map(axes.xMax(), ucl));
        p.drawLine(axes.map(axes.xMin(), lcl), axes.map(axes.xMax(), lcl));
    }
    p.setPen(QPen(nominalGreen, 1.4));
    p.drawLine(axes.map(axes.xMin(), c.mean), axes.map(axes.xMax(), c.mean));
    int flagged = 0;
    const double radius = n > 100 ? 1.8 : 2.6;
    if (n > axes.area.width()) {
        // More runs than pixels: each pixel column's range of values, as a
        // bar, and the flagged points over them.
        const int columns = static_cast<int>(axes.area.width());
        QVector<double> low(columns, std::numeric_limits<double>::infinity());
        QVector<double> high(columns, -std::numeric_limits<double>::infinity());
        for (int i = 0; i < n; ++i) {
            const int column =
                std::clamp(static_cast<int>(axes.mapX(i + 1) - axes.area.left()), 0, columns - 1);
            low[column] = std::min(low[column], check.values[i]);
            high[column] = std::max(high[column], check.values[i]);
        }
        // A bar one pixel wide, reaching half a pixel past its values, its
        // ends on whole device pixels: filled as whole pixels, a few
        // hundred tall bars cost what one antialiased bar does.
        p.save();
        p.setRenderHint(QPainter::Antialiasing, false);
        for (int column = 0; column < columns; ++column)
            if (low[column] <= high[column]) {
                const double top = axes.mapY(high[column]) - 0.5;
                p.fillRect(
                    QRectF(axes.area.left() + column, top, 1, axes.mapY(low[column]) + 0.5 - top),
                    seriesBlue);
            }
        p.restore();
    } else {
        QPolygonF line;
        line.reserve(n);
        for (int i = 0; i < n; ++i)
            line << axes.map(i + 1, check.values[i]);
        p.setPen(QPen(seriesBlue, 1.2));
        p.setBrush(Qt::NoBrush);
        p.drawPolyline(line);
        const DotStamp plain(seriesBlue, radius);
        for (int i = 0; i < n; ++i)
            if (!check.flags.value(i))
                plain.draw(p, line[i]);
    }
    // Flagged points once per device pixel: a long run of flags on a dense
    // chart is thousands of points on a few hundred places.
    QSet<quint64> places;
    const DotStamp mark(errorRed, radius + 1.4);
    for (int i = 0; i < n; ++i) {
        if (!check.flags.value(i))
            continue;
        ++flagged;
        const QPointF at = axes.map(i + 1, check.values[i]);
        const quint64 place =
            (quint64(qRound(at.x() * plotScale)) << 32) | quint32(qRound(at.y() * plotScale));
        if (!places.contains(place)) {
            places.insert(place);
            mark.draw(p, at);
        }
    }
    p.setClipping(false);

    Legend legend(p, axes.area);
    legend.add(QStringLiteral("centre %1").arg(numberText(c.mean)), [](QPainter &p, QPointF at) {
        p.setPen(QPen(nominalGreen, 1.4));
        p.drawLine(at - QPointF(9, 0), at + QPointF(9, 0));
    });
    legend.add(limits ? QStringLiteral("3σ limits, σ = %1").arg(numberText(c.sigmaWithin))
                      : QStringLiteral("no limits: one run"),
               [](QPainter &p, QPointF at) {
                   p.setPen(QPen(errorRed, 1.2, Qt::DashLine));
                   p.drawLine(at - QPointF(9, 0), at + QPointF(9, 0));
               });
    legend.add(QStringLiteral("%1 flagged by the rules").arg(flagged),
               [](QPainter &p, QPointF at) { dot(p, at, errorRed, 4); });
    legend.draw();
    p.end();
    return image;
}

QImage paretoPlot(const QVector<Batch::ParetoEntry> &pareto, int failures)
{
    constexpr int shown = 12;
    constexpr double rowHeight = 26, top = 40, labelWidth = 330, width = 928;
    const int rows = std::min(shown, static_cast<int>(pareto.size()));
    const int height = static_cast<int>(top + std::max(1, rows) * rowHeight + 34);
    QImage image = opaqueCanvas(static_cast<int>(width), height);
    QPainter p(&image);
    begin(p);
    drawTitle(p, QStringLiteral("Failing checks (%1 failures in all)").arg(failures), width);
    if (rows == 0) {
        drawNoData(p, QRectF(0, top, width, rowHeight), QStringLiteral("no check failed"));
        p.end();
        return image;
    }
    const double barLeft = labelWidth + 16, barRight = width - 150;
    const int most = pareto.first().failures;
    p.setFont(plotFont(12));
    const QFontMetricsF metrics(p.font());
    for (int i = 0; i < rows; ++i) {
        const Batch::ParetoEntry &e = pareto[i];
        const double y = top + i * rowHeight;
        p.setPen(ink);
        p.drawText(
            QRectF(8, y, labelWidth, rowHeight), Qt::AlignRight | Qt::AlignVCenter,
            metrics.elidedText(e.name.isEmpty() ? e.key : e.name, Qt::ElideMiddle, labelWidth));
        const double length = (barRight - barLeft) * e.failures / most;
        p.setPen(Qt::NoPen);
        p.setBrush(errorRed);
        p.drawRect(QRectF(barLeft, y + 5, std::max(2.0, length), rowHeight - 10));
        p.setPen(softInk);
        p.drawText(QRectF(barLeft + length + 6, y, 150, rowHeight),
                   Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("%1 (%2 % cumulative)")
                       .arg(e.failures)
                       .arg(e.cumulative * 100, 0, 'f', 0));
    }
    if (pareto.size() > shown) {
        p.setPen(softInk);
        p.drawText(QRectF(barLeft, top + rows * rowHeight, 400, 24),
                   Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("and %1 more checks").arg(pareto.size() - shown));
    }
    p.end();
    return image;
}
