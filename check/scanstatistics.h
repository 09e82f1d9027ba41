#ifndef VANTOSCOPE_CHECK_SCANSTATISTICS_H
#define VANTOSCOPE_CHECK_SCANSTATISTICS_H

#include "points/sensorscan.h"
#include "runningstats.h"

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
// memory that does not grow with the run: running statistics per 1° angle
// bin and per figure, fixed histograms for the quantiles and thinned time
// series for the plots. No scan is kept.
class ScanStatistics
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

    // `nominalScanHz`: the model's rotation (or frame) rate, which stalls are
    // measured against. `commandProtocol`: frames, not revolutions — the
    // frame rate comes from the frame intervals and lost frames from gaps in
    // them.
    ScanStatistics(double nominalScanHz, bool commandProtocol,
                   QVector<ReferenceTarget> references = {});

    // `scan.time` is nanoseconds on the run's clock; `startNs` is the run's
    // start on that clock (the port opened, or the capture's first record).
    void setStart(qint64 startNs) { runStart = startNs; }
    void add(const SensorScan &scan);
    // The line was lost; the next scan comes after it is back. The outage
    // counts as one stall and its time is left out of the timing.
    void lineLost() { lineAway = scanCount > 0; }
    // Frames the decoders accepted, for the error rate.
    void setAcceptedFrames(qint64 frames) { accepted = frames; }
    // The part of the turn the sensor sees: `width` degrees centred on
    // `centre` (360: all of it). Gaps and coverage count inside it.
    void setFieldOfView(double centre, double width);
    bool inFieldOfView(int bin) const;
    double fieldOfView() const { return fanWidth; }

    long long scans() const { return scanCount; }
    bool commandProtocol() const { return frames; }
    double nominalHz() const { return nominal; }
    // Seconds from the start to the first scan; NaN without a scan.
    double timeToFirstScan() const;
    // Seconds from the first to the last scan.
    double span() const;
    // Seconds from the first timed scan to the last: scans that arrived
    // together from the line's buffer when the port opened are not timed.
    double timedSpan() const;
    // Scans per second from the first timed and the last scan's times.
    double scanRate() const;

    // Rotation speed in rev/s as the sensor reports it (streaming), or the
    // frame rate in frames/s from each frame interval (command protocol).
    const RunningStats &speed() const { return speedStats; }
    const RunningStats &intervals() const { return intervalStats; }     // seconds
    const Histogram &intervalHistogram() const { return intervalHist; } // milliseconds
    long long stalls() const { return stallCount; }
    const RunningStats &pointsPerScan() const { return pointStats; }
    const RunningStats &validRatio() const { return validStats; }
    // Packet errors the decoder counted (streaming), or frames missing from
    // the frame sequence (command protocol).
    long long errors() const
    {
        return frames ? lostFrames : carriedErrors + lastErrors - joinErrors;
    }
    // Packet errors the decoder counted before the timing started, while it
    // joined the stream; not in errors().
    long long joiningErrors() const { return frames ? 0 : joinErrors; }
    // Frames the errors are counted against: accepted plus lost or rejected.
    long long framesSeen() const { return accepted + errors(); }
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
    // The speed (or frame rate) in windows of settleWindowS seconds from the
    // start, which the settling time is judged on: single scans of a sound
    // sensor scatter by about the settling band.
    const DownsampledSeries &settleSeries() const { return speedWindows; }
    static constexpr double settleWindowS = 1.0;
    // Seconds from the start to the first scan; 0 without a scan.
    double firstScanSinceStart() const
    {
        return scanCount > 0 ? (firstTime - runStart) / 1e9 : 0.0;
    }

    // Seconds from the start against the speed (or frame rate) and the
    // packet errors that arrived in each bucket.
    const DownsampledSeries &speedSeries() const { return speedOverTime; }
    const DownsampledSeries &errorSeries() const { return errorsOverTime; }

private:
    void addPoints(const SensorScan &scan, double sinceStart);
    void addSpeed(double sinceStart, double value);
    // Degrees from the centre of the field of view, -180 .. 180.
    double fromCentre(double angle) const { return normalizedAngle(angle - fanCentre + 180) - 180; }

    double nominal;
    bool frames;
    QVector<ReferenceTarget> targets;
    QVector<RunningStats> targetStats;
    QVector<DownsampledSeries> targetSeries, targetTimes;
    qint64 runStart = 0;
    qint64 firstTime = 0, lastTime = 0;
    long long scanCount = 0;
    long long stallCount = 0;
    long long lostFrames = 0;
    long long lastErrors = 0;
    long long joinErrors = 0;
    long long carriedErrors = 0; // counted before a session started afresh
    qint64 timingStart = 0;
    qint64 awayNs = 0;
    bool lineAway = false;
    long long timedScans = 0;
    bool settling = true;
    qint64 accepted = 0;
    RunningStats speedStats, intervalStats, pointStats, validStats;
    Histogram intervalHist{0.1, 20000}; // 0.1 ms up to 2 s
    Histogram gapHist{0.01, 36000};     // 0.01° up to 360°
    std::array<Bin, binCount> angleBins;
    double fanCentre = 0, fanWidth = 360;
    std::vector<double> validAngles; // of the scan being added
    DownsampledSeries speedOverTime, errorsOverTime, speedWindows;
};

#endif
