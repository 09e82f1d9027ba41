#ifndef VANTOSCOPE_SIM_STREAMINGSENSOR_H
#define VANTOSCOPE_SIM_STREAMINGSENSOR_H

#include "simhead.h"

#include <QByteArray>
#include <cstdint>

// A spinning sensor that streams frames of points from power-on and ignores
// what it is sent.
class StreamingSensor
{
public:
    // `firstRevolutionHz`: the speed of the first revolution.
    explicit StreamingSensor(double firstRevolutionHz) : revolutionHz(firstRevolutionHz) {}

    // The frames completed between the previous call and time `t`.
    QByteArray advance(double t, SimHead &head);

private:
    // The index of the next sample and the angle of sample 0.
    int64_t nextSample = 0;
    int wraps = 0;
    double startAngle = 300.0;
    // With speed jitter: the angle of the next sample (0..360) and the speed
    // of the revolution it belongs to.
    double sampleAngle = 300.0;
    double revolutionHz = 0.0;
};

#endif
