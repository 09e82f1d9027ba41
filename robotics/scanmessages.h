#ifndef VANTOSCOPE_ROBOTICS_SCANMESSAGES_H
#define VANTOSCOPE_ROBOTICS_SCANMESSAGES_H

#include "points/sensorscan.h"

#include <QByteArray>
#include <vector>

namespace Models {
struct Record;
}

// Published scans as the robotics tools read them: two channels, JSON
// encoded, described by JSON schemas.
//   /scan    foxglove.LaserScan: one range per step of the model's nominal
//            angular step, from the nearest point within half a step
//   /points  foxglove.PointCloud: every point as measured (x, y, confidence)
//
// Angles follow the robotics convention: radians, counter-clockwise about +Z
// (up), 0 straight ahead along +X. The map's angles are degrees clockwise
// from straight ahead, so a point at map angle θ lies at -θ·π/180, wrapped
// into (-π, π]: 90° on the map (the right) is -π/2, 270° (the left) is +π/2.
// x = r·cos(θ), y = -r·sin(θ), in metres.
namespace Robotics {

inline constexpr char scanTopic[] = "/scan";
inline constexpr char pointsTopic[] = "/points";
inline constexpr char laserScanSchemaName[] = "foxglove.LaserScan";
inline constexpr char pointCloudSchemaName[] = "foxglove.PointCloud";
inline constexpr char messageEncoding[] = "json";
inline constexpr char schemaEncoding[] = "jsonschema";
inline constexpr char frameId[] = "laser";

// The JSON schemas of the two messages.
QByteArray laserScanSchema();
QByteArray pointCloudSchema();

// A map angle in the robotics convention, in (-π, π].
double robotAngle(double mapDegrees);

// The angles of a laser scan's ranges: count steps of `step` radians from
// `start`. A sensor that sees all around starts straight ahead and steps
// once round; one with a narrower field spans it from its right edge
// (-field/2) to its left edge (+field/2), both included.
struct ScanGrid
{
    double startDegrees = 0.0;
    double stepDegrees = 1.0;
    int count = 360;
    bool fullCircle = true;

    // The model's nominal grid: its field of view over the points a
    // typical unit measures per scan.
    static ScanGrid forModel(const Models::Record &model);
    double start() const;
    double step() const;
    double end() const;
};

// Ranges are metres; a step without a point, or whose nearest point has no
// return, carries noReturnRange, which lies below range_min (JSON has no
// infinity). Every distance the sensors can report lies within
// range_min..range_max.
inline constexpr double rangeMin = 0.001;
inline constexpr double rangeMax = 65.535;
inline constexpr double noReturnRange = 0.0;

// The timestamp of a scan's messages, nanoseconds: its wall-clock time when
// the session knows it (live, or a capture's recorded time), otherwise the
// session's clock.
qint64 messageTime(const SensorScan &scan);

// Encodes scans as the two messages, reusing its buffers from scan to scan.
class ScanEncoder
{
public:
    explicit ScanEncoder(const ScanGrid &grid = {});
    void setGrid(const ScanGrid &grid);
    const ScanGrid &grid() const { return scanGrid; }

    // For every step of the grid, the index in `points` of the point
    // nearest to it within half a step, or -1.
    const std::vector<int> &resample(const PointList &points);

    // The messages of `scan`, replacing what `out` held.
    void laserScan(const SensorScan &scan, QByteArray &out);
    void pointCloud(const SensorScan &scan, QByteArray &out);

private:
    ScanGrid scanGrid;
    std::vector<int> nearest;
    std::vector<double> offsets;
    QByteArray cloud;
};

} // namespace Robotics

#endif
