#ifndef VANTOSCOPE_DEBUGPKG_H
#define VANTOSCOPE_DEBUGPKG_H

#include <QByteArray>
#include <QMetaType>
#include <QObject>
#include <cstdint>

class QSerialPort;

// The sensor's information record (104 bytes on the wire).
struct LidarInfoTypedef
{
    uint32_t firmwareVersion = 0; // bits 31-24 major, 23-16 minor, 15-0 patch
    uint32_t hardwareVersion = 0;
    uint8_t rest[96] = {};
};
Q_DECLARE_METATYPE(LidarInfoTypedef)

// Service frames understood by every model: builds the information request
// and recognises information, voltage and status replies in the stream.
class DebugPkg : public QObject
{
    Q_OBJECT
public:
    // Throws std::invalid_argument("SerialPort is NULL") when `port` is null.
    explicit DebugPkg(QSerialPort *port);

    void pushData(const QByteArray &data);
    bool sendRequest(uint8_t command, uint16_t value);

signals:
    void dataReady();
    void lidarInfoReady(LidarInfoTypedef lidarInfo);

private:
    QSerialPort *port;
    bool busy = false;
};

#endif
