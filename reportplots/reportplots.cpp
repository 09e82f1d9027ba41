#include "reportplots.h"

#include "check/evaluation.h"
#include "plotkit.h"

#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

using namespace Plot;

namespace {

const QColor moving = QColor::fromRgba(movingBinColour);

// The markers of one bin, in the polar and σ plots.
void steadyDot(QPainter &p, QPointF at, const QColor &colour)
{
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawEllipse(at, 2.6, 2.6);
}

void hollowDot(QPainter &p, QPointF at)
{
    p.setPen(QPen(hollowGrey, 1.1));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(at, 2.4, 2.4);
}

void movingCross(QPainter &p, QPointF at)
{
    p.setPen(QPen(moving, 1.6, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    const double r = 3.2;
    p.drawLine(at + QPointF(-r, -r), at + QPointF(r, r));
    p.drawLine(at + QPointF(-r, r), at + QPointF(r, -r));
}

bool marked(const QVector<bool> &unsteady, int bin)
{
    return bin < unsteady.size() && unsteady[bin];
}

// The σ of the bins the noise figures are taken over: steady and not marked.
QVector<double> steadySigmas(const ScanStatistics &stats, const QVector<bool> &unsteady)
{
    QVector<double> values;
    for (int i = 0; i < ScanStatistics::binCount; ++i)
        if (countsForNoise(stats, unsteady, i))
            values.append(stats.binSigma(i));
    return values;
}

bool hasPartialView(const ScanStatistics &stats)
{
    for (int i = 0; i < ScanStatistics::binCount; ++i)
        if (!stats.inFieldOfView(i))
            return true;
    return false;
}

QString distanceText(double mm, double step)
{
    if (step >= 100)
        return QString::number(mm / 1000.0, 'f', decimalsFor(step / 1000.0)) + QStringLiteral(" m");
    return QString::number(mm, 'f', decimalsFor(step)) + QStringLiteral(" mm");
}

// A bucket with values a plot can place.
bool drawable(const DownsampledSeries::Bucket &b)
{
    return b.count > 0 && std::isfinite(b.min) && std::isfinite(b.max) && std::isfinite(b.mean());
}

} // namespace

QImage scanPolarPlot(const ScanStatistics &stats, const QVector<bool> &unsteady)
{
    QImage image = canvas();
    QPainter p(&image);
    begin(p);
    drawTitle(p, QStringLiteral("Median scan, coloured by σ"));

    const QPointF centre(240, 262);
    const double radius = 186;

    double farthest = 0;
    for (int i = 0; i < ScanStatistics::binCount; ++i) {
        const double median = stats.binMedian(i);
        if (std::isfinite(median))
            farthest = std::max(farthest, median);
    }
    const bool empty = farthest <= 0;
    const double ringStep = empty ? 1000 : niceStep(farthest, 5);
    const double outer = empty ? 4000 : std::ceil(farthest / ringStep - 1e-9) * ringStep;
    const double pixelsPerMm = radius / outer;
    auto polar = [&](double angle, double mm) {
        const double t = angle * M_PI / 180.0;
        return QPointF(centre.x() + mm * pixelsPerMm * std::sin(t),
                       centre.y() - mm * pixelsPerMm * std::cos(t));
    };

    // The part of the turn the sensor does not look at.
    if (hasPartialView(stats)) {
        const QRectF disc(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
        QPainterPath hidden;
        for (int i = 0; i < ScanStatistics::binCount; ++i) {
            if (stats.inFieldOfView(i))
                continue;
            // Qt's angles run counter-clockwise from 3 o'clock.
            hidden.moveTo(centre);
            hidden.arcTo(disc, 90.0 - i, -1.0);
            hidden.closeSubpath();
        }
        p.fillPath(hidden, outOfView);
    }

    // Grid: rings with their distance, spokes every 30°, the four axes named.
    p.setBrush(Qt::NoBrush);
    for (double r : ticks(ringStep, outer, ringStep)) {
        p.setPen(QPen(r >= outer - ringStep * 1e-6 ? frameLine : gridLine, 1));
        p.drawEllipse(centre, r * pixelsPerMm, r * pixelsPerMm);
    }
    for (int a = 0; a < 360; a += 30) {
        p.setPen(QPen(a % 90 == 0 ? frameLine : gridLine, 1));
        p.drawLine(centre, polar(a, outer));
    }
    p.setPen(ink);
    p.setFont(plotFont(12));
    const double labelGap = 16;
    const QPointF ahead = polar(0, outer), right = polar(90, outer), behind = polar(180, outer),
                  left = polar(270, outer);
    p.drawText(QRectF(ahead.x() - 40, ahead.y() - labelGap - 10, 80, 18), Qt::AlignCenter,
               QStringLiteral("0°"));
    p.drawText(QRectF(right.x() + 4, right.y() - 9, 40, 18), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("90°"));
    p.drawText(QRectF(behind.x() - 40, behind.y() + labelGap - 8, 80, 18), Qt::AlignCenter,
               QStringLiteral("180°"));
    p.drawText(QRectF(left.x() - 44, left.y() - 9, 40, 18), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("270°"));

    // The sensor, pointing ahead.
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawPolygon(
        QPolygonF({centre + QPointF(0, -6), centre + QPointF(4, 4), centre + QPointF(-4, 4)}));

    const QVector<double> sigmas = steadySigmas(stats, unsteady);
    double sigmaTop = quantile(sigmas, 0.95);
    if (!(sigmaTop > 0))
        sigmaTop = 10;
    const double sigmaStep = niceStep(sigmaTop, 5);
    sigmaTop = std::ceil(sigmaTop / sigmaStep - 1e-9) * sigmaStep;
    bool clipped = false;

    // Hollow bins first, so that the measured ones stay on top.
    for (int i = 0; i < ScanStatistics::binCount; ++i) {
        const double median = stats.binMedian(i);
        if (std::isfinite(median) && !stats.steady(i) && !marked(unsteady, i))
            hollowDot(p, polar(i + 0.5, median));
    }
    for (int i = 0; i < ScanStatistics::binCount; ++i) {
        const double median = stats.binMedian(i);
        if (!std::isfinite(median) || !countsForNoise(stats, unsteady, i))
            continue;
        const double sigma = stats.binSigma(i);
        clipped = clipped || sigma > sigmaTop;
        steadyDot(p, polar(i + 0.5, median), sigmaColour(sigma / sigmaTop));
    }
    for (int i = 0; i < ScanStatistics::binCount; ++i) {
        const double median = stats.binMedian(i);
        if (std::isfinite(median) && marked(unsteady, i))
            movingCross(p, polar(i + 0.5, median));
    }

    // Ring distances along the spoke between grid lines where they cover the
    // fewest points, on a light backing.
    QVector<QPointF> drawn;
    for (int i = 0; i < ScanStatistics::binCount; ++i) {
        const double median = stats.binMedian(i);
        if (std::isfinite(median))
            drawn.append(polar(i + 0.5, median));
    }
    p.setFont(plotFont(11));
    const QFontMetricsF metrics(p.font());
    auto labelBox = [&](double angle, double r) {
        const QString text = distanceText(r, ringStep);
        const QPointF at = polar(angle, r);
        return QRectF(at.x() + 3, at.y() - metrics.height() / 2,
                      metrics.horizontalAdvance(text) + 6, metrics.height());
    };
    double labelAngle = 0;
    int fewest = std::numeric_limits<int>::max();
    for (double angle : {135, 225, 45, 315, 165, 195, 105, 255, 75, 285, 15, 345}) {
        int covered = 0;
        for (double r : ticks(ringStep, outer, ringStep)) {
            const QRectF box = labelBox(angle, r).adjusted(-3, -3, 3, 3);
            covered += static_cast<int>(std::count_if(
                drawn.begin(), drawn.end(), [&](const QPointF &q) { return box.contains(q); }));
        }
        if (covered < fewest) {
            fewest = covered;
            labelAngle = angle;
        }
    }
    for (double r : ticks(ringStep, outer, ringStep)) {
        const QRectF box = labelBox(labelAngle, r);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 200));
        p.drawRoundedRect(box, 3, 3);
        p.setPen(softInk);
        p.drawText(box, Qt::AlignCenter, distanceText(r, ringStep));
    }
    if (empty)
        drawNoData(p, QRectF(centre.x() - 120, centre.y() - 40, 240, 30),
                   QStringLiteral("no returns"));

    // The σ scale.
    const QRectF bar(520, 78, 18, 220);
    p.setFont(plotFont(12, true));
    p.setPen(ink);
    p.drawText(QRectF(bar.left() - 10, bar.top() - 28, 160, 20), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("σ (mm)"));
    QLinearGradient gradient(bar.bottomLeft(), bar.topLeft());
    for (int k = 0; k <= 8; ++k)
        gradient.setColorAt(k / 8.0, sigmaColour(k / 8.0));
    p.setPen(QPen(frameLine, 1));
    p.setBrush(gradient);
    p.drawRect(bar);
    p.setFont(plotFont(11));
    for (double s : ticks(0, sigmaTop, sigmaStep)) {
        const double y = bar.bottom() - s / sigmaTop * bar.height();
        p.setPen(QPen(ink, 1));
        p.drawLine(QPointF(bar.right(), y), QPointF(bar.right() + 4, y));
        const bool top = s >= sigmaTop - sigmaStep * 1e-6;
        p.drawText(QRectF(bar.right() + 8, y - 8, 100, 16), Qt::AlignLeft | Qt::AlignVCenter,
                   (top && clipped ? QStringLiteral("≥ ") : QString()) + tickText(s, sigmaStep));
    }

    // What the markers mean.
    const double keyTop = 336;
    const double row = 22;
    p.setFont(plotFont(12));
    steadyDot(p, QPointF(bar.left() + 6, keyTop), sigmaColour(0.5));
    hollowDot(p, QPointF(bar.left() + 6, keyTop + row));
    movingCross(p, QPointF(bar.left() + 6, keyTop + 2 * row));
    p.setPen(ink);
    const double textLeft = bar.left() + 20;
    p.drawText(QRectF(textLeft, keyTop - 9, 190, 18), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("steady bin"));
    p.drawText(QRectF(textLeft, keyTop + row - 9, 190, 18), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("returns in < %1 % of scans")
                   .arg(std::lround(ScanStatistics::steadyShare * 100)));
    p.drawText(QRectF(textLeft, keyTop + 2 * row - 9, 190, 18), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("moving object or edge"));
    if (hasPartialView(stats)) {
        p.setPen(QPen(frameLine, 1));
        p.setBrush(outOfView);
        p.drawRect(QRectF(bar.left(), keyTop + 3 * row - 6, 12, 12));
        p.setPen(ink);
        p.drawText(QRectF(textLeft, keyTop + 3 * row - 9, 190, 18),
                   Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("outside the field of view"));
    }
    p.setPen(softInk);
    p.setFont(plotFont(11));
    p.drawText(QRectF(bar.left() - 10, keyTop + 4 * row + 2, 200, 36),
               Qt::AlignLeft | Qt::TextWordWrap,
               QStringLiteral("%1 scans, one point per 1° bin").arg(stats.scans()));
    p.end();
    return image;
}

QImage speedPlot(const ScanStatistics &stats)
{
    const bool frames = stats.commandProtocol();
    const QString unit = frames ? QStringLiteral("frames/s") : QStringLiteral("rev/s");
    const DownsampledSeries &series = stats.speedSeries();
    const QVector<DownsampledSeries::Bucket> &buckets = series.data();
    const double width = series.width();

    double lo = std::numeric_limits<double>::infinity(), hi = -lo, end = 0;
    for (const DownsampledSeries::Bucket &b : buckets) {
        if (!drawable(b))
            continue;
        lo = std::min(lo, b.min);
        hi = std::max(hi, b.max);
        end = b.start + width;
    }
    const bool empty = !std::isfinite(lo);
    const double nominal = stats.nominalHz();
    if (nominal > 0 && !empty) {
        lo = std::min(lo, nominal);
        hi = std::max(hi, nominal);
    }
    if (empty) {
        lo = 0;
        hi = nominal > 0 ? nominal * 1.2 : 1;
    }
    const double pad = std::max((hi - lo) * 0.08, std::max(std::fabs(hi), 1e-3) * 0.01);
    const double bottom = std::max(0.0, lo - pad);
    Axes axes(0, empty ? 10 : end, bottom,
              Legend::roomyTop(bottom, hi + pad, nominal > 0 ? 3 : 2, Axes::frame().height()));

    QImage image = canvas();
    QPainter p(&image);
    begin(p);
    drawTitle(p, frames ? QStringLiteral("Frame rate over time")
                        : QStringLiteral("Rotation speed over time"));
    axes.draw(p, QStringLiteral("time since start (s)"), unit);
    p.setClipRect(axes.area);

    // Runs of buckets with values: a band from each bucket's minimum to its
    // maximum, and the means joined.
    QVector<QPolygonF> means;
    for (int i = 0; i < buckets.size();) {
        if (!drawable(buckets[i])) {
            ++i;
            continue;
        }
        int j = i;
        while (j < buckets.size() && drawable(buckets[j]))
            ++j;
        QPolygonF band, mean;
        for (int k = i; k < j; ++k) {
            band << axes.map(buckets[k].start, buckets[k].max)
                 << axes.map(buckets[k].start + width, buckets[k].max);
            mean << axes.map(buckets[k].start + width / 2, buckets[k].mean());
        }
        for (int k = j - 1; k >= i; --k)
            band << axes.map(buckets[k].start + width, buckets[k].min)
                 << axes.map(buckets[k].start, buckets[k].min);
        if (mean.size() == 1)
            mean = QPolygonF() << axes.map(buckets[i].start, buckets[i].mean())
                               << axes.map(buckets[i].start + width, buckets[i].mean());
        p.setPen(Qt::NoPen);
        p.setBrush(bandBlue);
        p.drawPolygon(band);
        means.append(mean);
        i = j;
    }
    // The nominal rate over the bands, under the means.
    if (nominal > 0) {
        p.setPen(QPen(nominalGreen, 1.4, Qt::DashLine));
        p.drawLine(axes.map(axes.xMin(), nominal), axes.map(axes.xMax(), nominal));
    }
    p.setPen(QPen(seriesBlue, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    for (const QPolygonF &mean : means)
        p.drawPolyline(mean);
    p.setClipping(false);
    if (empty)
        drawNoData(p, axes.area,
                   frames ? QStringLiteral("no frame rate measured")
                          : QStringLiteral("no speed measured"));

    Legend legend(p, axes.area);
    legend.add(QStringLiteral("mean per %1 s").arg(width), [](QPainter &p, QPointF at) {
        p.setPen(QPen(seriesBlue, 1.8));
        p.drawLine(at - QPointF(9, 0), at + QPointF(9, 0));
    });
    legend.add(QStringLiteral("minimum to maximum"), [](QPainter &p, QPointF at) {
        p.setPen(Qt::NoPen);
        p.setBrush(bandBlue);
        p.drawRect(QRectF(at - QPointF(9, 5), QSizeF(18, 10)));
    });
    if (nominal > 0)
        legend.add(QStringLiteral("nominal %1 %2").arg(nominal).arg(unit),
                   [](QPainter &p, QPointF at) {
                       p.setPen(QPen(nominalGreen, 1.4, Qt::DashLine));
                       p.drawLine(at - QPointF(9, 0), at + QPointF(9, 0));
                   });
    legend.draw();
    p.end();
    return image;
}

QImage intervalPlot(const ScanStatistics &stats)
{
    const bool frames = stats.commandProtocol();
    const Histogram &histogram = stats.intervalHistogram();
    const QVector<long long> &counts = histogram.bins();
    const double binMs = histogram.width();

    int first = -1, last = -1;
    for (int i = 0; i < counts.size(); ++i) {
        if (counts[i] > 0) {
            if (first < 0)
                first = i;
            last = i;
        }
    }
    const bool empty = first < 0;
    // Whole bins merged into bars, so that a long stall does not leave
    // thousands of hairlines; at least a few bars either side of a sensor
    // that keeps perfect time.
    constexpr int maxBars = 120, minBars = 24;
    int group = 1, lo = 0, hi = 1;
    if (!empty) {
        group = std::max(1, static_cast<int>(niceStep(last + 1 - first, maxBars)));
        lo = first / group;
        hi = last / group + 1;
        if (hi - lo < minBars) {
            const int extra = minBars - (hi - lo);
            lo = std::max(0, lo - extra / 2);
            hi = lo + minBars;
        }
        // Clear of the frame on both sides.
        lo = std::max(0, lo - 2);
        hi += 2;
    }
    QVector<long long> bars(hi - lo, 0);
    long long tallest = 0;
    for (int i = first; !empty && i <= last; ++i) {
        long long &bar = bars[i / group - lo];
        bar += counts[i];
        tallest = std::max(tallest, bar);
    }
    const double barMs = group * binMs;
    const double nominal = stats.nominalHz();
    const double period = nominal > 0 ? 1000.0 / nominal : std::nan("");
    // Without intervals, the axis spans two nominal periods.
    const double from = lo * barMs;
    const double to = !empty ? hi * barMs : nominal > 0 ? 2000.0 / nominal : 100.0;
    const bool periodShown = period >= from && period <= to;
    const double yTop = Legend::roomyTop(0, std::max(1.0, tallest * 1.05), periodShown ? 2 : 1,
                                         Axes::frame().height());
    Axes axes(from, to, 0, yTop);

    QImage image = canvas();
    QPainter p(&image);
    begin(p);
    drawTitle(p, frames ? QStringLiteral("Frame intervals") : QStringLiteral("Scan intervals"));
    axes.draw(p, QStringLiteral("interval (ms)"),
              frames ? QStringLiteral("frames") : QStringLiteral("scans"), 0,
              std::max(1.0, niceStep(yTop, 6)));
    p.setClipRect(axes.area);
    p.setPen(Qt::NoPen);
    p.setBrush(seriesBlue);
    for (int k = 0; k < bars.size(); ++k) {
        if (bars[k] == 0)
            continue;
        const double left = axes.mapX((lo + k) * barMs), right = axes.mapX((lo + k + 1) * barMs);
        const double gap = right - left > 4 ? 1 : 0;
        // A single long interval among thousands stays visible.
        const double top = std::min(axes.mapY(bars[k]), axes.area.bottom() - 2);
        p.drawRect(QRectF(left + gap / 2, top, right - left - gap, axes.area.bottom() - top));
    }
    if (periodShown) {
        p.setPen(QPen(nominalGreen, 1.4, Qt::DashLine));
        p.drawLine(axes.map(period, 0), axes.map(period, yTop));
    }
    p.setClipping(false);
    if (empty)
        drawNoData(p, axes.area, QStringLiteral("fewer than two scans"));

    Legend legend(p, axes.area);
    legend.add(QStringLiteral("%1 intervals, bars of %2 ms")
                   .arg(histogram.count())
                   .arg(QString::number(barMs, 'g', 4)),
               [](QPainter &p, QPointF at) {
                   p.setPen(Qt::NoPen);
                   p.setBrush(seriesBlue);
                   p.drawRect(QRectF(at - QPointF(5, 6), QSizeF(10, 12)));
               });
    if (periodShown)
        legend.add(QStringLiteral("nominal %1 ms").arg(QString::number(period, 'g', 4)),
                   [](QPainter &p, QPointF at) {
                       p.setPen(QPen(nominalGreen, 1.4, Qt::DashLine));
                       p.drawLine(at - QPointF(0, 7), at + QPointF(0, 7));
                   });
    legend.draw();
    p.end();
    return image;
}

QImage sigmaPlot(const ScanStatistics &stats, const QVector<bool> &unsteady)
{
    const QVector<double> sigmas = steadySigmas(stats, unsteady);
    double top = sigmas.isEmpty() ? 0 : *std::max_element(sigmas.begin(), sigmas.end());
    bool any = !sigmas.isEmpty();
    if (!(top > 0)) {
        // No steady bin: scale to whatever was measured.
        for (int i = 0; i < ScanStatistics::binCount; ++i) {
            const double sigma = stats.binSigma(i);
            if (std::isfinite(sigma)) {
                top = std::max(top, sigma);
                any = true;
            }
        }
    }
    top = top > 0 ? top * 1.05 : 1;
    // Values above the scale (moving objects, mostly) go to a strip of
    // their own over the frame.
    QRectF area = Axes::frame();
    area.setTop(area.top() + 22);
    Axes axes(0, 360, 0, Legend::roomyTop(0, top, hasPartialView(stats) ? 4 : 3, area.height()));
    axes.area = area;
    const double strip = area.top() - 12;
    bool above = false;
    for (int i = 0; i < ScanStatistics::binCount; ++i)
        above = above || stats.binSigma(i) > axes.yMax();

    QImage image = canvas();
    QPainter p(&image);
    begin(p);
    drawTitle(p, QStringLiteral("Range noise σ by angle"));
    if (hasPartialView(stats)) {
        QPainterPath hidden;
        for (int i = 0; i < ScanStatistics::binCount; ++i)
            if (!stats.inFieldOfView(i))
                hidden.addRect(QRectF(axes.mapX(i), strip - 8, axes.mapX(i + 1) - axes.mapX(i),
                                      axes.area.bottom() - strip + 8));
        p.fillPath(hidden.simplified(), outOfView);
    }
    axes.draw(p, QStringLiteral("angle (°, clockwise from ahead)"), QStringLiteral("σ (mm)"), 30);
    if (above) {
        p.setPen(QPen(gridLine, 1, Qt::DotLine));
        p.drawLine(QPointF(area.left(), strip), QPointF(area.right(), strip));
        p.setPen(softInk);
        p.setFont(plotFont(11));
        p.drawText(QRectF(area.left() - 66, strip - 8, 60, 16), Qt::AlignRight | Qt::AlignVCenter,
                   QStringLiteral("above"));
    }

    auto place = [&](int i, double sigma) {
        return sigma > axes.yMax() ? QPointF(axes.mapX(i + 0.5), strip) : axes.map(i + 0.5, sigma);
    };
    for (int i = 0; i < ScanStatistics::binCount; ++i) {
        const double sigma = stats.binSigma(i);
        if (std::isfinite(sigma) && !stats.steady(i) && !marked(unsteady, i))
            hollowDot(p, place(i, sigma));
    }
    for (int i = 0; i < ScanStatistics::binCount; ++i)
        if (countsForNoise(stats, unsteady, i))
            steadyDot(p, place(i, stats.binSigma(i)), seriesBlue);
    for (int i = 0; i < ScanStatistics::binCount; ++i) {
        const double sigma = stats.binSigma(i);
        if (std::isfinite(sigma) && marked(unsteady, i))
            movingCross(p, place(i, sigma));
    }
    if (!any)
        drawNoData(p, axes.area, QStringLiteral("no bin with three returns"));

    Legend legend(p, axes.area);
    legend.add(QStringLiteral("steady bin"),
               [](QPainter &p, QPointF at) { steadyDot(p, at, seriesBlue); });
    legend.add(QStringLiteral("returns in < %1 % of scans")
                   .arg(std::lround(ScanStatistics::steadyShare * 100)),
               [](QPainter &p, QPointF at) { hollowDot(p, at); });
    legend.add(QStringLiteral("moving object or edge"),
               [](QPainter &p, QPointF at) { movingCross(p, at); });
    if (hasPartialView(stats))
        legend.add(QStringLiteral("outside the field of view"), [](QPainter &p, QPointF at) {
            p.setPen(QPen(frameLine, 1));
            p.setBrush(outOfView);
            p.drawRect(QRectF(at - QPointF(6, 6), QSizeF(12, 12)));
        });
    legend.draw();
    p.end();
    return image;
}

QImage errorPlot(const ScanStatistics &stats)
{
    const bool frames = stats.commandProtocol();
    const DownsampledSeries &series = stats.errorSeries();
    const QVector<DownsampledSeries::Bucket> &buckets = series.data();
    const double width = series.width();
    double tallest = 0, end = 0, total = 0;
    for (const DownsampledSeries::Bucket &b : buckets) {
        if (!drawable(b))
            continue;
        tallest = std::max(tallest, b.sum);
        total += b.sum;
        if (b.count > 0)
            end = b.start + width;
    }
    const bool empty = end <= 0;
    const double yTop = std::max(1.0, tallest * 1.12);
    Axes axes(0, empty ? 10 : end, 0, yTop);
    const QString what = frames ? QStringLiteral("lost frames") : QStringLiteral("packet errors");

    QImage image = canvas();
    QPainter p(&image);
    begin(p);
    drawTitle(p, (frames ? QStringLiteral("Lost frames over time")
                         : QStringLiteral("Packet errors over time")) +
                     QStringLiteral(" (%1 in all)").arg(total, 0, 'f', 0));
    axes.draw(p, QStringLiteral("time since start (s)"),
              QStringLiteral("%1 per %2 s").arg(what).arg(width), 0,
              std::max(1.0, niceStep(yTop, 6)));
    p.setClipRect(axes.area);
    p.setPen(Qt::NoPen);
    p.setBrush(errorRed);
    for (const DownsampledSeries::Bucket &b : buckets) {
        if (!drawable(b) || b.sum <= 0)
            continue;
        const double left = axes.mapX(b.start), right = axes.mapX(b.start + width);
        const double gap = right - left > 4 ? 1 : 0;
        const double barTop = axes.mapY(b.sum);
        p.drawRect(QRectF(left + gap / 2, barTop, std::max(1.0, right - left - gap),
                          axes.area.bottom() - barTop));
    }
    p.setClipping(false);
    if (empty)
        drawNoData(p, axes.area, QStringLiteral("no scans"));
    else if (total <= 0)
        drawNoData(p, axes.area, QStringLiteral("no %1").arg(what));
    p.end();
    return image;
}

QImage driftPlot(const ScanStatistics &stats)
{
    // Several references at different distances share one axis as their
    // distance from the known one.
    static const QColor colours[] = {seriesBlue, errorRed, nominalGreen, QColor(0x8e, 0x44, 0xad),
                                     QColor(0xd3, 0x84, 0x00)};
    const int targets = static_cast<int>(stats.references().size());
    double lo = std::numeric_limits<double>::infinity(), hi = -lo, end = 0;
    for (int t = 0; t < targets; ++t) {
        const DownsampledSeries &series = stats.referenceSeries(t);
        const double known = stats.references()[t].distance;
        for (const DownsampledSeries::Bucket &b : series.data()) {
            if (!drawable(b))
                continue;
            lo = std::min(lo, b.mean() - known);
            hi = std::max(hi, b.mean() - known);
            end = std::max(end, b.start + series.width());
        }
    }
    const bool empty = !std::isfinite(lo);
    if (empty) {
        lo = -10;
        hi = 10;
    }
    const double pad = std::max((hi - lo) * 0.1, 1.0);
    const int rows = std::max(1, std::min(targets, 5));
    Axes axes(0, empty ? 60 : end, lo - pad,
              Legend::roomyTop(lo - pad, hi + pad, rows, Axes::frame().height()));

    QImage image = canvas();
    QPainter p(&image);
    begin(p);
    drawTitle(p, QStringLiteral("Reference distance over time"));
    axes.draw(p, QStringLiteral("time since start (s)"),
              QStringLiteral("distance - known distance (mm)"));
    p.setClipRect(axes.area);
    Legend legend(p, axes.area);
    for (int t = 0; t < targets && t < 5; ++t) {
        const QColor colour = colours[t];
        const DownsampledSeries &series = stats.referenceSeries(t);
        const DownsampledSeries &times = stats.referenceTimes(t);
        const double known = stats.references()[t].distance;
        QPolygonF means;
        for (int i = 0; i < series.data().size() && i < times.data().size(); ++i)
            if (drawable(series.data()[i]))
                means << axes.map(times.data()[i].mean(), series.data()[i].mean() - known);
        p.setPen(QPen(colour, 1.2));
        p.setBrush(colour);
        p.drawPolyline(means);
        for (const QPointF &at : means)
            p.drawEllipse(at, 2.8, 2.8);
        const DriftFit fit = referenceDrift(stats, t);
        if (std::isfinite(fit.slopeMmPerMin)) {
            p.setPen(QPen(colour, 1.4, Qt::DashLine));
            p.drawLine(axes.map(0, fit.interceptMm - known),
                       axes.map(end, fit.interceptMm + fit.slopeMmPerMin * end / 60.0 - known));
        }
        const ReferenceTarget &target = stats.references()[t];
        legend.add(QStringLiteral("%1° at %2 mm: %3")
                       .arg(target.angle)
                       .arg(target.distance)
                       .arg(std::isfinite(fit.slopeMmPerMin)
                                ? QStringLiteral("%1 mm/min").arg(fit.slopeMmPerMin, 0, 'f', 2)
                                : QStringLiteral("too short to fit")),
                   [colour](QPainter &p, QPointF at) {
                       p.setPen(QPen(colour, 1.4, Qt::DashLine));
                       p.drawLine(at - QPointF(9, 0), at + QPointF(9, 0));
                       p.setPen(Qt::NoPen);
                       p.setBrush(colour);
                       p.drawEllipse(at, 2.8, 2.8);
                   });
    }
    p.setClipping(false);
    if (empty)
        drawNoData(p, axes.area, QStringLiteral("no return in a reference sector"));
    legend.draw();
    p.end();
    return image;
}
