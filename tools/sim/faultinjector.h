#ifndef VANTOSCOPE_SIM_FAULTINJECTOR_H
#define VANTOSCOPE_SIM_FAULTINJECTOR_H

#include <QByteArray>
#include <QVector>
#include <random>

// Faults the simulated sensor can be told to make.
struct SimFaults
{
    double garbageRate = 0.0;     // chance per frame of random bytes before it
    double corruptRate = 0.0;     // chance per frame of one damaged byte (bad checksum)
    double dropRate = 0.0;        // chance per frame of losing a few of its bytes
    bool silentHandshake = false; // never answer the calibration request
    // Seconds; the faults are on for one period and off for the next, by
    // stream time, starting on. 0: always on.
    double period = 0.0;

    // Measurement faults, always on. Their random draws come from a generator
    // of their own, so with none of them set the stream is the same as before.
    double rangeNoise = -1.0; // σ in mm of the distance noise; < 0: the built-in noise
    double speedJitter = 0.0; // σ in percent of each revolution's (or frame interval's) speed
    double dropout = 0.0;     // chance per point of an extra empty return
    bool staticScene = false; // nobody walks through the room
};

// Scans sent whole while the faults were off. The first and the last scan of
// a fault-free run are left out: the first may begin on a frame sent just
// before the faults went off, and the decoder finishes the last only on the
// next frame, which may be faulty.
struct CleanStretch
{
    int firstScan = 0; // numbered as scansSent() counts them
    int lastScan = 0;
    int count() const { return lastScan - firstScan + 1; }
};

// Damages frames on their way out while the faults are on, and keeps track
// of the scans no fault touched.
class FaultInjector
{
public:
    explicit FaultInjector(const SimFaults &faults) : faults(faults) {}

    bool onAt(double t) const;
    // Appends `frame` to `out`, with the faults of its stream time
    // `frameTime` drawn from `rng`.
    void append(QByteArray &out, QByteArray frame, double frameTime, std::mt19937 &rng);

    // The scan in progress starts afresh (the stream's first scan).
    void scanStarted() { scanTouched = false; }
    // Scan number `scan` (counted from 1) is complete.
    void scanCompleted(int scan);
    QVector<CleanStretch> takeCleanStretches();
    // The first scan of the fault-free run in progress, or `nextScan` when
    // there is none.
    int cleanRunStart(int nextScan) const { return cleanRunFirst > 0 ? cleanRunFirst : nextScan; }

private:
    SimFaults faults;
    // Whether the scan in progress met the faults, the run of untouched scans
    // so far and the stretches not yet taken.
    bool scanTouched = false;
    int cleanRunFirst = 0;
    QVector<CleanStretch> endedStretches;
};

#endif
