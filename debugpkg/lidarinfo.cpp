#include "lidarinfo.h"

#include <algorithm>

LidarInfoTypedef LidarInfoTypedef::fromPayload(const QByteArray &payload)
{
    std::array<uint8_t, wireSize> bytes{};
    std::copy_n(payload.constBegin(), std::min<int>(payload.size(), wireSize), bytes.begin());
    auto word = [&bytes](int at) {
        return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
               uint32_t(bytes[at + 3]) << 24;
    };
    LidarInfoTypedef info;
    info.firmwareVersion = word(0);
    info.hardwareVersion = word(4);
    std::copy(bytes.begin() + 8, bytes.end(), info.rest.begin());
    return info;
}
