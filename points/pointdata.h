#ifndef VANTOSCOPE_POINTDATA_H
#define VANTOSCOPE_POINTDATA_H

#include <QMetaType>
#include <QVector>
#include <cstdint>

// One measured point. Angles are degrees (0 straight ahead, clockwise on
// screen), distances millimetres (0 = no return).
struct PointData
{
    double angle = 0.0;
    uint16_t distance = 0;
    uint8_t confidence = 0;
    uint32_t sampleIndex = 0; // position within its sample frame (command-protocol models)
    uint16_t zone = 0;        // calibration zone (command-protocol models with zones)
};
Q_DECLARE_TYPEINFO(PointData, Q_MOVABLE_TYPE);

// A scan's points, side by side in one allocation. Under Qt 5 a QList keeps
// an element this size in its own allocation, one per point.
using PointList = QVector<PointData>;

// The streaming decoder's own scans end with this marker (published
// SensorScans carry the points only).
constexpr double endOfScanAngle = 720.0;
inline PointData endOfScanMarker()
{
    return PointData{endOfScanAngle, 0, 0, 0, 0};
}
inline bool isEndOfScanMarker(const PointData &p)
{
    return p.angle == endOfScanAngle;
}
// `scan` without a trailing end-of-scan marker.
inline PointList withoutEndOfScanMarker(PointList scan)
{
    if (!scan.isEmpty() && isEndOfScanMarker(scan.last()))
        scan.removeLast();
    return scan;
}

Q_DECLARE_METATYPE(PointData)

// Registers PointData and PointList with the meta-type system; safe to
// call more than once.
inline void registerPointDataMetaType()
{
    qRegisterMetaType<PointData>("PointData");
    qRegisterMetaType<PointList>("PointList");
}

#endif
