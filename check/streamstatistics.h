#ifndef VANTOSCOPE_CHECK_STREAMSTATISTICS_H
#define VANTOSCOPE_CHECK_STREAMSTATISTICS_H

#include "points/sensorscan.h"
#include "runningstats.h"

// The figures of a stream that do not look at the points: timing, rotation
// speed (or frame rate), stalls, packet errors, points per scan and the
// valid ratio, gathered scan by scan in memory that does not grow with the
// run. The bench check keeps one for the whole run; the live health feeds
// one the last few seconds again and again.
class StreamStatistics
{
public:
    // `nominalScanHz`: the model's rotation (or frame) rate, which stalls are
    // measured against. `commandProtocol`: frames, not revolutions — the
    // frame rate comes from the frame intervals and lost frames from gaps in
    // them.
    StreamStatistics(double nominalScanHz, bool commandProtocol);

    // `scan.time` is nanoseconds on the run's clock; `startNs` is the run's
    // start on that clock (the port opened, or the capture's first record).
    void setStart(qint64 startNs) { runStart = startNs; }
    void add(const SensorScan &scan);
    // The line was lost; the next scan comes after it is back. The outage
    // counts as one stall and its time is left out of the timing.
    void lineLost() { lineAway = scanCount > 0; }
    // Frames the decoders accepted, for the error rate.
    void setAcceptedFrames(qint64 frames) { accepted = frames; }

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
    // Packet errors per 1000 frames seen; NaN before any frame.
    double errorsPer1000() const;

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

protected:
    // Seconds from the start to `scan`.
    double sinceStart(const SensorScan &scan) const { return (scan.time - runStart) / 1e9; }

private:
    void addSpeed(double sinceStart, double value);

    double nominal;
    bool frames;
    qint64 runStart = 0;
    qint64 firstTime = 0, lastTime = 0;
    long long scanCount = 0;
    long long stallCount = 0;
    long long lostFrames = 0;
    long long lastErrors = 0;
    long long joinErrors = 0;
    long long carriedErrors = 0; // counted before the decoder's count started afresh
    qint64 timingStart = 0;
    qint64 awayNs = 0;
    bool lineAway = false;
    long long timedScans = 0;
    bool settling = true;
    qint64 accepted = 0;
    RunningStats speedStats, intervalStats, pointStats, validStats;
    Histogram intervalHist{0.1, 20000}; // 0.1 ms up to 2 s
    DownsampledSeries speedOverTime, errorsOverTime, speedWindows;
};

#endif
