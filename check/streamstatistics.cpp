#include "streamstatistics.h"

#include <cmath>

StreamStatistics::StreamStatistics(double nominalScanHz, bool commandProtocol)
    : nominal(nominalScanHz), frames(commandProtocol),
      // A few buckets per nominal scan at first; they widen as the run grows.
      speedOverTime(0.5), errorsOverTime(0.5), speedWindows(settleWindowS)
{
}

void StreamStatistics::addSpeed(double sinceStart, double value)
{
    speedStats.add(value);
    speedOverTime.add(sinceStart, value);
    speedWindows.add(sinceStart, value);
}

void StreamStatistics::add(const SensorScan &scan)
{
    const double since = sinceStart(scan);
    long long newErrors = 0;
    bool joining = scanCount == 0;
    if (scanCount == 0) {
        firstTime = scan.time;
    } else if (settling && !lineAway) {
        // Scans that waited in the line's buffer when the port opened come
        // together; the timing starts with the first one a period after the
        // one before it, and the errors of joining the stream (a frame cut
        // in the middle, the information reply) are counted until then.
        settling = nominal > 0 && (scan.time - lastTime) / 1e9 < 0.5 / nominal;
        joining = true;
    } else {
        // A decoder that started its count afresh (a new source after the
        // line was back, or its count cleared) counts from 0 again.
        if (!frames && scan.errors < lastErrors) {
            carriedErrors += lastErrors;
            lastErrors = 0;
        }
        if (lineAway) {
            // The time the line was away is one stall; it is not a gap in
            // the stream, so it neither times an interval nor stands for
            // lost frames.
            lineAway = false;
            ++stallCount;
            if (!settling)
                awayNs += scan.time - lastTime;
        } else {
            const double interval = (scan.time - lastTime) / 1e9;
            ++timedScans;
            intervalStats.add(interval);
            intervalHist.add(interval * 1000.0);
            if (nominal > 0 && interval > 3.0 / nominal)
                ++stallCount;
            // Frames come at a steady pace; a longer pause stands for the
            // frames that did not arrive whole.
            if (frames && interval > 0 && nominal > 0 && interval > 1.5 / nominal) {
                newErrors = std::max(0LL, std::llround(interval * nominal) - 1);
                lostFrames += newErrors;
            }
        }
    }
    if (joining) {
        timingStart = scan.time;
        timedScans = 1;
        if (!frames) {
            lastErrors = std::max(lastErrors, static_cast<long long>(scan.errors));
            joinErrors = lastErrors;
        }
    }
    lastTime = scan.time;
    ++scanCount;

    if (frames && scanCount > 1 && scan.rate > 0) {
        // The frame rate from the sensor's own frame timestamps, which the
        // host's reading pace does not blur.
        addSpeed(since, scan.rate);
    }
    if (!frames) {
        addSpeed(since, scan.speed);
        newErrors = std::max(0LL, static_cast<long long>(scan.errors) - lastErrors);
        lastErrors = std::max(lastErrors, static_cast<long long>(scan.errors));
    }
    errorsOverTime.add(since, static_cast<double>(newErrors));
    pointStats.add(scan.total);
    validStats.add(scan.total > 0 ? static_cast<double>(scan.valid) / scan.total : 0.0);
}

double StreamStatistics::timeToFirstScan() const
{
    return scanCount > 0 ? (firstTime - runStart) / 1e9 : std::nan("");
}

double StreamStatistics::span() const
{
    return scanCount > 0 ? (lastTime - firstTime) / 1e9 : 0.0;
}

double StreamStatistics::timedSpan() const
{
    return scanCount > 0 ? (lastTime - timingStart - awayNs) / 1e9 : 0.0;
}

double StreamStatistics::scanRate() const
{
    const double seconds = timedSpan();
    return timedScans > 1 && seconds > 0 ? (timedScans - 1) / seconds : std::nan("");
}

double StreamStatistics::errorsPer1000() const
{
    const long long seen = framesSeen();
    return seen > 0 ? 1000.0 * errors() / seen : std::nan("");
}
