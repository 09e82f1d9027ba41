#ifndef VANTOSCOPE_SERVICEFRAME_H
#define VANTOSCOPE_SERVICEFRAME_H

#include <QByteArray>
#include <cstdint>

// Byte-stuffed service frames understood by every sensor model:
//   AA AA | 10 command parameter(2) length(4) payload checksum | 55 55
// Inside the body every 55, A5 or AA is preceded by the escape byte A5; the
// leading 10 is never escaped. The checksum is the byte sum, modulo 256, of
// the unescaped content from the 10 through the last payload byte.
namespace ServiceFrame {

constexpr uint8_t startByte = 0xAA;
constexpr uint8_t endByte = 0x55;
constexpr uint8_t escapeByte = 0xA5;
constexpr uint8_t marker = 0x10;
constexpr int minimumSize = 14;
constexpr int maxBody = 500;
constexpr int headerSize = 8; // marker, command, parameter, length

inline bool needsEscape(uint8_t byte)
{
    return byte == endByte || byte == escapeByte || byte == startByte;
}

// The request for `command` carrying `value` as a two-byte payload.
QByteArray encodeRequest(uint8_t command, uint16_t parameter, uint16_t value);

} // namespace ServiceFrame

#endif
