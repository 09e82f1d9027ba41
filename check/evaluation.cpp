#include "evaluation.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

namespace {

// A return this far from its bin's median is from another surface.
constexpr double farFromMedianMm = 100.0;
constexpr double unsteadyShare = 0.02;

class Checks
{
public:
    Checks(const BenchProfile &profile, QVector<CheckResult> &out) : profile(profile), out(out) {}

    CheckResult &add(const QString &key, const QString &name, double value, const QString &unit,
                     const QString &skipReason = {})
    {
        CheckResult c;
        c.key = key;
        c.name = name;
        c.value = value;
        c.unit = unit;
        const CheckLimit limit = profile.limit(key);
        c.low = limit.low;
        c.high = limit.high;
        if (!skipReason.isEmpty() || std::isnan(value)) {
            c.value = std::nan("");
            c.verdict = Verdict::Skipped;
            c.note = skipReason.isEmpty() ? QStringLiteral("not measured") : skipReason;
        } else if ((c.low && value < *c.low) || (c.high && value > *c.high)) {
            c.verdict = Verdict::Fail;
            c.note = c.low && value < *c.low ? QStringLiteral("below the limit")
                                             : QStringLiteral("above the limit");
        } else {
            c.verdict = Verdict::Pass;
        }
        out.append(c);
        return out.last();
    }

    // A check that fails when it could not be measured at all.
    CheckResult &require(const QString &key, const QString &name, double value, const QString &unit,
                         const QString &missing)
    {
        CheckResult &c = add(key, name, value, unit);
        if (std::isnan(value)) {
            c.verdict = Verdict::Fail;
            c.note = missing;
        }
        return c;
    }

private:
    const BenchProfile &profile;
    QVector<CheckResult> &out;
};

QString degrees(double angle)
{
    return QString::number(angle, 'g', 6) + QStringLiteral("°");
}

} // namespace

double quantile(QVector<double> values, double q)
{
    if (values.isEmpty())
        return std::nan("");
    std::sort(values.begin(), values.end());
    const double at = q * (values.size() - 1);
    const int below = static_cast<int>(std::floor(at));
    const int above = std::min(static_cast<int>(values.size()) - 1, below + 1);
    return values[below] + (at - below) * (values[above] - values[below]);
}

bool countsForNoise(const ScanStatistics &stats, const QVector<bool> &unsteady, int bin)
{
    return stats.steady(bin) && !(bin < unsteady.size() && unsteady[bin]);
}

QVector<bool> unsteadyBins(const ScanStatistics &stats)
{
    QVector<bool> marks(ScanStatistics::binCount, false);
    for (int i = 0; i < ScanStatistics::binCount; ++i) {
        const ScanStatistics::Bin &bin = stats.bins()[i];
        if (bin.points < 10)
            continue;
        const double median = stats.binMedian(i);
        long long far = 0;
        for (int k = 0; k < bin.distances.size(); ++k) {
            const double centre = (k + 0.5) * ScanStatistics::distanceBucketMm;
            if (std::fabs(centre - median) > farFromMedianMm)
                far += bin.distances[k];
        }
        // A bin that misses returns in some scans because something nearer
        // crossed it counts as well: those returns are in other bins' way.
        marks[i] = far > unsteadyShare * bin.points;
    }
    return marks;
}

DriftFit referenceDrift(const ScanStatistics &stats, int target)
{
    DriftFit fit;
    const QVector<DownsampledSeries::Bucket> &distances = stats.referenceSeries(target).data();
    const QVector<DownsampledSeries::Bucket> &times = stats.referenceTimes(target).data();
    const int size = std::min(distances.size(), times.size());
    // Each window weighs as many returns as it holds, so that the last few
    // returns of a run, alone in their window, do not tip the line.
    double weight = 0, meanX = 0, meanY = 0;
    for (int i = 0; i < size; ++i) {
        if (distances[i].count == 0)
            continue;
        ++fit.windows;
        weight += distances[i].count;
        meanX += distances[i].count * times[i].mean() / 60.0;
        meanY += distances[i].sum;
    }
    if (fit.windows < 2)
        return fit;
    meanX /= weight;
    meanY /= weight;
    double sxx = 0, sxy = 0;
    for (int i = 0; i < size; ++i) {
        if (distances[i].count == 0)
            continue;
        const double dx = times[i].mean() / 60.0 - meanX;
        sxx += distances[i].count * dx * dx;
        sxy += distances[i].count * dx * (distances[i].mean() - meanY);
    }
    if (sxx <= 0)
        return fit;
    fit.slopeMmPerMin = sxy / sxx;
    fit.interceptMm = meanY - fit.slopeMmPerMin * meanX;
    // From the spread of single returns, which the drift itself widens a
    // little: on the cautious side.
    fit.standardError = stats.referenceStats(target).stddev() / std::sqrt(sxx);
    return fit;
}

Settling speedSettling(const ScanStatistics &stats)
{
    Settling result;
    const DownsampledSeries &series = stats.settleSeries();
    const QVector<DownsampledSeries::Bucket> &windows = series.data();
    QVector<int> filled;
    for (int i = 0; i < windows.size(); ++i)
        if (windows[i].count > 0 && std::isfinite(windows[i].mean()))
            filled.append(i);
    result.windows = static_cast<int>(filled.size());
    if (filled.size() < 2)
        return result;
    const double first = stats.firstScanSinceStart();
    const double lastQuarter = first + 0.75 * stats.span();
    double sum = 0;
    long long count = 0;
    for (int i : filled) {
        if (windows[i].start >= lastQuarter) {
            sum += windows[i].sum;
            count += windows[i].count;
        }
    }
    if (count == 0) {
        sum = windows[filled.last()].sum;
        count = windows[filled.last()].count;
    }
    result.finalMean = sum / count;
    int lastOutside = -1;
    for (int k = 0; k < filled.size(); ++k) {
        const double deviation = windows[filled[k]].mean() / result.finalMean - 1.0;
        if (std::fabs(deviation) > Settling::band)
            lastOutside = k;
    }
    if (lastOutside == filled.size() - 1)
        return result;
    result.settled = true;
    result.seconds =
        lastOutside < 0
            ? 0.0
            : std::max(0.0, windows[filled[lastOutside]].start + series.width() - first);
    return result;
}

CheckReport evaluate(const ScanStatistics &stats, const LinkFacts &facts,
                     const BenchProfile &profile)
{
    CheckReport report;
    report.live = facts.live;
    report.sensorVersion = facts.versionText;
    Checks checks(profile, report.checks);
    const bool frames = stats.commandProtocol();
    const QString noTimes =
        facts.timestamps ? QString() : QStringLiteral("a raw byte file has no timestamps");
    const QString noScans = stats.scans() == 0 ? QStringLiteral("no scan") : QString();

    // The link.
    checks.add(QStringLiteral("bytes_received"),
               facts.live ? QStringLiteral("Bytes received") : QStringLiteral("Bytes read"),
               static_cast<double>(facts.bytes), QStringLiteral("bytes"));
    if (facts.handshakeExpected) {
        checks.require(QStringLiteral("handshake_ms"), QStringLiteral("Handshake"),
                       facts.handshakeMs.value_or(std::nan("")), QStringLiteral("ms"),
                       QStringLiteral("the sensor did not answer the handshake"));
    }
    {
        CheckResult c;
        c.key = QStringLiteral("information_reply");
        c.name = QStringLiteral("Information reply");
        c.text = facts.versionText.isEmpty() ? QStringLiteral("") : facts.versionText;
        c.verdict = facts.versionText.isEmpty() ? Verdict::Fail : Verdict::Pass;
        if (facts.versionText.isEmpty())
            c.note = QStringLiteral("no information reply arrived");
        report.checks.append(c);
    }
    if (!profile.minFirmware.isEmpty()) {
        CheckResult c;
        c.key = QStringLiteral("min_firmware");
        c.name = QStringLiteral("Firmware version");
        c.text = facts.versionText;
        const std::optional<int> order = compareFirmware(facts.versionText, profile.minFirmware);
        c.verdict = order && *order >= 0 ? Verdict::Pass : Verdict::Fail;
        c.note = QStringLiteral("at least %1").arg(profile.minFirmware);
        if (!order)
            c.note += QStringLiteral("; no version to compare");
        report.checks.append(c);
    }

    // Timing.
    if (noTimes.isEmpty())
        checks.require(QStringLiteral("time_to_first_scan"), QStringLiteral("Time to first scan"),
                       stats.timeToFirstScan(), QStringLiteral("s"),
                       QStringLiteral("no scan arrived"));
    else
        checks.add(QStringLiteral("time_to_first_scan"), QStringLiteral("Time to first scan"),
                   stats.timeToFirstScan(), QStringLiteral("s"), noTimes);

    const QString speedName =
        frames ? QStringLiteral("Frame rate") : QStringLiteral("Rotation speed");
    const QString speedSkip = frames ? (noTimes.isEmpty() ? noScans : noTimes) : noScans;
    checks.add(QStringLiteral("speed_mean"), speedName + QStringLiteral(", mean"),
               stats.speed().mean(), QStringLiteral("Hz"), speedSkip);
    checks.add(QStringLiteral("speed_cv"), speedName + QStringLiteral(", coefficient of variation"),
               stats.speed().cv(), QString(), speedSkip);
    checks.add(QStringLiteral("speed_min"), speedName + QStringLiteral(", minimum"),
               stats.speed().min(), QStringLiteral("Hz"), speedSkip);
    checks.add(QStringLiteral("speed_max"), speedName + QStringLiteral(", maximum"),
               stats.speed().max(), QStringLiteral("Hz"), speedSkip);
    {
        const Settling settling = speedSettling(stats);
        QString skip = speedSkip.isEmpty() ? noTimes : speedSkip;
        if (skip.isEmpty() && settling.windows < 2)
            skip = QStringLiteral("under two %1 s windows of speed: too short to judge")
                       .arg(ScanStatistics::settleWindowS);
        else if (skip.isEmpty() && !settling.settled)
            skip = QStringLiteral("did not settle within the run");
        CheckResult &c = checks.add(
            QStringLiteral("speed_settling"),
            speedName + QStringLiteral(", settling time (within ±1 % of its final mean)"),
            settling.seconds, QStringLiteral("s"), skip);
        // A sensor that never settles fails a settling limit; it is not
        // spared for being too slow to measure.
        if (settling.windows >= 2 && !settling.settled && c.high) {
            c.verdict = Verdict::Fail;
            c.note = skip;
        } else if (settling.settled) {
            c.note = QStringLiteral("final mean %1 Hz over the last quarter of the run; %2 s "
                                    "windows")
                         .arg(settling.finalMean, 0, 'f', 3)
                         .arg(ScanStatistics::settleWindowS);
        }
    }

    const Histogram &intervals = stats.intervalHistogram();
    checks.add(QStringLiteral("scan_rate"), QStringLiteral("Scan rate"), stats.scanRate(),
               QStringLiteral("Hz"), noTimes);
    checks.add(QStringLiteral("scan_interval_spread"),
               QStringLiteral("Scan interval spread (95th percentile - median)"),
               intervals.quantile(0.95) - intervals.quantile(0.5), QStringLiteral("ms"), noTimes);
    checks.add(QStringLiteral("stalls"), QStringLiteral("Stalls (intervals over 3 periods)"),
               stats.scans() > 1 ? static_cast<double>(stats.stalls()) : std::nan(""), QString(),
               noTimes);

    // Points.
    checks.require(QStringLiteral("points_per_scan_mean"), QStringLiteral("Points per scan, mean"),
                   stats.pointsPerScan().mean(), QString(), QStringLiteral("no scan"));
    checks.add(QStringLiteral("points_per_scan_min"), QStringLiteral("Points per scan, minimum"),
               stats.pointsPerScan().min(), QString(), noScans);
    checks.add(QStringLiteral("valid_ratio_mean"), QStringLiteral("Valid ratio, mean"),
               stats.validRatio().mean(), QString(), noScans);
    checks.add(QStringLiteral("valid_ratio_min"), QStringLiteral("Valid ratio, minimum"),
               stats.validRatio().min(), QString(), noScans);

    // Packet integrity.
    const QString errorName =
        frames ? QStringLiteral("Lost frames") : QStringLiteral("Packet errors");
    const QString lostSkip = frames ? noTimes : QString();
    checks.add(QStringLiteral("errors_per_1000"), errorName + QStringLiteral(" per 1000 frames"),
               stats.errorsPer1000(), QString(), lostSkip);
    checks.add(QStringLiteral("errors"), errorName, static_cast<double>(stats.errors()), QString(),
               lostSkip);

    if (stats.joiningErrors() > 0)
        report.notes << QStringLiteral(
                            "%1 packet error(s) while the decoder joined the stream (before "
                            "the first scan one period after another) are not counted.")
                            .arg(stats.joiningErrors());

    // Coverage.
    const Histogram &gaps = stats.largestGap();
    checks.add(QStringLiteral("gap_median"), QStringLiteral("Largest gap, median over scans"),
               gaps.quantile(0.5), QStringLiteral("°"), noScans);
    checks.add(QStringLiteral("gap_worst"), QStringLiteral("Largest gap, worst scan"),
               gaps.count() > 0 ? gaps.quantile(1.0) : std::nan(""), QStringLiteral("°"), noScans);
    checks.add(QStringLiteral("coverage"),
               QStringLiteral("Coverage (1° bins with a return in most scans)"),
               stats.scans() > 0 ? stats.coverage() : std::nan(""), QString(), noScans);

    // Range noise, over the bins that see something in nearly every scan.
    const QVector<bool> unsteady = unsteadyBins(stats);
    QVector<double> all, near, mid, far;
    int marked = 0;
    for (int i = 0; i < ScanStatistics::binCount; ++i) {
        if (!countsForNoise(stats, unsteady, i)) {
            marked += stats.steady(i) ? 1 : 0;
            continue;
        }
        const double sigma = stats.binSigma(i), median = stats.binMedian(i);
        all.append(sigma);
        (median < 1000 ? near : median <= 3000 ? mid : far).append(sigma);
    }
    const QString noBins = QStringLiteral("no steady bin");
    const QString noBand = QStringLiteral("no steady bin in this band");
    checks.add(QStringLiteral("noise_median"), QStringLiteral("Range noise σ, median of bins"),
               quantile(all, 0.5), QStringLiteral("mm"), all.isEmpty() ? noBins : QString());
    checks.add(QStringLiteral("noise_p95"), QStringLiteral("Range noise σ, 95th percentile"),
               quantile(all, 0.95), QStringLiteral("mm"), all.isEmpty() ? noBins : QString());
    checks.add(QStringLiteral("noise_p95_near"),
               QStringLiteral("Range noise σ, 95th pct. under 1 m"), quantile(near, 0.95),
               QStringLiteral("mm"), near.isEmpty() ? noBand : QString());
    checks.add(QStringLiteral("noise_p95_mid"), QStringLiteral("Range noise σ, 95th pct. 1-3 m"),
               quantile(mid, 0.95), QStringLiteral("mm"), mid.isEmpty() ? noBand : QString());
    checks.add(QStringLiteral("noise_p95_far"), QStringLiteral("Range noise σ, 95th pct. over 3 m"),
               quantile(far, 0.95), QStringLiteral("mm"), far.isEmpty() ? noBand : QString());
    report.notes << QStringLiteral(
        "The range noise assumes a static scene: it is the spread of each 1° bin's distance "
        "across scans (around the bin's slope with angle), over the bins with a return in at "
        "least 80 % of the scans.");
    if (marked > 0)
        report.notes << QStringLiteral("%1 of those bins look like moving objects or edges (their "
                                       "returns jump between surfaces) and are marked in the plot "
                                       "and left out of the noise figures.")
                            .arg(marked);

    // Reference targets.
    for (int t = 0; t < stats.references().size(); ++t) {
        const ReferenceTarget &target = stats.references()[t];
        const RunningStats &measured = stats.referenceStats(t);
        const QString what = QStringLiteral("Reference %1 at %2 mm (±%3)")
                                 .arg(degrees(target.angle))
                                 .arg(target.distance)
                                 .arg(degrees(target.halfWidth));
        const QString none = QStringLiteral("no return in the sector");
        checks.require(QStringLiteral("reference_bias"), what + QStringLiteral(": bias"),
                       measured.mean() - target.distance, QStringLiteral("mm"), none);
        checks.require(QStringLiteral("reference_sigma"), what + QStringLiteral(": σ"),
                       measured.stddev(), QStringLiteral("mm"), none);
        const DriftFit drift = referenceDrift(stats, t);
        QString driftSkip = noTimes;
        if (driftSkip.isEmpty() && drift.windows < 2)
            driftSkip = measured.count() == 0
                            ? none
                            : QStringLiteral("under two %1 s windows with returns: too short "
                                             "to judge")
                                  .arg(ScanStatistics::driftWindowS);
        else if (driftSkip.isEmpty() && !(drift.standardError <= DriftFit::judgedWithin))
            driftSkip = QStringLiteral("%1 ± %2 mm/min (one standard error): too short or noisy "
                                       "to judge")
                            .arg(drift.slopeMmPerMin, 0, 'f', 2)
                            .arg(drift.standardError, 0, 'f', 2);
        CheckResult &driftCheck =
            checks.add(QStringLiteral("reference_drift"), what + QStringLiteral(": drift"),
                       drift.slopeMmPerMin, QStringLiteral("mm/min"), driftSkip);
        if (driftSkip.isEmpty())
            driftCheck.note = QStringLiteral("± %1 mm/min (one standard error) over %2 windows")
                                  .arg(drift.standardError, 0, 'f', 2)
                                  .arg(drift.windows);
    }
    return report;
}
