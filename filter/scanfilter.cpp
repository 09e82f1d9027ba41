#include "scanfilter.h"

#include "clusterfilters.h"

namespace ScanFilter {

std::vector<PointData> apply(const std::vector<PointData> &points, int filterVariant, int modelType,
                             int speed)
{
    if (filterVariant == 0)
        return CorrectingClusterFilter(modelType, speed).apply(points);
    return smoothDistances(RelativeClusterFilter(speed).apply(points));
}

} // namespace ScanFilter
