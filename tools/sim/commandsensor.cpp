#include "commandsensor.h"

#include "commandframes.h"
#include "trnet/qtrnet.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr double degToRad = M_PI / 180.0;

// Calibration the simulated command-protocol sensors report, in 1/10000.
// Fir: both halves map columns linearly onto degrees (intercept above 1, so
// the line gives degrees directly): the right half covers 315..360, the left
// 0..45 degrees. Maple: every zone spans -40..+40 degrees over 320 columns.
constexpr uint32_t firHalfSlope = 5700;
constexpr uint32_t firHalfIntercept = 225000;
constexpr uint32_t mapleZoneSlope = 53;
constexpr uint32_t mapleZoneIntercept = 8391;
constexpr int sampleColumns = 160;

} // namespace

void CommandSensor::handleCommand(uint8_t command, QByteArray &replies, double t, SimHead &head)
{
    switch (command) {
    case QTRNet::Stop:
        streaming_ = false;
        break;
    case QTRNet::Columns:
        replies.append(takeColumnsRequest(head.model));
        break;
    case QTRNet::Calibration:
        if (!silentHandshake)
            replies.append(calibrationReply(head.model));
        break;
    case QTRNet::MeasuredSamples:
        if (!streaming_)
            startStreaming(t, head);
        break;
    default:
        break;
    }
}

QByteArray CommandSensor::takeColumnsRequest(const SimModel &model)
{
    if (model.format != SimModel::Maple)
        return {};
    columns = sampleColumns;
    return columnsReply();
}

void CommandSensor::startStreaming(double t, SimHead &head)
{
    streaming_ = true;
    streamStart = t;
    framesSent = 0;
    if (head.jitter())
        nextFrameAt = t + 1.0 / head.jitteredHz(head.model.frameHz);
}

QByteArray CommandSensor::advance(double t, SimHead &head)
{
    QByteArray out;
    if (!streaming_)
        return out;
    if (head.jitter()) {
        // Each frame interval at a rate of its own.
        while (nextFrameAt <= t) {
            const double frameTime = nextFrameAt;
            ++framesSent;
            head.send(out, sampleFrame(frameTime, head), frameTime);
            head.scanCompleted();
            nextFrameAt += 1.0 / head.jitteredHz(head.model.frameHz);
        }
        return out;
    }
    const auto due = static_cast<int64_t>((t - streamStart) * head.model.frameHz);
    while (framesSent < due) {
        ++framesSent;
        const double frameTime = streamStart + framesSent / head.model.frameHz;
        head.send(out, sampleFrame(frameTime, head), frameTime);
        head.scanCompleted();
    }
    return out;
}

// One command-2 frame of 160 sample columns. The sensor measures along fixed
// directions per column; what it reports is the value its own calibration
// turns back into the distance seen in the scene.
QByteArray CommandSensor::sampleFrame(double t, SimHead &head)
{
    const bool fir = head.model.format == SimModel::Fir;
    QVector<uint16_t> samples;
    samples.reserve(sampleColumns);
    // The frame's parameter carries the sum of the pixel values that formed
    // the samples; this simulator reports the sum of the sample values.
    uint32_t pixelSum = 0;
    for (int c = 0; c < sampleColumns; ++c) {
        double angle = 0;      // direction of this column on screen, degrees
        double projection = 1; // value = distance * projection (+ offset)
        double offset = 0;
        if (fir) {
            const bool right = c > 79;
            const double h =
                firHalfSlope / 10000.0 * (right ? 159 - c : 79 - c) - firHalfIntercept / 10000.0;
            angle = right ? h - 22.5 : h + 22.5;
            projection = std::cos((right ? 22.5 - h : h + 22.5) * degToRad);
            offset = 1.22;
        } else {
            const int m = (columns == 160 ? 2 : 1) * c;
            angle =
                std::atan(m * mapleZoneSlope / 10000.0 - mapleZoneIntercept / 10000.0) / degToRad;
            projection = std::cos(angle * degToRad);
        }
        uint16_t distance = 0;
        uint8_t confidence = 0;
        head.pointAt(angle < 0 ? angle + 360 : angle, t, distance, confidence);
        uint16_t sample = 0;
        if (distance != 0) {
            const long value = std::lround(distance * projection + offset);
            if (fir)
                sample = Wire::firSample(static_cast<uint16_t>(std::clamp(value, 0L, 511L)),
                                         static_cast<uint8_t>(std::max(2, confidence & ~1)));
            else
                sample = Wire::mapleSample(static_cast<uint16_t>(std::clamp(value, 0L, 1023L)),
                                           static_cast<uint8_t>(confidence / 32),
                                           static_cast<uint8_t>(1 + c * 6 / sampleColumns));
        }
        samples.append(sample);
        pixelSum += sample & (fir ? 0x1FF : 0x3FF);
    }
    return Wire::measuredSampleFrame(static_cast<int32_t>(std::lround(t * 1000.0)), samples,
                                     static_cast<uint16_t>(std::min<uint32_t>(pixelSum, 65535)));
}

QByteArray CommandSensor::calibrationReply(const SimModel &model) const
{
    if (model.format == SimModel::Maple) {
        std::array<uint32_t, 6> slopes, intercepts;
        slopes.fill(mapleZoneSlope);
        intercepts.fill(mapleZoneIntercept);
        return Wire::mapleCalibrationReply(slopes, intercepts);
    }
    return Wire::firCalibrationReply(firHalfSlope, firHalfSlope, firHalfIntercept,
                                     firHalfIntercept);
}

QByteArray CommandSensor::columnsReply() const
{
    return Wire::columnsReply(sampleColumns);
}
