#ifndef VANTOSCOPE_SAMPLECONVERSION_H
#define VANTOSCOPE_SAMPLECONVERSION_H

#include "points/pointdata.h"
#include "trdata.h"

#include <QList>
#include <array>
#include <vector>

namespace SampleConversion {

struct Polar
{
    double angle = 0.0; // degrees, 0 to 360
    uint16_t distance = 0;
};

// Fir: the point seen by sample position `column` (0 to 159) with sample
// value `value`, from the calibration line of the column's half.
Polar triangulate(int value, int column, const DeviceParams &params);

// The same, with the terms that depend only on the calibration and the
// column computed once per column and calibration, and the points of the
// sensor's own columns once per value.
class FirGeometry
{
public:
    Polar point(int value, int column, const DeviceParams &params);

    struct Column
    {
        double sinH;
        double cosH;
        double cosView;
    };

    // A sample's value has nine bits; the sensor has this many columns.
    static constexpr int sampleValues = 512;
    static constexpr int sensorColumns = 160;

private:
    std::array<uint32_t, 4> calibration{};
    std::vector<Column> columns;
    // The point of every value of each of the sensor's columns, worked out
    // on the column's first sample: a frame holds 160 samples, and at 250
    // frames a second the trigonometry per sample was most of decoding.
    std::vector<std::vector<Polar>> columnPoints;
};

// Maple: the angle (degrees, -90 to 90) at which calibration line `line`
// (zone 1 to 6 as 0 to 5) sees sensor column `column`, and its cosine;
// cached per line, column and calibration.
class ZoneGeometry
{
public:
    struct Ray
    {
        double angle;
        double cosAngle;
    };
    Ray ray(int line, int column, const DeviceParams &params);

private:
    std::array<uint32_t, 12> calibration{};
    std::array<std::vector<Ray>, 6> rays;
};

// Fir: keeps the candidates that have a neighbour within 20 mm and a
// neighbour within 2 degrees; a missing neighbour counts as angle 0, distance 0.
PointList keepSupportedPoints(const std::vector<PointData> &candidates);

// A non-negative double truncated toward zero and stored in 16 bits; values
// that are not finite give 0.
uint16_t toDistance(double value);

} // namespace SampleConversion

#endif
