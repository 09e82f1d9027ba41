#ifndef VANTOSCOPE_SENSORSESSION_H
#define VANTOSCOPE_SENSORSESSION_H

#include "debugpkg/lidarinfo.h"
#include "editions/modelrules.h"
#include "lipkg/timesource.h"
#include "points/sensorscan.h"

#include <QObject>
#include <QSerialPort>
#include <functional>

class DebugPkg;
class LiPkg;
class QTRNet;
class SessionPort;
struct TRData;

// The road from a sensor to what is published: the port, the decoders, the
// model choice and the connection sequence (open, handshake, information
// request, stop, lost device). Bytes come from the port or are pushed by a
// caller, and take the same route either way.
class SensorSession : public QObject
{
    Q_OBJECT
public:
    enum class State
    {
        Connected,    // port open; shown dark blue
        OpenError,    // the port would not open; shown dark blue
        Disconnected, // closed by the user or lost; shown dark red
    };
    Q_ENUM(State)

    explicit SensorSession(QObject *parent = nullptr);
    ~SensorSession() override;

    QSerialPort *port() const;
    LiPkg *liPkg() const { return pkg; }
    QTRNet *qtrNet() const { return trNet; }
    DebugPkg *debugPkg() const { return debug; }

    // Puts the model `name` in force in the decoders, as choosing it in the
    // device selector does, and returns what it sets.
    Edition::ModelChoice chooseModel(const QString &name);
    // The earlier edition routes, starts and stops by the device selection
    // at the moment of use, not by the model chosen last; the provider gives
    // that selection. Without one the model chosen last counts.
    void setSelectionProvider(std::function<QString()> provider);
    // Whether the stream goes to QTRNet (see setSelectionProvider).
    bool commandProtocolSelected() const;

    // Opens `portName` at `baudrate` with the sensor's link settings, raises
    // DTR, runs the handshake (command protocol) and asks for the
    // information record. Events are processed while the handshake waits;
    // close() or a lost device in that time ends it at once. True when the
    // port is still open at the end.
    bool open(const QString &portName, int baudrate);
    // Sends the stop command (command protocol) and closes the port.
    void close();
    bool isOpen() const;
    // True from the start of open() until it returns.
    bool isOpening() const { return opening; }

    // A chunk of received bytes from another source (a file, a replay).
    void push(const QByteArray &chunk);

    // Where "now" comes from for the decoders and the published scans.
    void setTimeSource(TimeSource source);
    qint64 now() const { return clock(); }
    // A capture has no handshake: take the first calibration reply found in
    // the stream instead, and set the mode a successful handshake sets.
    void setCalibrateFromStream(bool enabled) { calibrateFromStream = enabled; }

    // Frames the decoders accepted (stream packets and command frames).
    qint64 acceptedFrames() const { return frames; }

signals:
    void stateChanged(SensorSession::State state, const QString &text);
    // The port would not open; `error` is the system's reason. Comes before
    // stateChanged(OpenError).
    void openFailed(const QString &error);
    // The handshake got no answer ("connect failed"); the port stays open.
    void handshakeFailed(const QString &message);
    // The device vanished while open; stateChanged(Disconnected) follows.
    void deviceLost();
    void versionText(const QString &text);
    void scanReady(const SensorScan &scan);
    void received(const QByteArray &chunk, qint64 time);
    void written(const QByteArray &chunk, qint64 time);

private:
    void readPort();
    void handleError(QSerialPort::SerialPortError error);
    void closeAndReport(bool lost);
    void publishStreamScan();
    void publishFrameScan(const QList<PointData> &points);
    void frameDecoded(TRData *frame);

    SessionPort *serial;
    LiPkg *pkg;
    QTRNet *trNet;
    DebugPkg *debug;
    TimeSource clock = monotonicNanoseconds;
    std::function<QString()> selection;
    Edition::DecoderKind decoderKind = Edition::DecoderKind::CommandProtocol;
    qint64 frames = 0;
    bool opening = false;
    bool starting = false; // inside the handshake
    bool calibrateFromStream = false;
    bool calibrated = false;
    bool destroying = false;
    bool closing = false;
};

// The status text of an information record, for example "v1.2.10 hw:1f".
QString versionTextOf(const LidarInfoTypedef &info);

#endif
