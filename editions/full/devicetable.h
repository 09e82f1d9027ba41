#ifndef VANTOSCOPE_DEVICETABLE_H
#define VANTOSCOPE_DEVICETABLE_H

#include <QMap>
#include <QString>
#include <cstdint>

// Parameters of one sensor model.
struct LidarParamTypedef
{
    int32_t baudrate = 0;
    int32_t filterVariant = 0; // chooses the scan filter
    int32_t modelType = 0;     // type code given to both decoders
    // An Edition::DecoderKind: 0 command protocol, 1 stream, 2 stream with a
    // flag bit in the confidence.
    int32_t decoderKind = 0;
};

// The full edition's 13 models, keyed (and therefore listed) by name.
QMap<QString, LidarParamTypedef> buildDeviceTable();

#endif
