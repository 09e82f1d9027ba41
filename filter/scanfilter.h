#ifndef VANTOSCOPE_SCANFILTER_H
#define VANTOSCOPE_SCANFILTER_H

#include "points/pointdata.h"

#include <vector>

// The filter stage run on every finished scan of a streaming model.
namespace ScanFilter {

// Filters the points of one scan (without its end-of-scan marker). Filter
// variant 0 runs the correcting filter with the model's correction constants;
// any other variant runs the relative filter followed by the smoothing pass.
// `speed` is the rotation speed of the scan's last frame.
std::vector<PointData> apply(const std::vector<PointData> &points, int filterVariant, int modelType,
                             int speed);

} // namespace ScanFilter

#endif
