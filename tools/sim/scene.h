#ifndef VANTOSCOPE_SIM_SCENE_H
#define VANTOSCOPE_SIM_SCENE_H

#include <QVector>

// A synthetic room seen from the sensor: walls, a few fixed objects and one
// that moves, so a viewer shows a picture that is visibly live. Lengths are
// millimetres, angles degrees clockwise from straight ahead.
class Scene
{
public:
    // `size` scales the whole room (1.0: a room of about 6 m by 4 m).
    explicit Scene(double size = 1.0);

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
    QVector<Segment> walls;
    QVector<Disc> objects;
};

#endif
