#ifndef VANTOSCOPE_LITTLEENDIAN_H
#define VANTOSCOPE_LITTLEENDIAN_H

#include <QByteArray>
#include <cstdint>

namespace Bytes {

// Fixed-size fields of `size` bytes at `data`, read by offset. A field that
// would pass the end is refused: read() returns false and leaves the value
// alone, u16()/u32()/u64() give 0. Captures may be written big-endian, so the
// byte order can be chosen; the sensors' frames are little-endian.
class Reader
{
public:
    Reader(const void *data, int size, bool bigEndian = false)
        : bytes(static_cast<const uint8_t *>(data)), length(size < 0 ? 0 : size), big(bigEndian)
    {
    }
    explicit Reader(const QByteArray &data, bool bigEndian = false)
        : Reader(data.constData(), static_cast<int>(data.size()), bigEndian)
    {
    }

    int size() const { return length; }
    bool has(int offset, int count) const
    {
        return offset >= 0 && count >= 0 && offset <= length - count;
    }

    bool read(int offset, uint8_t &value) const { return take(offset, value); }
    bool read(int offset, uint16_t &value) const { return take(offset, value); }
    bool read(int offset, uint32_t &value) const { return take(offset, value); }
    bool read(int offset, uint64_t &value) const { return take(offset, value); }

    uint8_t u8(int offset) const { return field<uint8_t>(offset); }
    uint16_t u16(int offset) const { return field<uint16_t>(offset); }
    uint32_t u32(int offset) const { return field<uint32_t>(offset); }
    uint64_t u64(int offset) const { return field<uint64_t>(offset); }

private:
    template <typename T> bool take(int offset, T &value) const
    {
        if (!has(offset, int(sizeof(T))))
            return false;
        T v = 0;
        for (int i = 0; i < int(sizeof(T)); ++i) {
            const int at = big ? i : int(sizeof(T)) - 1 - i;
            v = T(T(v << 8) | bytes[offset + at]);
        }
        value = v;
        return true;
    }
    template <typename T> T field(int offset) const
    {
        T value = 0;
        take(offset, value);
        return value;
    }

    const uint8_t *bytes;
    int length;
    bool big;
};

// Appends `value` little-endian.
inline void appendU16(QByteArray &out, uint16_t value)
{
    out.append(static_cast<char>(value & 0xFF));
    out.append(static_cast<char>(value >> 8));
}

inline void appendU32(QByteArray &out, uint32_t value)
{
    appendU16(out, static_cast<uint16_t>(value & 0xFFFF));
    appendU16(out, static_cast<uint16_t>(value >> 16));
}

inline void appendU64(QByteArray &out, uint64_t value)
{
    appendU32(out, static_cast<uint32_t>(value & 0xFFFFFFFF));
    appendU32(out, static_cast<uint32_t>(value >> 32));
}

} // namespace Bytes

#endif
