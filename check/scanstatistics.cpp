#include "scanstatistics.h"

#include <cmath>

double normalizedAngle(double degrees)
{
    const double folded = std::fmod(degrees, 360.0);
    return folded < 0 ? folded + 360.0 : folded;
}

ScanStatistics::ScanStatistics(double nominalScanHz, bool commandProtocol,
                               QVector<ReferenceTarget> references)
    : StreamStatistics(nominalScanHz, commandProtocol), targets(std::move(references)),
      targetStats(targets.size()), targetSeries(targets.size(), DownsampledSeries(driftWindowS)),
      targetTimes(targets.size(), DownsampledSeries(driftWindowS))
{
}

void ScanStatistics::setFieldOfView(double centre, double width)
{
    fanCentre = normalizedAngle(centre);
    fanWidth = std::clamp(width, 1.0, 360.0);
}

bool ScanStatistics::inFieldOfView(int bin) const
{
    return fanWidth >= 360.0 || std::fabs(fromCentre(bin + 0.5)) < fanWidth / 2;
}

void ScanStatistics::add(const SensorScan &scan)
{
    StreamStatistics::add(scan);
    addPoints(scan, sinceStart(scan));
}

void ScanStatistics::addPoints(const SensorScan &scan, double sinceStart)
{
    std::array<bool, binCount> hit{};
    validAngles.clear();
    for (const PointData &p : scan.points) {
        // An angle beyond one turn is not a measurement.
        if (p.distance == 0 || !(p.angle >= -360.0 && p.angle <= 360.0))
            continue;
        const double angle = normalizedAngle(p.angle);
        const int index = std::min(binCount - 1, static_cast<int>(angle));
        Bin &bin = angleBins[index];
        hit[index] = true;
        if (bin.points == 0) {
            bin.reference = p.distance;
            bin.distances.fill(0, distanceBuckets);
        }
        ++bin.points;
        const double x = angle - (index + 0.5);
        const double y = p.distance - bin.reference;
        bin.sx += x;
        bin.sy += y;
        bin.sxx += x * x;
        bin.sxy += x * y;
        bin.syy += y * y;
        ++bin.distances[std::min(distanceBuckets - 1,
                                 static_cast<int>(p.distance / distanceBucketMm))];
        for (int t = 0; t < targets.size(); ++t) {
            const double off = std::fabs(normalizedAngle(angle - targets[t].angle + 180.0) - 180.0);
            if (off <= targets[t].halfWidth) {
                targetStats[t].add(p.distance);
                targetSeries[t].add(sinceStart, p.distance);
                targetTimes[t].add(sinceStart, sinceStart);
            }
        }
        validAngles.push_back(fromCentre(angle));
    }
    for (int i = 0; i < binCount; ++i)
        if (hit[i])
            ++angleBins[i].scansWithReturn;

    // The largest gap between neighbouring returns; around the whole turn,
    // or inside the fan for models that see one.
    double gap = fanWidth;
    if (validAngles.size() >= 2) {
        std::sort(validAngles.begin(), validAngles.end());
        gap = fanWidth >= 360.0 ? validAngles.front() + 360.0 - validAngles.back() : 0.0;
        for (size_t i = 1; i < validAngles.size(); ++i)
            gap = std::max(gap, validAngles[i] - validAngles[i - 1]);
    }
    gapHist.add(gap);
}

double ScanStatistics::returnShare(int i) const
{
    return scans() > 0 ? static_cast<double>(angleBins[i].scansWithReturn) / scans() : 0.0;
}

double ScanStatistics::binSigma(int i) const
{
    const Bin &b = angleBins[i];
    if (b.points < 3)
        return std::nan("");
    const double n = static_cast<double>(b.points);
    const double sxx = b.sxx - b.sx * b.sx / n;
    const double sxy = b.sxy - b.sx * b.sy / n;
    const double syy = b.syy - b.sy * b.sy / n;
    // Points all at one angle leave no slope to fit: plain spread.
    const bool slope = sxx > 1e-9 * n;
    const double residual = slope ? syy - sxy * sxy / sxx : syy;
    const double dof = slope ? n - 2 : n - 1;
    return std::sqrt(std::max(0.0, residual / dof));
}

double ScanStatistics::binMedian(int i) const
{
    const Bin &b = angleBins[i];
    if (b.points == 0)
        return std::nan("");
    const double half = b.points / 2.0;
    long long below = 0;
    for (int k = 0; k < b.distances.size(); ++k) {
        if (b.distances[k] > 0 && below + b.distances[k] >= half)
            return (k + (half - below) / b.distances[k]) * distanceBucketMm;
        below += b.distances[k];
    }
    return distanceBuckets * distanceBucketMm;
}

double ScanStatistics::coverage() const
{
    int inView = 0, covered = 0;
    for (int i = 0; i < binCount; ++i) {
        if (!inFieldOfView(i))
            continue;
        ++inView;
        if (returnShare(i) > 0.5)
            ++covered;
    }
    return inView > 0 ? static_cast<double>(covered) / inView : 0.0;
}
