#ifndef VANTOSCOPE_CHECK_SENSORCHECK_H
#define VANTOSCOPE_CHECK_SENSORCHECK_H

#include "benchprofile.h"
#include "evaluation.h"
#include "scanstatistics.h"
#include "session/sensorsession.h"
#include "sessioncheck.h"

#include <QObject>
#include <QTimer>
#include <functional>

class CaptureReader;
class QIODevice;

// One sensor under test: a session of its own, fed from a port or a capture,
// and the check of what it publishes.
class SensorCheck : public QObject
{
    Q_OBJECT
public:
    // `references` are checked after those of the profile.
    SensorCheck(const QString &model, const BenchProfile &profile,
                const QVector<ReferenceTarget> &references, bool filter, QObject *parent = nullptr);

    // Opens the port as the window does (handshake and information request
    // included); false with `error` when it would not open.
    bool openPort(const QString &portName, QString *error);
    // Sends the stop command and closes the port, and stops waiting for it.
    void closePort();
    // Live: when the device is lost, open the same port path again as soon
    // as it is back (looked for every 150 ms), and go on.
    void setReconnect(bool enabled) { reconnect = enabled; }
    // The device was lost and its port has not come back yet.
    bool waitingForPort() const { return returnPoll.isActive(); }
    int reconnects() const { return check.reconnects(); }
    // Replays a capture as fast as it reads, with the decoders' time taken
    // from its timestamps; false with `error` when it cannot be read at all.
    // A line loss noted in the capture counts as it did live: the outage is
    // one stall, and the decoders start afresh after it.
    bool runCapture(const QString &path, QString *error);
    // As runCapture(path), from a device open for reading (raw bytes
    // without a pcapng header).
    bool runCapture(QIODevice *device, QString *error);
    // Asked between records of a replay; when it says true, the replay
    // stops where it is (the window's Cancel, from another thread).
    void setCancelled(std::function<bool()> asked) { cancelled = std::move(asked); }

    qint64 bytes() const { return check.link().bytes; }
    long long scans() const { return check.statistics().scans(); }
    bool deviceLost() const { return check.deviceLost(); }
    // Damage or a cut found in a capture, for the report's notes.
    QString captureProblem() const { return check.captureProblem(); }
    const ScanStatistics &statistics() const { return check.statistics(); }
    SensorSession &session() { return sensor; }

    // The checks; the caller fills in the report's header fields.
    CheckReport report() const { return check.report(); }

private:
    void replay(CaptureReader &reader);
    void lookForPort();

    SensorSession sensor;
    SessionCheck check;
    QString modelName;
    bool reconnect = false;
    QString portPath;
    QTimer returnPoll;
    std::function<bool()> cancelled;
};

#endif
