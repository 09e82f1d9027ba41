#ifndef VANTOSCOPE_CHECK_SCANSTATISTICS_H
#define VANTOSCOPE_CHECK_SCANSTATISTICS_H

#include "streamstatistics.h"

#include <QVector>
#include <array>
#include <vector>

// Folds an angle in degrees into [0, 360).
double normalizedAngle(double degrees);

// A known distance in a sector of the scene, from --reference.
struct ReferenceTarget
{
    double angle = 0;     // degrees
    double distance = 0;  // millimetres
    double halfWidth = 1; // degrees either side of `angle`
};

// Everything the bench checks are computed from, gathered scan by scan in
// memory that does not grow with the run: the stream's figures, running
// statistics per 1° angle bin, fixed histograms for the quantiles and
// thinned time series for the plots. No scan is kept.
class ScanStatistics : public StreamStatistics
{
public:
    static constexpr int binCount = 360;
    static constexpr double distanceBucketMm = 10.0;
    static constexpr int distanceBuckets = 1600; // up to 16 m
    // A bin counts towards the range noise when it has a return in this
    // share of the scans.
    static constexpr double steadyShare = 0.8;

    struct Bin
    {
        int scansWithReturn = 0;
        long long points = 0;
        // Least-squares line of distance over the angle offset from the bin's
        // centre, in sums relative to the bin's first distance: a wall seen
        // at a slant changes its distance within one degree, which is
        // geometry, not noise.
        double reference = 0;
        double sx = 0, sy = 0, sxx = 0, sxy = 0, syy = 0;
        QVector<quint32> distances; // histogram, distanceBucketMm wide, filled lazily
    };

    // As StreamStatistics, with the known distances to follow.
    ScanStatistics(double nominalScanHz, bool commandProtocol,
                   QVector<ReferenceTarget> references = {});

    void add(const SensorScan &scan);
    // The part of the turn the sensor sees: `width` degrees centred on
    // `centre` (360: all of it). Gaps and coverage count inside it.
    void setFieldOfView(double centre, double width);
    bool inFieldOfView(int bin) const;
    double fieldOfView() const { return fanWidth; }

    const Histogram &largestGap() const { return gapHist; } // degrees
    // Share of the 1° bins in the field of view with a return in most scans.
    double coverage() const;

    const std::array<Bin, binCount> &bins() const { return angleBins; }
    // Share of the scans with a return in bin `i`.
    double returnShare(int i) const;
    // Standard deviation of the distance in bin `i` around its line; NaN
    // with fewer than three points.
    double binSigma(int i) const;
    // Median distance of bin `i` (to a distance bucket); NaN without returns.
    double binMedian(int i) const;
    bool steady(int i) const { return returnShare(i) >= steadyShare && !std::isnan(binSigma(i)); }

    const QVector<ReferenceTarget> &references() const { return targets; }
    const RunningStats &referenceStats(int i) const { return targetStats[i]; }
    // Reference `i`'s distances in windows of driftWindowS seconds from the
    // start (wider after driftWindowS × 512 s), and the mean time of the
    // returns in each window, which the drift is fitted against.
    const DownsampledSeries &referenceSeries(int i) const { return targetSeries[i]; }
    const DownsampledSeries &referenceTimes(int i) const { return targetTimes[i]; }
    static constexpr double driftWindowS = 10.0;

private:
    void addPoints(const SensorScan &scan, double sinceStart);
    // Degrees from the centre of the field of view, -180 .. 180.
    double fromCentre(double angle) const { return normalizedAngle(angle - fanCentre + 180) - 180; }

    QVector<ReferenceTarget> targets;
    QVector<RunningStats> targetStats;
    QVector<DownsampledSeries> targetSeries, targetTimes;
    Histogram gapHist{0.01, 36000}; // 0.01° up to 360°
    std::array<Bin, binCount> angleBins;
    double fanCentre = 0, fanWidth = 360;
    std::vector<double> validAngles; // of the scan being added
};

#endif
