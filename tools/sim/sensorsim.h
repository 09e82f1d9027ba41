#ifndef VANTOSCOPE_SIM_SENSORSIM_H
#define VANTOSCOPE_SIM_SENSORSIM_H

#include "scene.h"
#include "simmodels.h"

#include <QByteArray>
#include <QVector>
#include <cstdint>
#include <functional>
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

// How long a capture runs and how it is cut into chunks.
struct CapturePlan
{
    int scans = 10;       // complete scans, when `seconds` is 0
    double seconds = 0.0; // stream time instead of a scan count
    // Stream time per chunk; 0: as the raw capture has always been cut
    // (10 ms for the streaming models, one frame interval for Fir and Maple).
    double step = 0.0;
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

// What the sensor reports in its information record.
struct SimIdentity
{
    uint32_t firmwareWord = 0x0102000A; // v1.2.10
    uint32_t hardwareVersion = 0x1F;
};

// One simulated sensor: produces the bytes it would send over time and
// answers the commands it receives. It knows nothing of ports or clocks;
// the caller says what time it is.
class SensorSim
{
public:
    SensorSim(const SimModel &model, uint32_t seed, const SimFaults &faults,
              const SimIdentity &identity);

    // Bytes sent between the previous call and time `t` (seconds from start).
    QByteArray advance(double t);
    // Takes bytes written to the sensor at time `t`; returns its replies.
    QByteArray receive(const QByteArray &bytes, double t);

    // Command-protocol models stream only between a start and a stop command;
    // streaming models always do.
    bool streaming() const { return streaming_; }
    // Complete revolutions (streaming) or sample frames (command protocol) sent.
    int scansSent() const { return scansSent_; }
    const QVector<int> &commandsSeen() const { return commandsSeen_; }
    // The clean stretches that ended since the last call (with a fault
    // period; a stretch ends when a scan touched by the faults completes).
    QVector<CleanStretch> takeCleanStretches();
    // The first scan of the fault-free run in progress, or the next scan to
    // complete when there is none: earlier scans belong to no future stretch.
    int cleanRunStart() const { return cleanRunFirst > 0 ? cleanRunFirst : scansSent_ + 1; }
    QString versionText() const;

    // The sensor's replies, as it sends them.
    QByteArray informationReply() const;
    QByteArray calibrationReply() const;
    QByteArray columnsReply() const;

    // A capture of `scans` complete scans, as a decoder would need them from
    // power-on: for the command-protocol models the calibration (and columns)
    // reply first, then the information reply and the scan data.
    QByteArray capture(int scans);
    // The same, handed over chunk by chunk as it is made, each with the
    // stream time (seconds) by which it was sent. A false from the sink stops
    // the capture, and capture() returns false.
    using ChunkSink = std::function<bool(const QByteArray &bytes, double t)>;
    bool capture(const CapturePlan &plan, const ChunkSink &sink);

private:
    void appendFrame(QByteArray &out, QByteArray frame, double frameTime);
    bool faultsOnAt(double t) const;
    void scanCompleted();
    QByteArray streamingFrames(double t);
    QByteArray sampleFrames(double t);
    QByteArray sampleFrame(double t);
    void pointAt(double angle, double t, uint16_t &distance, uint8_t &confidence);
    void handleCommand(uint8_t command, QByteArray &replies, double t);
    void startStreaming(double t);
    double jitteredHz(double nominal);

    SimModel model;
    SimFaults faults;
    SimIdentity identity;
    Scene scene;
    std::mt19937 rng;
    std::mt19937 knobRng; // draws of the measurement faults only
    bool streaming_;
    int scansSent_ = 0;
    QVector<int> commandsSeen_;
    QByteArray input;
    // Fault periods: whether the scan in progress met the faults, the run of
    // untouched scans so far and the stretches not yet taken.
    bool scanTouched = false;
    int cleanRunFirst = 0;
    QVector<CleanStretch> endedStretches;

    // Streaming models: the index of the next sample and the angle of sample 0.
    int64_t nextSample = 0;
    int wraps = 0;
    double startAngle = 300.0;
    // With speed jitter: the angle of the next sample (0..360) and the speed
    // of the revolution it belongs to.
    double sampleAngle = 300.0;
    double revolutionHz = 0.0;
    // Command-protocol models: when streaming started and frames sent since.
    double streamStart = 0.0;
    int64_t framesSent = 0;
    double nextFrameAt = 0.0; // with speed jitter
    int columns = 320;
};

#endif
