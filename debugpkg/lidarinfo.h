#ifndef VANTOSCOPE_LIDARINFO_H
#define VANTOSCOPE_LIDARINFO_H

#include <QByteArray>
#include <QMetaType>
#include <array>
#include <cstdint>

// The sensor's information record, 104 bytes on the wire (little-endian).
struct LidarInfoTypedef
{
    static constexpr int wireSize = 104;

    uint32_t firmwareVersion = 0; // bits 31-24 major, 23-16 minor, 15-0 patch
    uint32_t hardwareVersion = 0;
    std::array<uint8_t, 96> rest{}; // the remaining bytes, as received

    // The record from the start of `payload`; bytes the payload lacks are 0.
    static LidarInfoTypedef fromPayload(const QByteArray &payload);
};
Q_DECLARE_METATYPE(LidarInfoTypedef)

#endif
