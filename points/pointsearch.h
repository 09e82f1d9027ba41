#ifndef VANTOSCOPE_POINTSEARCH_H
#define VANTOSCOPE_POINTSEARCH_H

#include "pointdata.h"

#include <cmath>

// Index in `scan` of the point the map view labels when the user has picked
// `angle` (degrees). Angles are compared as floats; among points with the
// same float angle the first one in the list stands for all of them.
//
// - The nearest points below (or at) and above the angle are candidates; the
//   one above wins a tie.
// - If the next point above is more than 2 degrees away, the last entry of
//   the list is returned (the end-of-scan marker of a streaming scan, whose
//   label then shows the picked angle), even when the point below is close.
// - With nothing above, the point below is returned when it lies within 2
//   degrees, otherwise the last entry.
// - The search never looks past an end-of-scan marker, which sits at 720.
// - Returns -1 when there is nothing to pick (an empty list, or only points
//   at or beyond the marker).
//
// This is a single pass without allocation: the result is the same as
// walking an angle-ordered map of the points, but it is cheap enough to run
// on every redraw.
inline int findNearestPoint(const PointList &scan, double angle)
{
    const float x = static_cast<float>(angle);
    const float marker = static_cast<float>(endOfScanAngle);

    // Points at or above the marker angle are never reached when the marker
    // is present, since the ascending walk stops at it.
    bool hasMarker = false;
    for (const PointData &p : scan) {
        if (isEndOfScanMarker(p)) {
            hasMarker = true;
            break;
        }
    }

    int below = -1; // last point at or below x in ascending order
    float belowAngle = x;
    int above = -1; // first point strictly above x
    float aboveAngle = 0.0f;
    for (int i = 0; i < scan.size(); ++i) {
        const float a = static_cast<float>(scan.at(i).angle);
        if (std::isnan(a) || (hasMarker && a >= marker))
            continue;
        if (a <= x) {
            if (below < 0 || a > belowAngle) {
                below = i;
                belowAngle = a;
            }
        } else if (a > x) {
            if (above < 0 || a < aboveAngle) {
                above = i;
                aboveAngle = a;
            }
        }
    }

    const int last = scan.size() - 1;
    if (above >= 0) {
        if (aboveAngle - x > 2.0f)
            return last;
        if (below >= 0 && std::fabs(x - aboveAngle) > std::fabs(x - belowAngle))
            return below;
        return above;
    }
    if (below < 0)
        return -1;
    return std::fabs(belowAngle - x) < 2.0f ? below : last;
}

#endif
