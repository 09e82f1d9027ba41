#include "clusterfilters.h"

#include "editions/edition.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

using Cluster = std::vector<PointData>;

constexpr int correctingFarDistance = 1000;
constexpr int relativeFarDistance = 5000;
constexpr int keptClusterSize = 16;

// Splits `points` into the far ones, appended to `result` in input order, and
// the near ones, returned sorted by angle (stable, so equal angles keep their
// input order).
std::vector<PointData> splitFar(const std::vector<PointData> &points, int farDistance,
                                std::vector<PointData> &result)
{
    std::vector<PointData> near;
    for (const PointData &p : points) {
        if (p.distance >= farDistance)
            result.push_back(p);
        else
            near.push_back(p);
    }
    std::stable_sort(near.begin(), near.end(),
                     [](const PointData &a, const PointData &b) { return a.angle < b.angle; });
    return near;
}

// Groups angle-sorted points into clusters: a point opens a new cluster when
// it is more than `gap` degrees from the previous one or `distanceJump` says
// its distance is too far from the previous distance. The last cluster is
// joined to the front of the first when the two meet across 0 degrees.
template <typename DistanceJump, typename DistanceMeets>
std::vector<Cluster> makeClusters(const std::vector<PointData> &near, double gap,
                                  DistanceJump distanceJump, DistanceMeets distanceMeets)
{
    std::vector<Cluster> clusters;
    Cluster current;
    double previousAngle = -10.0;
    double previousDistance = 0.0;
    for (const PointData &p : near) {
        if ((std::abs(p.angle - previousAngle) > gap ||
             distanceJump(p.distance, previousDistance)) &&
            !current.empty()) {
            clusters.push_back(std::move(current));
            current.clear();
        }
        current.push_back(p);
        previousAngle = p.angle;
        previousDistance = p.distance;
    }
    if (!current.empty())
        clusters.push_back(std::move(current));

    if (clusters.size() >= 2) {
        const PointData &first = clusters.front().front();
        const PointData &last = clusters.back().back();
        if (std::abs(first.angle + 360.0 - last.angle) < gap && distanceMeets(first, last)) {
            Cluster &front = clusters.front();
            front.insert(front.begin(), clusters.back().begin(), clusters.back().end());
            clusters.pop_back();
        }
    }
    return clusters;
}

} // namespace

CorrectingClusterFilter::Correction CorrectingClusterFilter::correctionFor(int typeCode)
{
    return Edition::rangeCorrectionFor(typeCode);
}

CorrectingClusterFilter::CorrectingClusterFilter(int typeCode, int speed) : speed(speed)
{
    const Correction c = correctionFor(typeCode);
    rangeOffset = c.rangeOffset;
    lateralIntercept = c.lateralIntercept;
    lateralSlope = c.lateralSlope;
}

std::vector<PointData> CorrectingClusterFilter::correct(const std::vector<PointData> &points) const
{
    std::vector<PointData> corrected;
    corrected.reserve(points.size());
    for (PointData p : points) {
        if (p.distance == 0)
            continue;
        const double d = p.distance;
        const double m = d + rangeOffset;
        const double l = d * lateralSlope + lateralIntercept;
        // Distances the correction pushes past the 16-bit range saturate
        // instead of wrapping round to a near distance.
        const double length = std::min(std::sqrt(l * l + m * m), 65535.0);
        p.distance = static_cast<uint16_t>(length);
        // The correction angle is in degrees with pi taken to five decimals.
        const double c = std::atan(l / m) * 180 / 3.14159;
        double a = p.angle - c;
        if (a > 360)
            a -= 360;
        if (a < 0)
            a += 360;
        p.angle = a;
        corrected.push_back(p);
    }
    return corrected;
}

std::vector<PointData> CorrectingClusterFilter::apply(const std::vector<PointData> &points) const
{
    std::vector<PointData> result;
    const std::vector<PointData> near = splitFar(correct(points), correctingFarDistance, result);
    const double gap = speed / sampleRate * 1.5;
    const std::vector<Cluster> clusters = makeClusters(
        near, gap, [](double d, double previous) { return std::abs(d - previous) > 50; },
        [](const PointData &f, const PointData &l) {
            return std::abs(int(f.distance) - int(l.distance)) < 50;
        });

    const double minMeanStep = speed / sampleRate - 0.2;
    for (const Cluster &cluster : clusters) {
        const int n = static_cast<int>(cluster.size());
        bool keep = true;
        if (n < keptClusterSize) {
            int odd = 0;
            double confidenceSum = 0;
            double distanceSum = 0;
            for (const PointData &p : cluster) {
                odd += p.confidence & 1;
                confidenceSum += p.confidence;
                distanceSum += p.distance;
            }
            const double oddShare = double(odd) / n;
            const double meanConfidence = confidenceSum / n;
            const double meanDistance = distanceSum / n;
            const double t = minMeanConfidence;
            if (oddShare < 0.2 && meanConfidence > t) {
                keep = true;
            } else if (oddShare > 0.5 && meanConfidence < t) {
                keep = false;
            } else if (meanDistance < 300 && meanConfidence < t && n <= 4) {
                keep = false;
            } else if (meanDistance < 300 && oddShare > 0.9 && n <= 2) {
                keep = false;
            } else if (n == 1) {
                keep = false; // no spacing to judge
            } else {
                double stepSum = 0;
                for (int i = 1; i < n; ++i)
                    stepSum += std::abs(cluster[size_t(i)].angle - cluster[size_t(i - 1)].angle);
                keep = stepSum / (n - 1) > minMeanStep;
            }
        }
        if (keep)
            result.insert(result.end(), cluster.begin(), cluster.end());
    }
    return result;
}

RelativeClusterFilter::RelativeClusterFilter(int speed) : speed(speed) {}

std::vector<PointData> RelativeClusterFilter::apply(const std::vector<PointData> &points) const
{
    std::vector<PointData> result;
    const std::vector<PointData> near = splitFar(points, relativeFarDistance, result);
    const double gap = speed / sampleRate * 2;
    const std::vector<Cluster> clusters = makeClusters(
        near, gap,
        [](double d, double previous) { return std::abs(d - previous) > 0.03 * previous; },
        [](const PointData &f, const PointData &l) {
            return std::abs(double(f.distance) - double(l.distance)) < 0.03 * l.distance;
        });

    for (const Cluster &cluster : clusters) {
        const int n = static_cast<int>(cluster.size());
        bool keep = true;
        if (n < keptClusterSize) {
            int confidenceSum = 0;
            for (const PointData &p : cluster)
                confidenceSum += p.confidence;
            if (n <= 2 && confidenceSum / n < minSmallClusterConfidence)
                keep = false;
            else
                keep = double(confidenceSum) / n > minMeanConfidence;
        }
        if (keep)
            result.insert(result.end(), cluster.begin(), cluster.end());
    }
    return result;
}

std::vector<PointData> smoothDistances(std::vector<PointData> points)
{
    int previous = 0;
    for (PointData &p : points) {
        if (p.distance >= 1000) {
            previous = 0;
            continue;
        }
        if (previous != 0 && std::abs(p.distance - previous) < 50)
            p.distance = static_cast<uint16_t>((p.distance + previous) / 2);
        previous = p.distance;
    }
    return points;
}
