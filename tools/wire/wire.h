#ifndef VANTOSCOPE_WIRE_H
#define VANTOSCOPE_WIRE_H

#include <QByteArray>
#include <cstdint>

namespace Wire {

// Appends `value` little-endian.
inline void putU16(QByteArray &out, uint16_t value)
{
    out.append(static_cast<char>(value & 0xFF));
    out.append(static_cast<char>(value >> 8));
}

inline void putU32(QByteArray &out, uint32_t value)
{
    putU16(out, static_cast<uint16_t>(value & 0xFFFF));
    putU16(out, static_cast<uint16_t>(value >> 16));
}

} // namespace Wire

#endif
