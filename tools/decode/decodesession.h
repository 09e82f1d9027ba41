#ifndef VANTOSCOPE_DECODE_DECODESESSION_H
#define VANTOSCOPE_DECODE_DECODESESSION_H

#include "eventwriter.h"
#include "lidarinfo.h"
#include "modelsetup.h"

#include <QObject>
#include <cstdint>

class DebugPkg;
class LiPkg;
class QSerialPort;
class QTRNet;
struct TRData;

// The window's decoding road without the window: the same decoders, set up
// for one model as choosing it in the window sets them up, fed chunk by
// chunk as the window's readData feeds them, with every published scan and
// information record written out as an event.
class DecodeSession : public QObject
{
    Q_OBJECT
public:
    // `model` must be one of ModelSetup::modelNames().
    DecodeSession(const QString &model, EventWriter &writer, QObject *parent = nullptr);
    ~DecodeSession() override;

    const ModelSetup::Applied &model() const { return applied; }
    // The port the command-protocol decoders write to; closed unless the
    // caller opens it.
    QSerialPort &port() { return *serial; }

    // As "Enable filter" in the window.
    void setFilterEnabled(bool enabled);
    // A capture has no handshake: take the first calibration reply found in
    // the stream instead, and set the mode as a successful handshake does.
    void setCalibrateFromStream(bool enabled) { calibrateFromStream = enabled; }
    // Times the decoders by the position in the stream, as if every byte
    // took its time on the line at the model's speed, instead of by the
    // clock; the figures of a file then repeat exactly from run to run.
    void useLineClock();

    // One chunk of received bytes: first to DebugPkg, then to the model's decoder.
    void push(const QByteArray &chunk);

    // What the window does on an open port: the handshake (command protocol)
    // and the information request.
    void startSensor();
    // What the window does before closing the port: the stop command
    // (command protocol).
    void stopSensor();

    int64_t bytes() const { return byteCount; }
    int scans() const { return scanCount; }
    // Packet errors (always 0 for the command protocol).
    int errors() const;
    // Writes the end event and flushes; false when the output failed.
    bool finish();

signals:
    // A problem the command protocol reports (for example a failed handshake).
    void sensorMessage(const QString &text);

private:
    void streamScanReady();
    void frameScanReady(const QList<PointData> &points);
    void frameDecoded(TRData *frame);

    EventWriter &writer;
    QSerialPort *serial;
    LiPkg *pkg;
    QTRNet *trNet;
    DebugPkg *debugPkg;
    ModelSetup::Applied applied;
    bool calibrateFromStream = false;
    bool calibrated = false;
    int64_t byteCount = 0;
    int scanCount = 0;
};

// The status-bar text of an information record, for example "v1.2.10 hw:1f".
QString versionText(const LidarInfoTypedef &info);

#endif
