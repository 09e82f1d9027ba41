#ifndef VANTOSCOPE_WIRE_STREAMFRAMES_H
#define VANTOSCOPE_WIRE_STREAMFRAMES_H

#include <QByteArray>
#include <QVector>
#include <cstdint>

// Encoders for the frames of the streaming sensors. Every function returns a
// complete frame with a correct checksum; tests corrupt bytes afterwards when
// they need a bad one.
namespace Wire {

struct StreamPoint
{
    uint16_t distance = 0;
    uint8_t confidence = 0;
};

// 47-byte frame of 12 points; angles in 0.01 degree. Missing points are 0,
// extra ones ignored. `secondHeader` is 0x2C or 0xEC.
QByteArray encodePkg47(uint16_t speed, uint16_t startAngle, const QVector<StreamPoint> &points,
                       uint16_t endAngle, uint16_t timestamp = 0, uint8_t secondHeader = 0x2C);
uint8_t pkg47Crc(const QByteArray &bytes);

// 36-byte measurement frame of 8 points. Angle words carry degrees * 64 +
// 40960 (see pkg36AngleWord); the distance word is sent as given, so its top
// two flag bits can be set.
QByteArray encodePkg36(uint16_t speed, uint16_t startWord, const QVector<StreamPoint> &points,
                       uint16_t endWord);
// 36-byte information frame: frame bytes 6 to 33 are the first 28 bytes of
// `record` (missing bytes 0); bytes 34 and 35 are the checksum.
QByteArray encodePkg36Info(const QByteArray &record);
uint16_t pkg36AngleWord(double degrees);
uint16_t pkg36Checksum(const QByteArray &frame);

// Packet of 10 + 3 * N bytes; `ct` bit 0 marks a packet without points,
// bits 1 to 7 the speed in units of 36 degrees per second. Angle values as
// sent (see pkgVariableAngleValue). Distances use 14 bits.
QByteArray encodePkgVariable(uint8_t ct, uint16_t firstAngle, uint16_t lastAngle,
                             const QVector<StreamPoint> &samples);
// The angle value the sensor sends for `degrees`: 1/64 degree units shifted
// left by one, so multiples of 1/64 degree are exact.
uint16_t pkgVariableAngleValue(double degrees);
uint16_t pkgVariableChecksum(const QByteArray &packet);
// 11-byte response header 0xA5 0x5A with `type` in byte 6.
QByteArray encodePkgVariableResponse(uint8_t type);

} // namespace Wire

#endif
