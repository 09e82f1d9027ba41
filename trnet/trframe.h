#ifndef VANTOSCOPE_TRFRAME_H
#define VANTOSCOPE_TRFRAME_H

#include "trdata.h"

#include <QByteArray>
#include <cstdint>

// Frame layout of the command/response protocol:
//   AA AA AA AA | address | command | parameter (2) | length N (2) | payload (N) | checksum
// The checksum is the byte sum, modulo 256, of address through the last
// payload byte. All multi-byte fields are little-endian.
namespace TRFrame {

constexpr int headerSize = 4;
constexpr int overhead = 11; // header, fixed fields and checksum
constexpr int lengthOffset = 8;
constexpr int payloadOffset = 10;
constexpr int maxLength = overhead + 0xFFFF;
constexpr uint8_t headerByte = 0xAA;

// A complete frame with the given fields and a correct checksum.
QByteArray encode(uint8_t address, uint8_t command, uint16_t parameter, const QByteArray &payload);

inline bool isHeader(const uint8_t *p)
{
    return p[0] == headerByte && p[1] == headerByte && p[2] == headerByte && p[3] == headerByte;
}

} // namespace TRFrame

#endif
