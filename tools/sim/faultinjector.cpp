#include "faultinjector.h"

#include <cmath>
#include <cstdint>

bool FaultInjector::onAt(double t) const
{
    return faults.period <= 0 || static_cast<int64_t>(std::floor(t / faults.period)) % 2 == 0;
}

// `frameTime` is the stream time the frame was measured at; it decides whether
// the faults are on, so a capture has the same fault periods as a live run.
void FaultInjector::append(QByteArray &out, QByteArray frame, double frameTime, std::mt19937 &rng)
{
    if (!onAt(frameTime)) {
        out.append(frame);
        return;
    }
    scanTouched = true;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    if (faults.garbageRate > 0 && unit(rng) < faults.garbageRate) {
        std::uniform_int_distribution<int> length(1, 32), byte(0, 255);
        const int n = length(rng);
        for (int i = 0; i < n; ++i)
            out.append(static_cast<char>(byte(rng)));
    }
    if (faults.corruptRate > 0 && unit(rng) < faults.corruptRate && frame.size() > 4) {
        std::uniform_int_distribution<int> at(2, frame.size() - 1), bit(0, 7);
        // Two positions are drawn, as the stream has always drawn them, so
        // every later draw stays in step; the byte at the second is damaged.
        at(rng);
        const int mask = 1 << bit(rng);
        const int position = at(rng);
        frame[position] = static_cast<char>(frame[position] ^ mask);
    }
    if (faults.dropRate > 0 && unit(rng) < faults.dropRate && frame.size() > 12) {
        std::uniform_int_distribution<int> at(0, frame.size() - 11), length(1, 10);
        frame.remove(at(rng), length(rng));
    }
    out.append(frame);
}

void FaultInjector::scanCompleted(int scan)
{
    if (faults.period <= 0)
        return;
    if (scanTouched) {
        // The run was cleanRunFirst .. scan - 1; its ends are dropped.
        if (cleanRunFirst > 0 && scan - 2 >= cleanRunFirst + 1)
            endedStretches.append({cleanRunFirst + 1, scan - 2});
        cleanRunFirst = 0;
    } else if (cleanRunFirst == 0) {
        cleanRunFirst = scan;
    }
    scanTouched = false;
}

QVector<CleanStretch> FaultInjector::takeCleanStretches()
{
    QVector<CleanStretch> taken;
    taken.swap(endedStretches);
    return taken;
}
