#ifndef VANTOSCOPE_CHECK_RUNNINGSTATS_H
#define VANTOSCOPE_CHECK_RUNNINGSTATS_H

#include <QVector>
#include <algorithm>
#include <cmath>
#include <limits>

// Mean, spread and extremes of a series without keeping it (Welford's
// update, which stays accurate for long runs of nearly equal values).
class RunningStats
{
public:
    void add(double x)
    {
        ++n;
        const double delta = x - m;
        m += delta / n;
        m2 += delta * (x - m);
        lo = std::min(lo, x);
        hi = std::max(hi, x);
    }
    long long count() const { return n; }
    double mean() const { return n > 0 ? m : nan(); }
    // Sample standard deviation; NaN below two values.
    double stddev() const { return n > 1 ? std::sqrt(std::max(0.0, m2 / (n - 1))) : nan(); }
    // Coefficient of variation: standard deviation over mean.
    double cv() const { return n > 1 && m != 0 ? stddev() / std::fabs(m) : nan(); }
    double min() const { return n > 0 ? lo : nan(); }
    double max() const { return n > 0 ? hi : nan(); }

private:
    static double nan() { return std::numeric_limits<double>::quiet_NaN(); }
    long long n = 0;
    double m = 0, m2 = 0;
    double lo = std::numeric_limits<double>::infinity();
    double hi = -std::numeric_limits<double>::infinity();
};

// Counts of values in equal bins from 0 up to bins × width; values beyond
// land in the last bin, negative ones in the first. Quantiles interpolate
// within a bin, so they are good to one bin width.
class Histogram
{
public:
    Histogram(double width, int bins) : binWidth(width), counts(std::max(1, bins), 0) {}
    void add(double x)
    {
        const double at = x / binWidth;
        const int bin = at <= 0               ? 0
                        : at >= counts.size() ? counts.size() - 1
                                              : static_cast<int>(at);
        ++counts[bin];
        ++n;
    }
    long long count() const { return n; }
    double width() const { return binWidth; }
    const QVector<long long> &bins() const { return counts; }
    // The value below which a share `q` (0..1) of the values lie; NaN when empty.
    double quantile(double q) const
    {
        if (n == 0)
            return std::numeric_limits<double>::quiet_NaN();
        const double target = std::clamp(q, 0.0, 1.0) * n;
        long long below = 0;
        for (int i = 0; i < counts.size(); ++i) {
            if (counts[i] > 0 && below + counts[i] >= target)
                return (i + (target - below) / counts[i]) * binWidth;
            below += counts[i];
        }
        return counts.size() * binWidth;
    }

private:
    double binWidth;
    QVector<long long> counts;
    long long n = 0;
};

// A time series thinned to at most `capacity` buckets: each bucket keeps the
// mean, minimum and maximum of the values that fell into it. When the buckets
// run out, neighbours merge and the bucket width doubles, so an hour costs
// what a minute does.
class DownsampledSeries
{
public:
    struct Bucket
    {
        double start = 0; // seconds
        double sum = 0;
        double min = 0, max = 0;
        long long count = 0;
        double mean() const { return count > 0 ? sum / count : 0; }
    };

    explicit DownsampledSeries(double initialWidth = 1.0, int capacity = 512)
        : bucketWidth(initialWidth), limit(std::max(2, capacity & ~1))
    {
    }
    void add(double t, double value)
    {
        if (t < 0)
            t = 0;
        auto index = static_cast<long long>(t / bucketWidth);
        while (index >= limit) {
            merge();
            index = static_cast<long long>(t / bucketWidth);
        }
        while (buckets.size() <= index)
            buckets.append(Bucket{buckets.size() * bucketWidth, 0, 0, 0, 0});
        Bucket &b = buckets[static_cast<int>(index)];
        if (b.count == 0)
            b.min = b.max = value;
        b.sum += value;
        b.min = std::min(b.min, value);
        b.max = std::max(b.max, value);
        ++b.count;
    }
    double width() const { return bucketWidth; }
    const QVector<Bucket> &data() const { return buckets; }

private:
    void merge()
    {
        QVector<Bucket> merged;
        bucketWidth *= 2;
        for (int i = 0; i < buckets.size(); i += 2) {
            Bucket b = buckets[i];
            b.start = merged.size() * bucketWidth;
            if (i + 1 < buckets.size()) {
                const Bucket &o = buckets[i + 1];
                if (b.count == 0) {
                    b.min = o.min;
                    b.max = o.max;
                } else if (o.count > 0) {
                    b.min = std::min(b.min, o.min);
                    b.max = std::max(b.max, o.max);
                }
                b.sum += o.sum;
                b.count += o.count;
            }
            merged.append(b);
        }
        buckets.swap(merged);
    }

    double bucketWidth;
    int limit;
    QVector<Bucket> buckets;
};

#endif
