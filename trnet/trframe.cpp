#include "trframe.h"

namespace TRFrame {

QByteArray encode(uint8_t address, uint8_t command, uint16_t parameter, const QByteArray &payload)
{
    const int n = qMin(payload.size(), 0xFFFF);
    QByteArray frame;
    frame.reserve(overhead + n);
    frame.append(4, static_cast<char>(headerByte));
    frame.append(static_cast<char>(address));
    frame.append(static_cast<char>(command));
    frame.append(static_cast<char>(parameter & 0xFF));
    frame.append(static_cast<char>(parameter >> 8));
    frame.append(static_cast<char>(n & 0xFF));
    frame.append(static_cast<char>(n >> 8));
    frame.append(payload.constData(), n);
    uint8_t sum = 0;
    for (int i = headerSize; i < frame.size(); ++i)
        sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(frame[i]));
    frame.append(static_cast<char>(sum));
    return frame;
}

} // namespace TRFrame
