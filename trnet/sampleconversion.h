#ifndef VANTOSCOPE_SAMPLECONVERSION_H
#define VANTOSCOPE_SAMPLECONVERSION_H

#include "pointdata.h"
#include "trdata.h"

#include <QList>
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

// Fir: keeps the candidates that have a neighbour within 20 mm and a
// neighbour within 2 degrees; a missing neighbour counts as angle 0, distance 0.
QList<PointData> keepSupportedPoints(const std::vector<PointData> &candidates);

// A non-negative double truncated toward zero and stored in 16 bits; values
// that are not finite give 0.
uint16_t toDistance(double value);

} // namespace SampleConversion

#endif
