#ifndef VANTOSCOPE_TIMESOURCE_H
#define VANTOSCOPE_TIMESOURCE_H

#include <QtGlobal>
#include <chrono>
#include <functional>

// Where the decoders take "now" from, in nanoseconds on a monotonic time
// line. Live that is the system's monotonic clock; a replayed capture gives
// the recorded timestamps instead, so figures timed by the decoders (the
// scan rate) show what the sensor did rather than how fast it was replayed.
using TimeSource = std::function<qint64()>;

inline qint64 monotonicNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

#endif
