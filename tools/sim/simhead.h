#ifndef VANTOSCOPE_SIM_SIMHEAD_H
#define VANTOSCOPE_SIM_SIMHEAD_H

#include "faultinjector.h"
#include "scene.h"
#include "simmodels.h"

#include <cstdint>
#include <random>

// What every simulated sensor shares: the room it measures, the measuring
// head's noise and the random generators behind both, and the frames on
// their way out through the fault injector.
class SimHead
{
public:
    SimHead(const SimModel &model, uint32_t seed, const SimFaults &faults);

    // The distance and confidence measured towards `angle` (degrees) at time `t`.
    void pointAt(double angle, double t, uint16_t &distance, uint8_t &confidence);
    // A speed drawn around `nominal` with the jitter's spread.
    double jitteredHz(double nominal);
    bool jitter() const { return faults.speedJitter > 0; }

    // Sends `frame`, measured at `frameTime`, through the faults.
    void send(QByteArray &out, const QByteArray &frame, double frameTime)
    {
        injector.append(out, frame, frameTime, rng);
    }
    void firstScanStarted() { injector.scanStarted(); }
    void scanCompleted() { injector.scanCompleted(++scansSent); }

    SimModel model;
    FaultInjector injector;
    int scansSent = 0;

private:
    SimFaults faults;
    Scene scene;
    std::mt19937 rng;
    std::mt19937 knobRng; // draws of the measurement faults only
};

#endif
