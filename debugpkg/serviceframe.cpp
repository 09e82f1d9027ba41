#include "serviceframe.h"

namespace ServiceFrame {

QByteArray encodeRequest(uint8_t command, uint16_t parameter, uint16_t value)
{
    const uint8_t content[] = {
        marker,
        command,
        static_cast<uint8_t>(parameter & 0xFF),
        static_cast<uint8_t>(parameter >> 8),
        2,
        0,
        0,
        0, // payload length
        static_cast<uint8_t>(value & 0xFF),
        static_cast<uint8_t>(value >> 8),
    };
    uint8_t sum = 0;
    for (uint8_t byte : content)
        sum = static_cast<uint8_t>(sum + byte);

    QByteArray out;
    out.reserve(2 * int(sizeof content) + 6);
    out.append(2, static_cast<char>(startByte));
    out.append(static_cast<char>(marker));
    auto put = [&out](uint8_t byte) {
        if (needsEscape(byte))
            out.append(static_cast<char>(escapeByte));
        out.append(static_cast<char>(byte));
    };
    for (size_t i = 1; i < sizeof content; ++i)
        put(content[i]);
    put(sum);
    out.append(2, static_cast<char>(endByte));
    return out;
}

} // namespace ServiceFrame
