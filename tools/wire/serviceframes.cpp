#include "serviceframes.h"

#include "bytes/littleendian.h"

namespace Wire {

QByteArray stuff(const QByteArray &content)
{
    QByteArray out;
    out.reserve(content.size() * 2);
    for (char c : content) {
        const auto byte = static_cast<uint8_t>(c);
        if (byte == 0x55 || byte == 0xA5 || byte == 0xAA)
            out.append(static_cast<char>(0xA5));
        out.append(c);
    }
    return out;
}

QByteArray serviceContent(uint8_t command, uint16_t parameter, const QByteArray &payload)
{
    QByteArray content;
    content.append(static_cast<char>(0x10));
    content.append(static_cast<char>(command));
    Bytes::appendU16(content, parameter);
    Bytes::appendU32(content, static_cast<uint32_t>(payload.size()));
    content.append(payload);
    uint8_t sum = 0;
    for (char c : content)
        sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
    content.append(static_cast<char>(sum));
    return content;
}

QByteArray encodeServiceFrame(uint8_t command, uint16_t parameter, const QByteArray &payload)
{
    const QByteArray content = serviceContent(command, parameter, payload);
    return QByteArray("\xAA\xAA\x10", 3) + stuff(content.mid(1)) + QByteArray("\x55\x55", 2);
}

QByteArray serviceRequest(uint8_t command, uint16_t value)
{
    QByteArray payload;
    Bytes::appendU16(payload, value);
    return encodeServiceFrame(command, 0, payload);
}

QByteArray informationReply(uint32_t firmwareVersion, uint32_t hardwareVersion,
                            const QByteArray &rest, int payloadSize)
{
    QByteArray payload;
    Bytes::appendU32(payload, firmwareVersion);
    Bytes::appendU32(payload, hardwareVersion);
    payload.append(rest.left(96).leftJustified(96, '\0'));
    if (payloadSize >= 0)
        payload = payload.leftJustified(payloadSize, '\0', true);
    return encodeServiceFrame(127, 0, payload);
}

QByteArray voltageReport(uint16_t voltage)
{
    QByteArray payload;
    Bytes::appendU16(payload, voltage);
    return encodeServiceFrame(249, 0, payload);
}

QByteArray statusReport(uint8_t status)
{
    return encodeServiceFrame(253, 0, QByteArray(1, static_cast<char>(status)));
}

} // namespace Wire
