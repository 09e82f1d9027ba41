#include "streamframes.h"

#include "bytes/littleendian.h"

namespace Wire {

namespace {

uint8_t byteAt(const QByteArray &bytes, int index)
{
    return static_cast<uint8_t>(bytes.at(index));
}

uint16_t wordAt(const QByteArray &bytes, int index)
{
    return static_cast<uint16_t>(byteAt(bytes, index) | byteAt(bytes, index + 1) << 8);
}

void putPoints(QByteArray &out, const QVector<StreamPoint> &points, int count)
{
    for (int i = 0; i < count; ++i) {
        const StreamPoint p = i < points.size() ? points.at(i) : StreamPoint{};
        Bytes::appendU16(out, p.distance);
        out.append(static_cast<char>(p.confidence));
    }
}

} // namespace

uint8_t pkg47Crc(const QByteArray &bytes)
{
    // Bitwise CRC-8, polynomial 0x4D, MSB first, no reflection, no final XOR.
    uint8_t crc = 0;
    for (char c : bytes) {
        crc ^= static_cast<uint8_t>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint8_t>(crc & 0x80 ? (crc << 1) ^ 0x4D : crc << 1);
    }
    return crc;
}

QByteArray encodePkg47(uint16_t speed, uint16_t startAngle, const QVector<StreamPoint> &points,
                       uint16_t endAngle, uint16_t timestamp, uint8_t secondHeader)
{
    QByteArray out;
    out.reserve(47);
    out.append(char(0x54));
    out.append(static_cast<char>(secondHeader));
    Bytes::appendU16(out, speed);
    Bytes::appendU16(out, startAngle);
    putPoints(out, points, 12);
    Bytes::appendU16(out, endAngle);
    Bytes::appendU16(out, timestamp);
    out.append(static_cast<char>(pkg47Crc(out)));
    return out;
}

uint16_t pkg36Checksum(const QByteArray &frame)
{
    uint32_t sum = 0;
    for (int offset = 0; offset <= 32; offset += 2)
        sum = sum * 2 + wordAt(frame, offset);
    return static_cast<uint16_t>((sum + (sum >> 15)) & 0x7FFF);
}

uint16_t pkg36AngleWord(double degrees)
{
    return static_cast<uint16_t>(degrees * 64 + 40960);
}

QByteArray encodePkg36(uint16_t speed, uint16_t startWord, const QVector<StreamPoint> &points,
                       uint16_t endWord)
{
    QByteArray out;
    out.reserve(36);
    out.append(char(0x55));
    out.append(char(0xAA));
    out.append(char(0x03));
    out.append(char(0x00));
    Bytes::appendU16(out, speed);
    Bytes::appendU16(out, startWord);
    putPoints(out, points, 8);
    Bytes::appendU16(out, endWord);
    Bytes::appendU16(out, pkg36Checksum(out));
    return out;
}

QByteArray encodePkg36Info(const QByteArray &record)
{
    QByteArray out;
    out.reserve(36);
    out.append(char(0x55));
    out.append(char(0xAA));
    out.append(char(0xFE));
    out.append(char(0x00));
    Bytes::appendU16(out, 0);
    for (int i = 0; i < 28; ++i)
        out.append(i < record.size() ? record.at(i) : char(0));
    Bytes::appendU16(out, pkg36Checksum(out));
    return out;
}

uint16_t pkgVariableAngleValue(double degrees)
{
    const auto sixtyFourths = static_cast<uint16_t>(degrees * 64 + 0.5);
    return static_cast<uint16_t>(sixtyFourths << 1);
}

uint16_t pkgVariableChecksum(const QByteArray &packet)
{
    uint16_t x = wordAt(packet, 0) ^ wordAt(packet, 2) ^ wordAt(packet, 4) ^ wordAt(packet, 6);
    for (int offset = 10; offset + 2 < packet.size(); offset += 3) {
        const uint16_t high = wordAt(packet, offset + 1);
        x ^= static_cast<uint16_t>(high ^ byteAt(packet, offset));
    }
    return x;
}

QByteArray encodePkgVariable(uint8_t ct, uint16_t firstAngle, uint16_t lastAngle,
                             const QVector<StreamPoint> &samples)
{
    QByteArray out;
    out.reserve(10 + 3 * samples.size());
    out.append(char(0xAA));
    out.append(char(0x55));
    out.append(static_cast<char>(ct));
    out.append(static_cast<char>(samples.size()));
    Bytes::appendU16(out, firstAngle);
    Bytes::appendU16(out, lastAngle);
    Bytes::appendU16(out, 0);
    for (const StreamPoint &s : samples) {
        const uint32_t value = uint32_t(s.distance & 0x3FFF) << 10 | uint32_t(s.confidence) << 2;
        out.append(static_cast<char>(value & 0xFF));
        out.append(static_cast<char>((value >> 8) & 0xFF));
        out.append(static_cast<char>((value >> 16) & 0xFF));
    }
    const uint16_t checksum = pkgVariableChecksum(out);
    out[8] = static_cast<char>(checksum & 0xFF);
    out[9] = static_cast<char>(checksum >> 8);
    return out;
}

QByteArray encodePkgVariableResponse(uint8_t type)
{
    QByteArray out(11, char(0));
    out[0] = char(0xA5);
    out[1] = char(0x5A);
    out[6] = static_cast<char>(type);
    return out;
}

} // namespace Wire
