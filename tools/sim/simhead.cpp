#include "simhead.h"

#include <algorithm>

namespace {

// Mixed into the seed of the measurement faults' generator, so its draws do
// not repeat those of the main one.
constexpr uint32_t knobSeedMix = 0x6A09E667;

// The command-protocol sensors look at a smaller room.
double sceneSize(const SimModel &model)
{
    if (!model.commandProtocol())
        return 1.0;
    return model.format == SimModel::Fir ? 0.19 : 0.4;
}

} // namespace

SimHead::SimHead(const SimModel &simModel, uint32_t seed, const SimFaults &simFaults)
    : model(simModel), injector(simFaults), faults(simFaults),
      scene(sceneSize(simModel), !simFaults.staticScene), rng(seed), knobRng(seed ^ knobSeedMix)
{
}

// Kept within four standard deviations and well above 0; `nominal` itself
// without jitter.
double SimHead::jitteredHz(double nominal)
{
    if (faults.speedJitter <= 0)
        return nominal;
    const double sigma = faults.speedJitter / 100.0;
    std::normal_distribution<double> factor(1.0, sigma);
    return nominal * std::max(0.1, std::clamp(factor(knobRng), 1.0 - 4 * sigma, 1.0 + 4 * sigma));
}

void SimHead::pointAt(double angle, double t, uint16_t &distance, uint8_t &confidence)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> noise(0.0, 1.0);
    double d = scene.distanceAt(angle, t);
    // A few points come back empty, as on a real unit (dark or glancing surfaces).
    if (d <= 0 || unit(rng) < 0.03) {
        distance = 0;
        confidence = 0;
        return;
    }
    if (faults.rangeNoise < 0) {
        d += noise(rng) * (model.commandProtocol() ? 1.0 : 4.0 + d * 0.002);
    } else {
        // The built-in draw still happens, so the other draws stay in step.
        noise(rng);
        d += std::normal_distribution<double>(0.0, faults.rangeNoise)(knobRng);
    }
    distance = static_cast<uint16_t>(std::clamp(d, 1.0, 65000.0));
    const double strength = 235.0 - d / (model.commandProtocol() ? 8.0 : 60.0) + noise(rng) * 6.0;
    int c = static_cast<int>(std::clamp(strength, 20.0, 250.0));
    if (model.flagConfidence) {
        c &= ~1;
        if (unit(rng) < 0.05) // a bright reflector
            c |= 1;
    }
    confidence = static_cast<uint8_t>(c);
    if (faults.dropout > 0 && unit(knobRng) < faults.dropout) {
        distance = 0;
        confidence = 0;
    }
}
