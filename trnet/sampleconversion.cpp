#include "sampleconversion.h"

#include "bytes/littleendian.h"
#include "qtrnet.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace SampleConversion {

namespace {

// The two conversions use these two approximations of pi; the results
// depend on the exact values.
constexpr double piHalves = 3.14159265;
constexpr double piZones = 3.141592653;

// Geometry of the Fir halves: each half looks through a window turned by
// 22.5 degrees, offset sideways by 5.315 mm and forward by 1.22 mm.
constexpr double tilt = 22.5;
constexpr double sideOffset = 5.315;
constexpr double forwardOffset = 1.22;

constexpr int neighbourDistance = 20;
constexpr double neighbourAngle = 2.0;

uint16_t sampleAt(const QByteArray &payload, int offset)
{
    return Bytes::Reader(payload).u16(offset);
}

int32_t timestampOf(const QByteArray &payload)
{
    return static_cast<int32_t>(Bytes::Reader(payload).u32(0));
}

// Angle of sample `index` of a fan spread evenly over +-`halfWidth` degrees,
// `quarter` samples per half width.
double fanAngle(int index, int quarter, double halfWidth)
{
    const double angle = index * halfWidth / quarter - halfWidth;
    return angle < 0 ? angle + 360 : angle;
}

} // namespace

uint16_t toDistance(double value)
{
    if (!std::isfinite(value) || std::fabs(value) >= 9.0e18)
        return 0;
    return static_cast<uint16_t>(static_cast<int64_t>(value));
}

namespace {

// Columns beyond this are computed afresh each time instead of cached: no
// sensor sends that many, so only a corrupt frame could ask for them.
constexpr int cachedColumns = 1024;

FirGeometry::Column columnTerms(int column, const DeviceParams &params)
{
    const bool right = column > 79;
    const int half = right ? DeviceParams::Right : DeviceParams::Left;
    const double k = params.halfSlope[half] / 10000.0;
    const double b = params.halfIntercept[half] / 10000.0;
    double h = k * ((right ? 159 : 79) - column) - b;
    if (b <= 1)
        h = std::atan(h) * 180 / piHalves; // the line gave a slope, not degrees
    const double hRad = h * piHalves / 180;
    const double view = right ? tilt - h : h + tilt;
    return {std::sin(hRad), std::cos(hRad), std::cos(view * piHalves / 180)};
}

Polar pointFromTerms(int value, int column, const FirGeometry::Column &terms)
{
    const bool right = column > 79;
    const double tiltRad = piHalves / 8;
    const double cosTilt = std::cos(tiltRad);
    const double sinTilt = std::sin(tiltRad);
    const double r = (value - forwardOffset) / terms.cosView;
    double x = 0;
    double y = 0;
    if (right) {
        x = cosTilt * r * terms.sinH - sinTilt * r * terms.cosH - sideOffset;
        y = cosTilt * r * terms.cosH + sinTilt * r * terms.sinH + forwardOffset;
    } else {
        x = cosTilt * r * terms.sinH + sinTilt * r * terms.cosH + sideOffset;
        y = cosTilt * r * terms.cosH - sinTilt * r * terms.sinH + forwardOffset;
    }

    double distance = std::sqrt(x * x + y * y);
    double angle = std::atan(x / y) * 180 / piHalves;
    // The left half cannot see past the centre line.
    if (!right && angle < 1)
        distance = 0;
    if (angle < 0)
        angle += 360;
    return {angle, toDistance(distance)};
}

ZoneGeometry::Ray zoneRay(int line, int column, const DeviceParams &params)
{
    const double k = params.zoneSlope[size_t(line)] / 10000.0;
    const double b = params.zoneIntercept[size_t(line)] / 10000.0;
    const double angle = std::atan(column * k - b) * 180 / piZones;
    return {angle, std::cos(angle * piZones / 180)};
}

} // namespace

Polar triangulate(int value, int column, const DeviceParams &params)
{
    return pointFromTerms(value, column, columnTerms(column, params));
}

Polar FirGeometry::point(int value, int column, const DeviceParams &params)
{
    const std::array<uint32_t, 4> now{params.halfSlope[0], params.halfSlope[1],
                                      params.halfIntercept[0], params.halfIntercept[1]};
    if (now != calibration) {
        calibration = now;
        columns.clear();
        columnPoints.clear();
    }
    if (column < 0 || column >= cachedColumns)
        return triangulate(value, column, params);
    while (int(columns.size()) <= column)
        columns.push_back(columnTerms(int(columns.size()), params));
    const Column &terms = columns[size_t(column)];
    if (column >= sensorColumns || value < 0 || value >= sampleValues)
        return pointFromTerms(value, column, terms);
    if (columnPoints.empty())
        columnPoints.resize(sensorColumns);
    std::vector<Polar> &points = columnPoints[size_t(column)];
    if (points.empty()) {
        points.reserve(sampleValues);
        for (int v = 0; v < sampleValues; ++v)
            points.push_back(pointFromTerms(v, column, terms));
    }
    return points[size_t(value)];
}

ZoneGeometry::Ray ZoneGeometry::ray(int line, int column, const DeviceParams &params)
{
    std::array<uint32_t, 12> now{};
    std::copy(params.zoneSlope.begin(), params.zoneSlope.end(), now.begin());
    std::copy(params.zoneIntercept.begin(), params.zoneIntercept.end(), now.begin() + 6);
    if (now != calibration) {
        calibration = now;
        for (auto &r : rays)
            r.clear();
    }
    if (column < 0 || column >= cachedColumns)
        return zoneRay(line, column, params);
    std::vector<Ray> &cache = rays[size_t(line)];
    while (int(cache.size()) <= column)
        cache.push_back(zoneRay(line, int(cache.size()), params));
    return cache[size_t(column)];
}

PointList keepSupportedPoints(const std::vector<PointData> &candidates)
{
    PointList kept;
    kept.reserve(static_cast<int>(candidates.size()));
    const PointData missing{};
    const size_t count = candidates.size();
    for (size_t i = 0; i < count; ++i) {
        const PointData &p = candidates[i];
        const PointData &before = i > 0 ? candidates[i - 1] : missing;
        const PointData &after = i + 1 < count ? candidates[i + 1] : missing;
        const bool nearInDistance =
            std::abs(int(before.distance) - int(p.distance)) <= neighbourDistance ||
            std::abs(int(after.distance) - int(p.distance)) <= neighbourDistance;
        const bool nearInAngle = std::fabs(before.angle - p.angle) <= neighbourAngle ||
                                 std::fabs(after.angle - p.angle) <= neighbourAngle;
        if (nearInDistance && nearInAngle)
            kept.append(p);
    }
    return kept;
}

} // namespace SampleConversion

using namespace SampleConversion;

void QTRNet::convertDualHalf(const TRData &frame)
{
    const QByteArray &payload = frame.payload;
    const int n = payload.size();
    if ((frame.command != PlainSamples && frame.command != MeasuredSamples) || n < 4)
        return;

    if (frame.command == PlainSamples) {
        const int quarter = n / 4;
        PointList scan;
        scan.reserve(n / 2);
        for (int c = 0; c < n / 2; ++c) {
            const uint16_t sample = sampleAt(payload, 2 * c);
            if (sample != 0)
                scan.append(PointData{fanAngle(c, quarter, 45), sample, 255, uint32_t(c), 0});
        }
        scanList = scan;
        emit mapReady(scanList);
        return;
    }

    sampleCount = (n - 4) / 2;
    std::vector<PointData> candidates;
    candidates.reserve(static_cast<size_t>(sampleCount));
    for (int c = 0; c < sampleCount; ++c) {
        const uint16_t sample = sampleAt(payload, 4 + 2 * c);
        const auto confidence = static_cast<uint8_t>((sample >> 8) & 0xFE);
        const int value = sample & 0x1FF;
        if (value == 0 || confidence == 0)
            continue;
        const Polar polar = firGeometry.point(value, c, params);
        candidates.push_back(PointData{polar.angle, polar.distance, confidence, uint32_t(c), 0});
    }
    scanList = keepSupportedPoints(candidates);

    const int32_t t = timestampOf(payload);
    lastTimestamp = t;
    const uint32_t elapsed = static_cast<uint32_t>(t) - static_cast<uint32_t>(previousTimestamp);
    rate = static_cast<double>(1000.0f / static_cast<float>(elapsed));
    previousTimestamp = t;
    pixSum = frame.parameter;
    emit mapReady(scanList);
}

void QTRNet::convertZoned(const TRData &frame)
{
    const QByteArray &payload = frame.payload;
    const int n = payload.size();
    if ((frame.command != PlainSamples && frame.command != MeasuredSamples) || n < 4)
        return;

    QVector<PointData> samples;
    PointList scan;
    if (frame.command == PlainSamples) {
        const int quarter = n / 4;
        sampleCount = n / 2;
        samples.reserve(n / 2);
        scan.reserve(n / 2);
        for (int i = 0; i < n / 2; ++i) {
            const uint16_t sample = sampleAt(payload, 2 * i);
            const PointData p{fanAngle(i, quarter, 40), sample, 255, uint32_t(i), 0};
            samples.append(p);
            if (sample != 0)
                scan.append(p);
        }
    } else {
        const int count = (n - 4) / 2;
        sampleCount = count;
        // A frame too short to fill a quarter of the fan still spreads its
        // one sample as if it did.
        const int quarter = qMax((n - 4) / 4, 1);
        samples.reserve(count);
        scan.reserve(count);
        for (int i = 0; i < count; ++i) {
            const uint16_t sample = sampleAt(payload, 4 + 2 * i);
            const auto confidence = static_cast<uint8_t>(((sample >> 10) & 0x7) * 32);
            const auto zone = static_cast<uint16_t>(sample >> 13);
            const int value = sample & 0x3FF;
            PointData p{0.0, 0, confidence, uint32_t(i), zone};
            if (params.rawMode != 0) {
                p.angle = fanAngle(i, quarter, 40);
                p.distance = static_cast<uint16_t>(value);
            } else {
                if (value == 0)
                    continue;
                // Zones 0 and 7 have no line of their own and use zone 1's.
                const int line = (zone >= 1 && zone <= 6) ? zone - 1 : 0;
                const auto ray = zoneGeometry.ray(line, params.columnStep * i, params);
                double angle = ray.angle;
                p.distance = toDistance(value / ray.cosAngle);
                if (angle < 0)
                    angle += 360;
                p.angle = angle;
            }
            samples.append(p);
            if (p.distance != 0)
                scan.append(p);
        }
        if (params.rawMode == 0) {
            // Timed like Fir's frames, so Maple's rate is its frame rate.
            const int32_t t = timestampOf(payload);
            lastTimestamp = t;
            const uint32_t elapsed =
                static_cast<uint32_t>(t) - static_cast<uint32_t>(previousTimestamp);
            rate = static_cast<double>(1000.0f / static_cast<float>(elapsed));
            previousTimestamp = t;
        }
    }
    sampleList = samples;
    scanList = scan;
    emit mapReady(scanList);
}
