#include "framedecode.h"

#include "bytes/littleendian.h"

#include <cmath>

namespace FrameDecode {

namespace {

constexpr std::array<uint8_t, 256> makeCrc8Table()
{
    std::array<uint8_t, 256> table{};
    for (int i = 0; i < 256; ++i) {
        uint8_t crc = static_cast<uint8_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint8_t>((crc & 0x80) ? (crc << 1) ^ 0x4D : crc << 1);
        table[static_cast<size_t>(i)] = crc;
    }
    return table;
}

constexpr std::array<uint8_t, 256> crc8Table = makeCrc8Table();

PointData point(double angle, uint16_t distance, uint8_t confidence)
{
    PointData p;
    p.angle = angle;
    p.distance = distance;
    p.confidence = confidence;
    return p;
}

double wrapOnce(double angle)
{
    return angle >= 360.0 ? angle - 360.0 : angle;
}

} // namespace

Format formatForModel(int modelType)
{
    switch (modelType) {
    case 18:
        return Format::Pkg36;
    case 24:
        return Format::PkgVariable;
    default:
        return Format::Pkg47;
    }
}

int bufferLimit(Format format)
{
    switch (format) {
    case Format::Pkg36:
        return pkg36BufferLimit;
    case Format::PkgVariable:
        return pkgVariableBufferLimit;
    case Format::Pkg47:
        break;
    }
    return pkg47BufferLimit;
}

uint8_t crc8(const uint8_t *bytes, int length)
{
    uint8_t crc = 0;
    for (int i = 0; i < length; ++i)
        crc = crc8Table[crc ^ bytes[i]];
    return crc;
}

bool pkg47CrcMatches(const uint8_t *frame)
{
    return crc8(frame, pkg47Size - 1) == frame[pkg47Size - 1];
}

bool pkg47SpanImplausible(const uint8_t *frame)
{
    const Bytes::Reader f(frame, pkg47Size);
    const int speed = f.u16(2);
    const int startDegrees = f.u16(4) / 100;
    const int endDegrees = f.u16(42) / 100;
    const int span = (endDegrees - startDegrees + 360) % 360;
    return static_cast<double>(span) > speed * 12.0 / 2300.0 * 3.0 * 0.5;
}

uint16_t pkg36Checksum(const uint8_t *frame)
{
    const Bytes::Reader f(frame, pkg36Size);
    uint32_t accumulator = 0;
    for (int offset = 0; offset < pkg36Size - 2; offset += 2)
        accumulator = accumulator * 2 + f.u16(offset);
    return static_cast<uint16_t>(((accumulator >> 15) + accumulator) & 0x7FFF);
}

bool pkg36ChecksumMatches(const uint8_t *frame)
{
    return pkg36Checksum(frame) == Bytes::Reader(frame, pkg36Size).u16(pkg36Size - 2);
}

uint16_t pkgVariableChecksum(const uint8_t *packet, int sampleCount)
{
    const Bytes::Reader header(packet, pkgVariableHeaderSize);
    uint16_t x = 0;
    for (int offset = 0; offset < 8; offset += 2)
        x ^= header.u16(offset);
    for (int k = 0; k < sampleCount; ++k) {
        const uint8_t *sample = packet + pkgVariableHeaderSize + 3 * k;
        x ^= static_cast<uint16_t>((sample[2] << 8 | sample[1]) ^ sample[0]);
    }
    return x;
}

bool pkgVariableChecksumMatches(const uint8_t *packet, int sampleCount)
{
    return pkgVariableChecksum(packet, sampleCount) ==
           Bytes::Reader(packet, pkgVariableHeaderSize).u16(8);
}

double pkgVariableAngle(uint16_t value)
{
    return static_cast<int>((value >> 1) * 100 / 64) / 100.0;
}

void convertPkg47(const uint8_t *frame, std::vector<PointData> &out)
{
    const Bytes::Reader f(frame, pkg47Size);
    const uint32_t start = f.u16(4);
    const uint32_t end = f.u16(42);
    // Unsigned on purpose: a start angle above end + 360 degrees wraps modulo 2^32.
    const double step = static_cast<double>((end - start + 36000u) % 36000u / 11u) / 100.0;
    const double first = start / 100.0;
    for (int i = 0; i < pkg47Points; ++i) {
        const int at = 6 + 3 * i;
        out.push_back(point(wrapOnce(first + i * step), f.u16(at), f.u8(at + 2)));
    }
    out.back().angle = (end % 36000u) / 100.0;
}

void convertPkg36(const uint8_t *frame, std::vector<PointData> &out)
{
    const Bytes::Reader f(frame, pkg36Size);
    const double first = (f.u16(6) - 40960.0) * 0.015625;
    double last = (f.u16(32) - 40960.0) * 0.015625;
    // Truncated to a (possibly negative) integer first, then taken modulo 2^32.
    const auto span = static_cast<uint32_t>(static_cast<int64_t>(last * 100 + 36000 - first * 100));
    const double step = static_cast<double>(span % 36000u / 7u) / 100.0;
    if (last > 360.0)
        last -= 360.0;
    for (int i = 0; i < pkg36Points; ++i) {
        const int at = 8 + 3 * i;
        out.push_back(point(wrapOnce(first + i * step), f.u16(at) & 0x3FFF, f.u8(at + 2)));
    }
    out.back().angle = last;
}

void convertPkgVariable(const uint8_t *packet, std::vector<PointData> &out)
{
    const int count = std::min<int>(packet[3], pkgVariableMaxSamples);
    const Bytes::Reader header(packet, pkgVariableHeaderSize);
    const double first = pkgVariableAngle(header.u16(4));
    const double last = pkgVariableAngle(header.u16(6));
    double span = last + 360.0 - first;
    if (span >= 360.0)
        span -= 360.0;
    const double step = count > 1 ? span / (count - 1) : span;
    double angle = first;
    for (int k = 0; k < count; ++k) {
        const uint8_t *s = packet + pkgVariableHeaderSize + 3 * k;
        const auto distance = static_cast<uint16_t>((s[2] << 6) + (s[1] >> 2));
        const auto confidence = static_cast<uint8_t>(((s[1] & 3) << 6) | (s[0] >> 2));
        out.push_back(point(wrapOnce(angle), distance, confidence));
        angle += step;
    }
}

InfoRecord infoRecordFromFrame(const uint8_t *frame)
{
    InfoRecord record{};
    for (int i = 0; i < infoRecordSize && infoRecordOffset + i < pkg36Size; ++i)
        record[static_cast<size_t>(i)] = frame[infoRecordOffset + i];
    return record;
}

QString deviceInfoLine(const InfoRecord &record)
{
    const uint8_t *r = record.data();
    const Bytes::Reader fields(r, infoRecordSize);
    return QStringLiteral("firmware_version:v%1.%2.%3,hardware_version:%4,angle_offset:%5,"
                          "blind area:%6expose duty:%7frequence:%8,given_speed:%9,mcu_uid:%10,")
        .arg(uint(r[3]))
        .arg(uint(r[2]))
        .arg(uint(r[0]))
        .arg(fields.u32(4))
        .arg(fields.u32(8))
        .arg(fields.u32(12))
        .arg(fields.u32(16))
        .arg(fields.u32(20))
        .arg(fields.u32(24))
        .arg(fields.u32(28));
}

} // namespace FrameDecode
