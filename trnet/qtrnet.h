#ifndef VANTOSCOPE_QTRNET_H
#define VANTOSCOPE_QTRNET_H

#include "pointdata.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <cstdint>

class QSerialPort;

// One decoded frame of the command/response protocol.
struct TRData
{
    uint8_t address = 0;
    uint8_t command = 0;
    uint16_t parameter = 0;
    QByteArray payload;
};

// Command/response protocol of the command-protocol sensor models: sends
// commands, runs the start handshake, splits the stream into frames and
// converts sample frames into scans.
class QTRNet : public QObject
{
    Q_OBJECT
public:
    // Throws std::invalid_argument("SerialPort is NULL") when `port` is null.
    explicit QTRNet(QSerialPort *port);

    void setModelType(int type);
    int modelType() const { return modelType_; }

    void pushData(const QByteArray &data);
    bool sendCommand(uint8_t address, uint8_t command, uint32_t value);
    bool sendShortCommand(uint8_t address, uint8_t command, uint16_t value);
    // The start handshake; returns when it has succeeded or given up.
    void startLidar();

    // Figures read by the map view.
    double scanRate() const { return rate; }
    int validCount() const;
    int pointTotal() const { return sampleCount; }
    QList<PointData> currentScan() const { return scanList; }
    int nearestPointIndex(double angle) const;

signals:
    void dataReady(TRData *pack);
    void mapReady(QList<PointData> map);
    void errorMessage(QString s);

private:
    QSerialPort *port;
    bool busy = false;
    QByteArray rxBuffer;
    TRData lastFrame;
    QList<PointData> scanList;
    double rate = 0.0;
    int sampleCount = 0;
    int modelType_ = 0;
};

#endif
