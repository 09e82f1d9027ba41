#ifndef VANTOSCOPE_CLUSTERFILTERS_H
#define VANTOSCOPE_CLUSTERFILTERS_H

#include "editions/modelrules.h"
#include "points/pointdata.h"

#include <vector>

// Filters that clean a finished scan of isolated and implausible points near
// the sensor. Near points are sorted by angle and grouped into clusters of
// neighbours; small clusters are kept or dropped as a whole. Points far from
// the sensor pass through untouched. Only angle, distance and confidence of
// the points are read.

// Corrects every point for the sensor's offset geometry, then clusters the
// points nearer than 1000 and judges each cluster by size, confidence and
// angular spacing.
class CorrectingClusterFilter
{
public:
    using Correction = Edition::RangeCorrection;
    // The correction constants of a sensor type code; codes without known
    // constants get none, so their points pass the correction unchanged.
    static Correction correctionFor(int typeCode);

    CorrectingClusterFilter(int typeCode, int speed);

    std::vector<PointData> apply(const std::vector<PointData> &points) const;
    // The correction step alone: points without a return are dropped, the
    // others get their corrected angle and distance.
    std::vector<PointData> correct(const std::vector<PointData> &points) const;

private:
    int minMeanConfidence = 92;
    int sampleRate = 2300;
    double rangeOffset = 0.0;
    double lateralIntercept = 0.0;
    double lateralSlope = 0.0;
    double speed = 0.0;
};

// Clusters the points nearer than 5000 with a distance tolerance relative to
// the distance and judges each cluster by its confidence.
class RelativeClusterFilter
{
public:
    explicit RelativeClusterFilter(int speed);

    std::vector<PointData> apply(const std::vector<PointData> &points) const;

private:
    int minMeanConfidence = 15;
    int minSmallClusterConfidence = 220;
    int sampleRate = 4500;
    double speed = 0.0;
};

// Averages each near distance (below 1000) with the one before it when they
// differ by less than 50; a far point restarts the averaging.
std::vector<PointData> smoothDistances(std::vector<PointData> points);

#endif
