#ifndef VANTOSCOPE_SIM_SCENE_H
#define VANTOSCOPE_SIM_SCENE_H

#include <QVector>

// A synthetic room seen from the sensor: walls, a few fixed objects and one
// that moves, so a viewer shows a picture that is visibly live. Lengths are
// millimetres, angles degrees clockwise from straight ahead.
//
// At size 1.0 the walls are 2300 mm straight ahead (0 degrees), 3600 mm at
// 90, 1700 mm at 180 and 2400 mm at 270 degrees; every length scales with
// the size. Nothing fixed stands on those four rays; the moving object (a
// person walking across the room 1300 mm ahead) crosses the one at 0 degrees.
class Scene
{
public:
    // `size` scales the whole room (1.0: a room of about 6 m by 4 m);
    // without `moving` the walking person stays away.
    explicit Scene(double size = 1.0, bool moving = true);

    // Distance to the first surface along `angle` at time `t` seconds;
    // 0 when nothing is hit within `maxRange`.
    double distanceAt(double angle, double t) const;
    double maxRange() const { return maxRange_; }

private:
    struct Segment
    {
        double x0, y0, x1, y1;
    };
    struct Disc
    {
        double x, y, r;
    };
    double maxRange_;
    double scale;
    bool moving;
    QVector<Segment> walls;
    QVector<Disc> objects;
};

#endif
