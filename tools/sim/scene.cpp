#include "scene.h"

#include <cmath>

namespace {

constexpr double degToRad = M_PI / 180.0;

// Distance along the ray (dx, dy) from the origin to a segment, or -1.
double raySegment(double dx, double dy, double x0, double y0, double x1, double y1)
{
    const double ex = x1 - x0, ey = y1 - y0;
    const double denom = dx * ey - dy * ex;
    if (std::fabs(denom) < 1e-12)
        return -1;
    const double t = (x0 * ey - y0 * ex) / denom;
    const double u = (x0 * dy - y0 * dx) / denom;
    return (t > 0 && u >= 0 && u <= 1) ? t : -1;
}

// Distance along the ray to a disc, or -1.
double rayDisc(double dx, double dy, double cx, double cy, double r)
{
    const double b = dx * cx + dy * cy;
    const double c = cx * cx + cy * cy - r * r;
    const double disc = b * b - c;
    if (disc < 0)
        return -1;
    const double t = b - std::sqrt(disc);
    return t > 0 ? t : -1;
}

} // namespace

Scene::Scene(double size, bool withMover)
    : maxRange_(12000.0 * size), scale(size), moving(withMover)
{
    // x to the right, y straight ahead of the sensor, millimetres.
    const double left = -2400, right = 3600, front = 2300, back = -1700;
    walls = {
        {left, front, right - 900, front}, // front wall, with an open doorway
        {right - 100, front, right, front},
        {right, front, right, back},                     // right wall
        {right, back, left, back},                       // back wall
        {left, back, left, front},                       // left wall
        {right - 900, front, right - 900, front + 3000}, // corridor behind the door
        {right - 100, front, right - 100, front + 3000},
    };
    for (Segment &s : walls) {
        s.x0 *= scale;
        s.y0 *= scale;
        s.x1 *= scale;
        s.y1 *= scale;
    }
    objects = {{-900, 900, 160}, {1500, -800, 250}, {-1500, -900, 120}};
    for (Disc &d : objects) {
        d.x *= scale;
        d.y *= scale;
        d.r *= scale;
    }
}

double Scene::distanceAt(double angle, double t) const
{
    const double a = angle * degToRad;
    const double dx = std::sin(a), dy = std::cos(a);
    double best = -1;
    auto consider = [&best](double d) {
        if (d > 0 && (best < 0 || d < best))
            best = d;
    };
    for (const Segment &s : walls)
        consider(raySegment(dx, dy, s.x0, s.y0, s.x1, s.y1));
    for (const Disc &d : objects)
        consider(rayDisc(dx, dy, d.x, d.y, d.r));
    // Someone walking back and forth across the room in front of the sensor.
    if (moving) {
        const double walkerX = scale * 1800.0 * std::sin(t * 0.6);
        consider(rayDisc(dx, dy, walkerX, scale * 1300.0, scale * 180.0));
    }
    if (best < 0 || best > maxRange_)
        return 0.0;
    return best;
}
