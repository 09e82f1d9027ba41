#include "streamingsensor.h"

#include "streamframes.h"

#include <algorithm>
#include <cmath>

namespace {

// Points per frame of each streaming format.
int pointsPerFrame(SimModel::Format format)
{
    switch (format) {
    case SimModel::Pkg47:
        return 12;
    case SimModel::Pkg36:
        return 8;
    default:
        return 40;
    }
}

// One frame of `points` in the model's format.
QByteArray frameOf(const SimModel &model, double t, double frameHz, uint16_t speed,
                   double firstAngle, double lastAngle, const QVector<Wire::StreamPoint> &points)
{
    switch (model.format) {
    case SimModel::Pkg47: {
        const auto start = static_cast<uint16_t>(std::lround(firstAngle * 100.0) % 36000);
        const auto end = static_cast<uint16_t>(std::lround(lastAngle * 100.0) % 36000);
        const auto stamp = static_cast<uint16_t>(static_cast<int64_t>(t * 1000.0) % 30000);
        return Wire::encodePkg47(speed, start, points, end, stamp);
    }
    case SimModel::Pkg36:
        return Wire::encodePkg36(speed, Wire::pkg36AngleWord(firstAngle), points,
                                 Wire::pkg36AngleWord(lastAngle));
    default: {
        // 0.1 rev/s in the upper seven bits.
        const auto ct = static_cast<uint8_t>(std::min(std::lround(frameHz * 10.0), 127L) << 1);
        return Wire::encodePkgVariable(ct, Wire::pkgVariableAngleValue(firstAngle),
                                       Wire::pkgVariableAngleValue(lastAngle), points);
    }
    }
}

} // namespace

QByteArray StreamingSensor::advance(double t, SimHead &head)
{
    const SimModel &model = head.model;
    QByteArray out;
    const int perFrame = pointsPerFrame(model.format);
    const double degPerSample = 360.0 * model.rotationHz / model.samplesPerSecond;
    const auto due = static_cast<int64_t>(t * model.samplesPerSecond);
    // With speed jitter the angle is accumulated sample by sample, at the
    // speed of the revolution the sample belongs to; without, it follows
    // from the sample index.
    const bool jitter = head.jitter();
    while (nextSample + perFrame <= due) {
        // A frame carries the speed of the revolution its first point is in.
        const double frameHz = revolutionHz;
        const auto speed = static_cast<uint16_t>(std::lround(frameHz * 360.0));
        QVector<Wire::StreamPoint> points(perFrame);
        double firstAngle = 0, lastAngle = 0;
        for (int i = 0; i < perFrame; ++i) {
            const int64_t k = nextSample + i;
            double angle = 0;
            if (jitter) {
                angle = sampleAngle >= 360.0 ? sampleAngle - 360.0 : sampleAngle;
                const double next = sampleAngle + 360.0 * revolutionHz / model.samplesPerSecond;
                if (std::floor(next / 360.0) > std::floor(sampleAngle / 360.0))
                    revolutionHz = head.jitteredHz(model.rotationHz);
                sampleAngle = next;
            } else {
                const double turns = (startAngle + k * degPerSample) / 360.0;
                angle = (turns - std::floor(turns)) * 360.0;
            }
            if (i == 0)
                firstAngle = angle;
            lastAngle = angle;
            head.pointAt(angle, static_cast<double>(k) / model.samplesPerSecond, points[i].distance,
                         points[i].confidence);
        }
        bool wrapped = false;
        if (jitter) {
            nextSample += perFrame;
            wrapped = sampleAngle >= 360.0;
            if (wrapped)
                sampleAngle -= 360.0;
        } else {
            const double before = startAngle + nextSample * degPerSample;
            nextSample += perFrame;
            const double after = startAngle + nextSample * degPerSample;
            wrapped = std::floor(after / 360.0) > std::floor(before / 360.0);
        }

        head.send(out, frameOf(model, t, frameHz, speed, firstAngle, lastAngle, points),
                  static_cast<double>(nextSample) / model.samplesPerSecond);
        if (wrapped) {
            // The first wrap only starts the first scan.
            if (++wraps > 1)
                head.scanCompleted();
            else
                head.firstScanStarted();
        }
    }
    return out;
}
