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

// Command/response protocol of the command-protocol sensor models (Fir and
// Maple): encodes commands, splits the received stream into frames, takes
// the sensor's calibration from its reply and converts sample frames into
// scans. Writing the commands and pacing them is the session's business.
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

    explicit QTRNet(QObject *parent = nullptr);

    void setModelType(int type);
    int modelType() const { return modelType_; }

    // Takes the next chunk of received bytes and handles every frame it completes.
    void pushData(const QByteArray &data);
    // Forgets the received stream, as a new decoder would: buffered bytes,
    // the last scan and the sample timing its rate is taken from. The model
    // and the calibration stay, and so does lastDecodedFrame(): a handshake
    // accepts a calibration reply received before it.
    void resetReceiveState();
    // The frame of one command with a 4-byte (commandBytes) or 2-byte
    // (shortCommandBytes) payload.
    static QByteArray commandBytes(uint8_t address, uint8_t command, uint32_t value);
    static QByteArray shortCommandBytes(uint8_t address, uint8_t command, uint16_t value);
    // Copies the payload of a calibration reply (command 18) into the
    // calibration of the selected model; fields the payload does not fully
    // cover keep their values. False, and nothing changed, for other frames.
    bool applyCalibrationReply(const TRData &frame);
    // Sets the sample mode a successful handshake ends in (calibrated for
    // Maple, raw for the others); for decoding captures, which carry no
    // handshake.
    void enterStartedMode();

    // Figures of the last scan.
    double scanRate() const { return rate; }
    int validCount() const;
    int pointTotal() const { return sampleCount; }
    PointList currentScan() const { return scanList; }
    int nearestPointIndex(double angle) const;

    // Read-only state, for diagnostics and invariant checks.
    const DeviceParams &deviceParams() const { return params; }
    uint8_t rawMode() const { return params.rawMode; }
    const TRData &lastDecodedFrame() const { return lastFrame; }
    const QVector<PointData> &currentSamples() const { return sampleList; }
    int lastSampleTimestamp() const { return lastTimestamp; }
    int previousSampleTimestamp() const { return previousTimestamp; }
    uint16_t pixelSum() const { return pixSum; }
    // Bytes held by the receive buffer, and how many of them may still
    // belong to a frame.
    int rxBufferSize() const { return rxBuffer.bufferSize(); }
    int rxLiveBytes() const { return rxBuffer.liveBytes(); }
    int rxPendingHeaders() const { return rxBuffer.pendingHeaders(); }

signals:
    void dataReady(TRData *pack);
    void mapReady(PointList map);

private:
    void handleFrame();
    void convertDualHalf(const TRData &frame);
    void convertZoned(const TRData &frame);
    bool isMaple() const;

    bool draining = false;
    FrameSplitter rxBuffer;
    TRData lastFrame;
    PointList scanList;
    QVector<PointData> sampleList;
    DeviceParams params;
    int lastTimestamp = 0;
    int previousTimestamp = 0;
    double rate = 0.0;
    int sampleCount = 0;
    uint16_t pixSum = 0; // parameter of the last measured-sample frame
    SampleConversion::FirGeometry firGeometry;
    SampleConversion::ZoneGeometry zoneGeometry;
    int modelType_ = 0;
};

#endif
