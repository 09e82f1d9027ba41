#ifndef VANTOSCOPE_QTRNET_H
#define VANTOSCOPE_QTRNET_H

#include "framesplitter.h"
#include "points/pointdata.h"
#include "sampleconversion.h"
#include "trdata.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QVector>
#include <cstdint>

class QSerialPort;

// Command/response protocol of the command-protocol sensor models (Fir and
// Maple): sends commands, runs the start handshake that reads the sensor's
// calibration, splits the received stream into frames and converts sample
// frames into scans.
class QTRNet : public QObject
{
    Q_OBJECT
public:
    static constexpr int mapleModelType = 32;

    enum Command : uint8_t
    {
        MeasuredSamples = 2,
        PlainSamples = 3,
        Stop = 15,
        Calibration = 18,
        Columns = 21,
    };

    // Throws std::invalid_argument("SerialPort is NULL") when `port` is null.
    explicit QTRNet(QSerialPort *port);

    void setModelType(int type);
    int modelType() const { return modelType_; }

    // Takes the next chunk of received bytes and handles every frame it completes.
    void pushData(const QByteArray &data);
    // Send one frame with a 4-byte (sendCommand) or 2-byte (sendShortCommand)
    // payload, then let events run for 50 ms. False, and nothing sent, while
    // such a pause runs or when the port is closed.
    bool sendCommand(uint8_t address, uint8_t command, uint32_t value);
    bool sendShortCommand(uint8_t address, uint8_t command, uint16_t value);
    // The start handshake; returns when it has succeeded or given up
    // (errorMessage("connect failed")). Processes events while it waits.
    void startLidar();
    // Ends a running startLidar() at once, without a failure message (the
    // user stopped, or the device is gone).
    void cancelStart() { cancelled = true; }
    // Copies the payload of a calibration reply (command 18) into the
    // calibration of the selected model; fields the payload does not fully
    // cover keep their values. False, and nothing changed, for other frames.
    bool applyCalibrationReply(const TRData &frame);
    // Sets the sample mode a successful handshake ends in (calibrated for
    // Maple, raw for the others); for decoding captures, which carry no
    // handshake.
    void enterStartedMode();

    // Figures read by the map view.
    double scanRate() const { return rate; }
    int validCount() const;
    int pointTotal() const { return sampleCount; }
    QList<PointData> currentScan() const { return scanList; }
    int nearestPointIndex(double angle) const;

    // Read-only state, for diagnostics and invariant checks.
    const DeviceParams &deviceParams() const { return params; }
    uint8_t rawMode() const { return params.rawMode; }
    const TRData &lastDecodedFrame() const { return lastFrame; }
    const QVector<PointData> &currentSamples() const { return sampleList; }
    int lastSampleTimestamp() const { return lastTimestamp; }
    int previousSampleTimestamp() const { return previousTimestamp; }
    uint16_t pixelSum() const { return pixSum; }
    bool isBusy() const { return busy; }
    // Bytes held by the receive buffer, and how many of them may still
    // belong to a frame.
    int rxBufferSize() const { return rxBuffer.bufferSize(); }
    int rxLiveBytes() const { return rxBuffer.liveBytes(); }
    int rxPendingHeaders() const { return rxBuffer.pendingHeaders(); }

signals:
    void dataReady(TRData *pack);
    void mapReady(QList<PointData> map);
    void errorMessage(QString s);

private:
    bool sendFrame(uint8_t address, uint8_t command, const QByteArray &payload);
    void pauseAfterWrite();
    void handleFrame();
    void convertDualHalf(const TRData &frame);
    void convertZoned(const TRData &frame);
    bool isMaple() const;

    QSerialPort *port;
    bool busy = false;
    bool draining = false;
    FrameSplitter rxBuffer;
    TRData lastFrame;
    QList<PointData> scanList;
    QVector<PointData> sampleList;
    DeviceParams params;
    int lastTimestamp = 0;
    int previousTimestamp = 0;
    double rate = 0.0;
    bool cancelled = false;
    int sampleCount = 0;
    uint16_t pixSum = 0; // parameter of the last measured-sample frame
    SampleConversion::FirGeometry firGeometry;
    SampleConversion::ZoneGeometry zoneGeometry;
    int modelType_ = 0;
};

#endif
