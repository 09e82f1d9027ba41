#include "commandframes.h"

#include "bytes/littleendian.h"

namespace Wire {

QByteArray encodeTrFrame(uint8_t address, uint8_t command, uint16_t parameter,
                         const QByteArray &payload)
{
    QByteArray body;
    body.append(static_cast<char>(address));
    body.append(static_cast<char>(command));
    Bytes::appendU16(body, parameter);
    Bytes::appendU16(body, static_cast<uint16_t>(payload.size()));
    body.append(payload);
    uint8_t sum = 0;
    for (char c : body)
        sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
    return QByteArray(4, static_cast<char>(0xAA)) + body + static_cast<char>(sum);
}

QByteArray command(uint8_t code, uint32_t value)
{
    QByteArray payload;
    Bytes::appendU32(payload, value);
    return encodeTrFrame(1, code, 0, payload);
}

QByteArray shortCommand(uint8_t code, uint16_t value)
{
    QByteArray payload;
    Bytes::appendU16(payload, value);
    return encodeTrFrame(1, code, 0, payload);
}

static QByteArray truncated(QByteArray payload, int truncateTo)
{
    if (truncateTo >= 0 && truncateTo < payload.size())
        payload.truncate(truncateTo);
    return payload;
}

QByteArray firCalibrationReply(uint32_t rightSlope, uint32_t leftSlope, uint32_t rightIntercept,
                               uint32_t leftIntercept, int truncateTo)
{
    QByteArray payload;
    Bytes::appendU32(payload, rightSlope);
    Bytes::appendU32(payload, leftSlope);
    Bytes::appendU32(payload, rightIntercept);
    Bytes::appendU32(payload, leftIntercept);
    return encodeTrFrame(1, 18, 0, truncated(payload, truncateTo));
}

QByteArray mapleCalibrationReply(const std::array<uint32_t, 6> &slopes,
                                 const std::array<uint32_t, 6> &intercepts, const QByteArray &extra,
                                 int truncateTo)
{
    QByteArray payload;
    for (uint32_t slope : slopes)
        Bytes::appendU32(payload, slope);
    for (uint32_t intercept : intercepts)
        Bytes::appendU32(payload, intercept);
    payload.append(extra.left(24).leftJustified(24, '\0'));
    return encodeTrFrame(1, 18, 0, truncated(payload, truncateTo));
}

QByteArray columnsReply(uint16_t columns, uint16_t second)
{
    QByteArray payload;
    Bytes::appendU16(payload, columns);
    Bytes::appendU16(payload, second);
    return encodeTrFrame(1, 21, 0, payload);
}

QByteArray plainSampleFrame(const QVector<uint16_t> &samples)
{
    QByteArray payload;
    for (uint16_t s : samples)
        Bytes::appendU16(payload, s);
    return encodeTrFrame(1, 3, 0, payload);
}

QByteArray measuredSampleFrame(int32_t timestampMs, const QVector<uint16_t> &samples,
                               uint16_t parameter)
{
    QByteArray payload;
    Bytes::appendU32(payload, static_cast<uint32_t>(timestampMs));
    for (uint16_t s : samples)
        Bytes::appendU16(payload, s);
    return encodeTrFrame(1, 2, parameter, payload);
}

uint16_t firSample(uint16_t value, uint8_t confidence)
{
    return static_cast<uint16_t>((value & 0x1FF) | ((confidence & 0xFE) << 8));
}

uint16_t mapleSample(uint16_t value, uint8_t confidenceLevel, uint8_t zone)
{
    return static_cast<uint16_t>((value & 0x3FF) | ((confidenceLevel & 0x7) << 10) |
                                 ((zone & 0x7) << 13));
}

} // namespace Wire
