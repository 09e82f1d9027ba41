#ifndef VANTOSCOPE_SENSORSCAN_H
#define VANTOSCOPE_SENSORSCAN_H

#include "pointdata.h"

#include <QList>
#include <QMetaType>
#include <cstdint>

// One published scan with every figure the map shows, as it stood when the
// decoder completed the scan.
struct SensorScan
{
    enum class Family : uint8_t
    {
        Streaming,       // LiPkg: full rotations, end-of-scan marker last
        CommandProtocol, // QTRNet: one sample frame, no marker
    };

    Family family = Family::Streaming;
    PointList points;
    double speed = 0.0;    // revolutions per second (streaming only)
    double rate = 0.0;     // scans per second (streaming) or sample frames per second
    int valid = 0;         // points with a distance
    int total = 0;         // points measured (streaming) or sample positions of the frame
    int errors = 0;        // packet errors counted so far (streaming only)
    uint16_t pixelSum = 0; // parameter of the last measured-sample frame (command protocol)
    qint64 time = 0;       // time source reading when the scan was published, nanoseconds
    qint64 utcNs = 0;      // wall-clock nanoseconds since the epoch; 0 when not known

    bool streaming() const { return family == Family::Streaming; }
};

Q_DECLARE_METATYPE(SensorScan)

#endif
