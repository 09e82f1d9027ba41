#ifndef VANTOSCOPE_CHECK_SENSORCHECK_H
#define VANTOSCOPE_CHECK_SENSORCHECK_H

#include "benchprofile.h"
#include "evaluation.h"
#include "scanstatistics.h"
#include "session/sensorsession.h"

#include <QObject>
#include <QTimer>

class CaptureReader;
class QIODevice;

// One sensor under test: a session of its own, fed from a port or a capture,
// with the statistics its checks are computed from.
class SensorCheck : public QObject
{
    Q_OBJECT
public:
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
    int reconnects() const { return reconnectCount; }
    // Replays a capture as fast as it reads, with the decoders' time taken
    // from its timestamps; false with `error` when it cannot be read at all.
    bool runCapture(const QString &path, QString *error);
    // As runCapture(path), from a device open for reading (raw bytes
    // without a pcapng header).
    bool runCapture(QIODevice *device, QString *error);

    qint64 bytes() const { return facts.bytes; }
    long long scans() const { return stats.scans(); }
    bool deviceLost() const { return lost; }
    // Damage or a cut found in a capture, for the report's notes.
    QString captureProblem() const { return problem; }
    const ScanStatistics &statistics() const { return stats; }
    SensorSession &session() { return sensor; }

    // The checks; the caller fills in the report's header fields.
    CheckReport report() const;

private:
    void replay(CaptureReader &reader);
    void lineLost();
    void lookForPort();

    SensorSession sensor;
    BenchProfile limits;
    ScanStatistics stats;
    LinkFacts facts;
    QString modelName;
    QString problem;
    bool lost = false;
    bool reconnect = false;
    int losses = 0;
    int reconnectCount = 0;
    QString portPath;
    QTimer returnPoll;
};

#endif
