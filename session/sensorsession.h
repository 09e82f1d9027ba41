#ifndef VANTOSCOPE_SENSORSESSION_H
#define VANTOSCOPE_SENSORSESSION_H

#include "debugpkg/lidarinfo.h"
#include "editions/modelrules.h"
#include "lipkg/timesource.h"
#include "points/sensorscan.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QTimer>

class DebugPkg;
class LiPkg;
class QTRNet;
struct TRData;

// The road from a sensor to what is published: the port, the decoders, the
// model choice and the connection sequence (open, handshake, information
// request, stop, lost device). Bytes come from the port or are pushed by a
// caller, and take the same route either way. Consumers see the decoders
// only through what the session publishes.
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

    // The edition's first model is in force from the start.
    explicit SensorSession(QObject *parent = nullptr);
    ~SensorSession() override;

    // Puts the model `name` in force in the decoders, as choosing it in the
    // device selector does, and returns what it sets.
    Edition::ModelChoice chooseModel(const QString &name);
    // The type code and filter variant the choices so far left in force in
    // the stream decoder.
    int modelType() const;
    int filterVariant() const;
    // The device selection as it stands now. The earlier edition routes,
    // starts and stops by it, not by the model chosen last.
    void setSelectedModel(const QString &name) { selectedName = name; }
    // Whether the stream goes to the command-protocol decoder.
    bool commandProtocolSelected() const;

    // Opens `portName` at `baudrate` with the sensor's link settings, raises
    // DTR and starts the connection sequence: the handshake (command
    // protocol) and the information request, paced by timers.
    // handshakeFinished() tells when it is over. False when the port would
    // not open, or while a sequence is still running.
    bool open(const QString &portName, int baudrate);
    // Sends the stop command (command protocol) and closes the port; a
    // running sequence ends at once, without a failure message.
    void close();
    bool isOpen() const;
    // From a successful open() until handshakeFinished() or the port closes.
    bool isOpening() const { return step != Step::Idle; }
    // The line speed in force.
    int baudRate() const;
    // The port last opened (or tried), as it was named to open().
    QString portName() const { return lineName; }

    // The stream decoder's filter.
    void setFilterEnabled(bool enabled);
    bool filterEnabled() const;
    // Sets the stream decoder's error count back to 0.
    void clearErrorCount();
    // The stream counters as they stand (see streamCountersChanged).
    double rotationSpeed() const;
    int streamErrorCount() const;

    // A chunk of received bytes from another source (a file, a replay).
    void push(const QByteArray &chunk);
    // A new source starts (open() calls it; a replay or a new file before
    // its first push): the decoders forget what the previous stream left,
    // so no scan is stitched from two streams and no error counted for the
    // seam. The model, the filter switch and the calibration in force stay;
    // a stream that calibrates itself does so again.
    void beginSource();

    // Where "now" comes from for the decoders and the published scans.
    void setTimeSource(TimeSource source);
    // What a published scan's utcNs is taken from: the system clock when it
    // is published (live), the time source when that counts wall-clock
    // nanoseconds since the epoch (a capture's recorded times), or nothing
    // (a raw file, whose times are not wall-clock).
    enum class WallClock
    {
        AtPublish,
        FromTimeSource,
        Unknown,
    };
    // With FromTimeSource, `recorded` may give the wall-clock time apart from
    // the decoders' clock (a replay keeps that one running on across loops
    // and seeks, while its records carry the times they were recorded at).
    void setWallClock(WallClock source, TimeSource recorded = {})
    {
        wallClock = source;
        recordedClock = std::move(recorded);
    }
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
    // The connection sequence ran to its end with the port open (after a
    // handshakeFailed() too).
    void handshakeFinished();
    // The device vanished while open; stateChanged(Disconnected) follows.
    void deviceLost();
    void versionText(const QString &text);
    void scanReady(const SensorScan &scan);
    // The stream decoder's rotation speed and error count changed (a packet,
    // an error, a clear).
    void streamCountersChanged(double speed, int errors);
    void received(const QByteArray &chunk, qint64 time);
    void written(const QByteArray &chunk, qint64 time);

private:
    enum class Step
    {
        Idle,
        StopSettle,
        ColumnsSettle,
        AwaitCalibration,
        StartPause,
        InformationPause,
    };

    void readPort();
    void handleError(QSerialPort::SerialPortError error);
    void closeAndReport(bool lost);
    void publishStreamScan();
    void publishFrameScan(const PointList &points);
    void publishStreamCounters();
    qint64 utcNow() const;
    void frameDecoded(TRData *frame);

    void write(const QByteArray &bytes);
    bool sendCommand(const QByteArray &frame, int pauseMs);
    void advance();
    void calibrationAnswered();
    void askInformation();
    void endSequence();

    QSerialPort *serial;
    LiPkg *pkg;
    QTRNet *trNet;
    DebugPkg *debug;
    TimeSource clock = monotonicNanoseconds;
    WallClock wallClock = WallClock::AtPublish;
    TimeSource recordedClock;
    QString selectedName;
    QString lineName;
    Edition::DecoderKind decoderKind = Edition::DecoderKind::CommandProtocol;
    qint64 frames = 0;
    bool calibrateFromStream = false;
    bool calibrated = false;
    bool closing = false;
    bool replied = false; // the calibration request got its answer

    // The connection sequence. A command, and a service request, each keep
    // the line to themselves for a pause after they are written: another of
    // the same kind is refused meanwhile.
    Step step = Step::Idle;
    QTimer stepTimer;
    QTimer commandPause;
    QTimer requestPause;
    QElapsedTimer sequenceClock;
};

// The status text of an information record, for example "v1.2.10 hw:1f".
QString versionTextOf(const LidarInfoTypedef &info);

#endif
