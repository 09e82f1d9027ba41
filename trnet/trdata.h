#ifndef VANTOSCOPE_TRDATA_H
#define VANTOSCOPE_TRDATA_H

#include <QByteArray>
#include <QMetaType>
#include <array>
#include <cstdint>

// One decoded frame of the command/response protocol.
struct TRData
{
    uint8_t address = 0;
    uint8_t command = 0;
    uint16_t parameter = 0;
    QByteArray payload; // exactly the payload bytes of the frame
};

Q_DECLARE_METATYPE(TRData *)

// Calibration and mode of the connected command-protocol sensor. Slopes and
// intercepts are in units of 1/10000.
struct DeviceParams
{
    enum Half
    {
        Right = 0,
        Left = 1
    };

    uint8_t rawMode = 0;                     // Maple: 0 calibrated samples, 1 raw samples
    std::array<uint32_t, 2> halfSlope{};     // Fir, indexed by Half
    std::array<uint32_t, 2> halfIntercept{}; // Fir, indexed by Half
    std::array<uint32_t, 6> zoneSlope{};     // Maple, zones 1 to 6
    std::array<uint32_t, 6> zoneIntercept{}; // Maple, zones 1 to 6
    std::array<uint8_t, 24> zoneExtra{};     // Maple, kept as received
    int columns = 320;                       // Maple sensor columns (command 21)
    int columnStep = 1;                      // 2 when only every other column is sent
};

#endif
