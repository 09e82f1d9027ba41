#ifndef VANTOSCOPE_TEST_SYNTHETICSCAN_H
#define VANTOSCOPE_TEST_SYNTHETICSCAN_H

#include "points/pointdata.h"
#include "points/sensorscan.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QRect>
#include <cmath>

// A sensor in a rectangular room (3.2 m to the front wall, 2.5 m to the
// back, 4 m to the left, 2 m to the right) with a round pillar ahead and
// to the right, sampled at `count` evenly spaced angles. Confidence falls
// with distance.
inline PointList syntheticRoomScan(int count)
{
    PointList scan;
    scan.reserve(count + 1);
    const double front = 3200, back = 2500, left = 4000, right = 2000;
    const double pillarX = 900, pillarY = 1500, pillarR = 250; // x right, y ahead
    for (int i = 0; i < count; ++i) {
        const double angle = 360.0 * i / count;
        const double t = angle * M_PI / 180.0;
        const double dx = std::sin(t), dy = std::cos(t);
        double d = 1e9;
        if (dy > 1e-9)
            d = std::min(d, front / dy);
        if (dy < -1e-9)
            d = std::min(d, back / -dy);
        if (dx > 1e-9)
            d = std::min(d, right / dx);
        if (dx < -1e-9)
            d = std::min(d, left / -dx);
        // Ray against the pillar.
        const double b = dx * pillarX + dy * pillarY;
        const double c = pillarX * pillarX + pillarY * pillarY - pillarR * pillarR;
        const double disc = b * b - c;
        if (disc >= 0 && b - std::sqrt(disc) > 0)
            d = std::min(d, b - std::sqrt(disc));
        PointData p;
        p.angle = angle;
        p.distance = static_cast<uint16_t>(std::lround(d));
        p.confidence = static_cast<uint8_t>(std::max(0.0, 255.0 - d / 25.0));
        // A short gap of missing returns.
        if (angle > 200 && angle < 210)
            p.distance = 0;
        scan.append(p);
    }
    return scan;
}

// A published scan of `points`, its figures left at 0.
inline SensorScan publishedScan(PointList points,
                                SensorScan::Family family = SensorScan::Family::Streaming)
{
    SensorScan scan;
    scan.family = family;
    scan.points = std::move(points);
    return scan;
}

inline PointData point(double angle, uint16_t distance, uint8_t confidence = 0)
{
    PointData p;
    p.angle = angle;
    p.distance = distance;
    p.confidence = confidence;
    return p;
}

// Bounding box of the pixels that have exactly this opaque colour.
inline QRect boundsOf(const QImage &image, QColor color, const QRect &area = QRect())
{
    const QRect r = area.isNull() ? image.rect() : area & image.rect();
    QRect box;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (image.pixelColor(x, y) == color)
                box |= QRect(x, y, 1, 1);
    return box;
}

#endif
