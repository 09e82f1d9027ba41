#ifndef VANTOSCOPE_SIM_SENSORSIM_H
#define VANTOSCOPE_SIM_SENSORSIM_H

#include "commandsensor.h"
#include "faultinjector.h"
#include "simhead.h"
#include "simmodels.h"
#include "streamingsensor.h"

#include <QByteArray>
#include <QVector>
#include <cstdint>
#include <functional>

// How long a capture runs and how it is cut into chunks.
struct CapturePlan
{
    int scans = 10;       // complete scans, when `seconds` is 0
    double seconds = 0.0; // stream time instead of a scan count
    // Stream time per chunk; 0: as the raw capture has always been cut
    // (10 ms for the streaming models, one frame interval for Fir and Maple).
    double step = 0.0;
};

// What the sensor reports in its information record.
struct SimIdentity
{
    uint32_t firmwareWord = 0x0102000A; // v1.2.10
    uint32_t hardwareVersion = 0x1F;
};

// One simulated sensor: produces the bytes it would send over time and
// answers the commands it receives. It knows nothing of ports or clocks;
// the caller says what time it is. A streaming or a command-protocol sensor
// by the model, both behind the same fault injection.
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
    bool streaming() const;
    // Complete revolutions (streaming) or sample frames (command protocol) sent.
    int scansSent() const { return head.scansSent; }
    const QVector<int> &commandsSeen() const { return commandsSeen_; }
    // The clean stretches that ended since the last call (with a fault
    // period; a stretch ends when a scan touched by the faults completes).
    QVector<CleanStretch> takeCleanStretches() { return head.injector.takeCleanStretches(); }
    // The first scan of the fault-free run in progress, or the next scan to
    // complete when there is none: earlier scans belong to no future stretch.
    int cleanRunStart() const { return head.injector.cleanRunStart(head.scansSent + 1); }
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
    void handleCommand(uint8_t command, QByteArray &replies, double t);

    SimHead head;
    SimIdentity identity;
    bool silentHandshake;
    StreamingSensor streamer;
    CommandSensor commander;
    QVector<int> commandsSeen_;
    QByteArray input;
};

#endif
