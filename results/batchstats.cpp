#include "batchstats.h"

#include <QHash>
#include <algorithm>
#include <cmath>
#include <limits>

namespace Batch {

namespace {

double indexFor(double distance, double sigma)
{
    if (sigma > 0)
        return distance / (3 * sigma);
    // Every value the same and right on the limit: no index is defined.
    if (distance == 0)
        return std::nan("");
    return distance > 0 ? std::numeric_limits<double>::infinity()
                        : -std::numeric_limits<double>::infinity();
}

double worstSide(double mean, double sigma, std::optional<double> low, std::optional<double> high)
{
    if (!std::isfinite(sigma) || (!low && !high))
        return std::nan("");
    double index = std::numeric_limits<double>::infinity();
    for (const double side : {low ? indexFor(mean - *low, sigma) : index,
                              high ? indexFor(*high - mean, sigma) : index}) {
        if (std::isnan(side))
            return side;
        index = std::min(index, side);
    }
    return index;
}

// Whether `count` of the `window` points ending at `i`, `i` among them,
// lie beyond `limit` σ on the side of point `i`.
bool beyondOnSide(const QVector<double> &z, int i, int window, int count, double limit)
{
    if (i + 1 < window)
        return false;
    const double side = z[i] > 0 ? 1 : -1;
    if (side * z[i] <= limit)
        return false;
    int beyond = 0;
    for (int k = i - window + 1; k <= i; ++k)
        beyond += side * z[k] > limit;
    return beyond >= count;
}

} // namespace

Capability capability(const QVector<double> &values, std::optional<double> low,
                      std::optional<double> high)
{
    Capability c;
    c.n = static_cast<int>(values.size());
    c.ppk = c.cpk = c.sigma = c.sigmaWithin = std::nan("");
    if (c.n == 0) {
        c.mean = c.min = c.max = std::nan("");
        return c;
    }
    double sum = 0;
    c.min = c.max = values[0];
    for (double v : values) {
        sum += v;
        c.min = std::min(c.min, v);
        c.max = std::max(c.max, v);
    }
    c.mean = sum / c.n;
    if (c.n < 2)
        return c;
    double squares = 0, ranges = 0;
    for (int i = 0; i < c.n; ++i) {
        squares += (values[i] - c.mean) * (values[i] - c.mean);
        if (i > 0)
            ranges += std::fabs(values[i] - values[i - 1]);
    }
    c.sigma = std::sqrt(squares / (c.n - 1));
    c.sigmaWithin = ranges / (c.n - 1) / d2;
    // Equal values whose mean picked up a rounding error have no spread.
    const double resolution = 1e-12 * std::max(1.0, std::fabs(c.mean));
    if (c.sigma < resolution)
        c.sigma = 0;
    if (c.sigmaWithin < resolution)
        c.sigmaWithin = 0;
    c.ppk = worstSide(c.mean, c.sigma, low, high);
    c.cpk = worstSide(c.mean, c.sigmaWithin, low, high);
    return c;
}

QVector<int> westernElectric(const QVector<double> &values, double centre, double sigma)
{
    const int n = static_cast<int>(values.size());
    QVector<int> flags(n, 0);
    if (!(sigma > 0) || !std::isfinite(sigma) || !std::isfinite(centre))
        return flags;
    QVector<double> z(n);
    for (int i = 0; i < n; ++i)
        z[i] = (values[i] - centre) / sigma;
    for (int i = 0; i < n; ++i) {
        if (std::fabs(z[i]) > 3)
            flags[i] |= BeyondThree;
        if (beyondOnSide(z, i, 3, 2, 2))
            flags[i] |= TwoOfThreeBeyond;
        if (beyondOnSide(z, i, 5, 4, 1))
            flags[i] |= FourOfFiveBeyond;
        if (i >= 7) {
            bool above = true, below = true;
            for (int k = i - 7; k <= i; ++k) {
                above = above && z[k] > 0;
                below = below && z[k] < 0;
            }
            if (above || below)
                flags[i] |= EightOnOneSide;
        }
    }
    return flags;
}

Yield yieldOf(const QVector<RunRecord> &runs)
{
    Yield y;
    y.runs = static_cast<int>(runs.size());
    struct UnitRuns
    {
        int first = -1, last = -1, count = 0;
    };
    QHash<QString, UnitRuns> units;
    auto consider = [&](UnitRuns &u, int i) {
        const RunRecord &r = runs[i];
        // Attempts first; the start breaks ties (and orders runs whose
        // attempts are not known).
        if (u.first < 0 || r.attempt < runs[u.first].attempt)
            u.first = i;
        if (u.last < 0 || r.attempt >= runs[u.last].attempt)
            u.last = i;
        ++u.count;
    };
    for (int i = 0; i < runs.size(); ++i) {
        if (runs[i].unit.isEmpty()) {
            ++y.units;
            y.firstPass += runs[i].passed();
            y.finalPass += runs[i].passed();
            continue;
        }
        consider(units[runs[i].unit], i);
    }
    for (const UnitRuns &u : units) {
        ++y.units;
        y.firstPass += runs[u.first].passed();
        y.finalPass += runs[u.last].passed();
        y.retested += u.count > 1;
    }
    return y;
}

QString indexText(double index)
{
    if (std::isnan(index))
        return QStringLiteral("-");
    if (std::isinf(index))
        return index > 0 ? QStringLiteral("∞") : QStringLiteral("-∞");
    return QString::number(index, 'f', 2);
}

QString shareText(int part, int whole)
{
    if (whole <= 0)
        return QStringLiteral("-");
    return QStringLiteral("%1 of %2 (%3 %)")
        .arg(part)
        .arg(whole)
        .arg(100.0 * part / whole, 0, 'f', 1);
}

QVector<QString> seriesKeys(const RunRecord &run)
{
    QVector<QString> keys;
    QHash<QString, int> seen;
    for (const StoredMeasurement &m : run.measurements) {
        const int occurrence = ++seen[m.key];
        keys.append(occurrence == 1 ? m.key : QStringLiteral("%1#%2").arg(m.key).arg(occurrence));
    }
    return keys;
}

namespace {

// A series key of the batch (a check key and its occurrence in a run,
// "bias#2") and where the batch last had it.
struct SeriesSlot
{
    QString key;
    int series = -1; // in Summary::checks, from its first value on
    int failures = 0;
    int latest = -1;      // the row of its latest measurement
    int latestValue = -1; // and of its latest value
};

Measured::Verdict verdictCode(const QString &verdict)
{
    if (verdict == QLatin1String("fail"))
        return Measured::Failed;
    if (verdict == QLatin1String("skipped"))
        return Measured::Skipped;
    return Measured::Other;
}

} // namespace

Summary summarise(const QVector<RunRecord> &runs, const MeasuredBatch &batch, const Labeller &label)
{
    Summary s;
    s.yield = yieldOf(runs);
    const int keyCount = static_cast<int>(batch.keys.size());
    QVector<SeriesSlot> seriesSlots;
    QHash<QString, int> slotOf;
    QVector<QVector<int>> slotOfOccurrence(keyCount); // [key][occurrence - 1]
    QVector<int> lastRun(keyCount, -1), occurrences(keyCount, 0);
    QVector<int> failingOrder;
    QVector<int> seriesSlot; // per entry of s.checks
    for (int i = 0; i < static_cast<int>(batch.rows.size()); ++i) {
        const Measured &m = batch.rows[i];
        if (lastRun[m.key] != m.run) {
            lastRun[m.key] = m.run;
            occurrences[m.key] = 0;
        }
        const int occurrence = ++occurrences[m.key];
        QVector<int> &known = slotOfOccurrence[m.key];
        if (known.size() < occurrence) {
            const QString &key = batch.keys[m.key];
            const QString text =
                occurrence == 1 ? key : QStringLiteral("%1#%2").arg(key).arg(occurrence);
            auto at = slotOf.constFind(text);
            if (at == slotOf.constEnd()) {
                at = slotOf.insert(text, static_cast<int>(seriesSlots.size()));
                seriesSlots.append({text});
            }
            known.append(*at);
        }
        const int slotIndex = known[occurrence - 1];
        SeriesSlot &slot = seriesSlots[slotIndex];
        slot.latest = i;
        const bool failed = m.verdict == Measured::Failed;
        if (failed) {
            if (slot.failures == 0)
                failingOrder.append(slotIndex);
            ++slot.failures;
            ++s.failures;
        }
        if (!std::isfinite(m.value) || m.verdict == Measured::Skipped)
            continue;
        if (slot.series < 0) {
            slot.series = static_cast<int>(s.checks.size());
            seriesSlot.append(slotIndex);
            CheckSeries fresh;
            fresh.key = slot.key;
            s.checks.append(fresh);
        }
        CheckSeries &c = s.checks[slot.series];
        c.values.append(m.value);
        c.runs.append(m.run);
        c.failures += failed;
        slot.latestValue = i;
    }

    // A series is named and limited as its latest value was; a failing
    // check as its latest measurement.
    std::vector<Measured> wanted;
    for (int slotIndex : seriesSlot)
        wanted.push_back(batch.rows[seriesSlots[slotIndex].latestValue]);
    for (int slotIndex : failingOrder)
        wanted.push_back(batch.rows[seriesSlots[slotIndex].latest]);
    QVector<MeasuredLabel> labels = label ? label(wanted) : QVector<MeasuredLabel>();
    labels.resize(static_cast<int>(wanted.size()));
    for (int k = 0; k < s.checks.size(); ++k) {
        CheckSeries &c = s.checks[k];
        const MeasuredLabel &l = labels[k];
        c.name = l.name;
        c.unit = l.unit;
        c.low = l.low;
        c.high = l.high;
        c.capability = capability(c.values, c.low, c.high);
        c.flags = westernElectric(c.values, c.capability.mean, c.capability.sigmaWithin);
    }
    for (int k = 0; k < failingOrder.size(); ++k) {
        const SeriesSlot &slot = seriesSlots[failingOrder[k]];
        s.pareto.append({slot.key, labels[s.checks.size() + k].name, slot.failures, 0, 0});
    }
    std::stable_sort(
        s.pareto.begin(), s.pareto.end(),
        [](const ParetoEntry &a, const ParetoEntry &b) { return a.failures > b.failures; });
    int running = 0;
    for (ParetoEntry &p : s.pareto) {
        running += p.failures;
        p.share = double(p.failures) / s.failures;
        p.cumulative = double(running) / s.failures;
    }
    return s;
}

Summary summarise(const QVector<RunRecord> &runs)
{
    MeasuredBatch batch;
    QHash<QString, int> keys;
    for (int r = 0; r < runs.size(); ++r) {
        const QVector<StoredMeasurement> &measurements = runs[r].measurements;
        for (int k = 0; k < measurements.size(); ++k) {
            const StoredMeasurement &m = measurements[k];
            auto at = keys.constFind(m.key);
            if (at == keys.constEnd()) {
                at = keys.insert(m.key, static_cast<int>(batch.keys.size()));
                batch.keys.append(m.key);
            }
            batch.rows.push_back(
                {r, k, *at, m.isNumber() ? m.value : std::nan(""), verdictCode(m.verdict)});
        }
    }
    return summarise(runs, batch, [&](const std::vector<Measured> &rows) {
        QVector<MeasuredLabel> labels;
        labels.reserve(static_cast<int>(rows.size()));
        for (const Measured &m : rows) {
            const StoredMeasurement &stored = runs[m.run].measurements[m.position];
            labels.append({stored.name, stored.unit, stored.low, stored.high});
        }
        return labels;
    });
}

} // namespace Batch
