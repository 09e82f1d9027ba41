#include "sensorsim.h"

#include "commandframes.h"
#include "serviceframes.h"
#include "streamframes.h"
#include "wire.h"

#include <QtEndian>
#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr double degToRad = M_PI / 180.0;

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

// Calibration the simulated command-protocol sensors report, in 1/10000.
// Fir: both halves map columns linearly onto degrees (intercept above 1, so
// the line gives degrees directly): the right half covers 315..360, the left
// 0..45 degrees. Maple: every zone spans -40..+40 degrees over 320 columns.
constexpr uint32_t firHalfSlope = 5700;
constexpr uint32_t firHalfIntercept = 225000;
constexpr uint32_t mapleZoneSlope = 53;
constexpr uint32_t mapleZoneIntercept = 8391;
constexpr int sampleColumns = 160;

// Mixed into the seed of the measurement faults' generator, so its draws do
// not repeat those of the main one.
constexpr uint32_t knobSeedMix = 0x6A09E667;

} // namespace

SensorSim::SensorSim(const SimModel &simModel, uint32_t seed, const SimFaults &simFaults,
                     const SimIdentity &simIdentity)
    : model(simModel), faults(simFaults), identity(simIdentity),
      scene(simModel.commandProtocol() ? (simModel.format == SimModel::Fir ? 0.19 : 0.4) : 1.0,
            !simFaults.staticScene),
      rng(seed), knobRng(seed ^ knobSeedMix), streaming_(!simModel.commandProtocol())
{
    revolutionHz = jitteredHz(model.rotationHz);
}

// A speed drawn around `nominal` with the jitter's spread, kept within four
// standard deviations and well above 0; `nominal` itself without jitter.
double SensorSim::jitteredHz(double nominal)
{
    if (faults.speedJitter <= 0)
        return nominal;
    const double sigma = faults.speedJitter / 100.0;
    std::normal_distribution<double> factor(1.0, sigma);
    return nominal * std::max(0.1, std::clamp(factor(knobRng), 1.0 - 4 * sigma, 1.0 + 4 * sigma));
}

QString SensorSim::versionText() const
{
    return QStringLiteral("v%1.%2.%3 hw:%4")
        .arg(identity.firmwareWord >> 24)
        .arg((identity.firmwareWord >> 16) & 0xFF)
        .arg(identity.firmwareWord & 0xFFFF)
        .arg(identity.hardwareVersion, 0, 16);
}

void SensorSim::pointAt(double angle, double t, uint16_t &distance, uint8_t &confidence)
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

bool SensorSim::faultsOnAt(double t) const
{
    return faults.period <= 0 || static_cast<int64_t>(std::floor(t / faults.period)) % 2 == 0;
}

// `frameTime` is the stream time the frame was measured at; it decides whether
// the faults are on, so a capture has the same fault periods as a live run.
void SensorSim::appendFrame(QByteArray &out, QByteArray frame, double frameTime)
{
    if (!faultsOnAt(frameTime)) {
        out.append(frame);
        return;
    }
    scanTouched = true;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    if (faults.garbageRate > 0 && unit(rng) < faults.garbageRate) {
        std::uniform_int_distribution<int> length(1, 32), byte(0, 255);
        const int n = length(rng);
        for (int i = 0; i < n; ++i)
            out.append(static_cast<char>(byte(rng)));
    }
    if (faults.corruptRate > 0 && unit(rng) < faults.corruptRate && frame.size() > 4) {
        std::uniform_int_distribution<int> at(2, frame.size() - 1), bit(0, 7);
        frame[at(rng)] = static_cast<char>(frame[at(rng)] ^ (1 << bit(rng)));
    }
    if (faults.dropRate > 0 && unit(rng) < faults.dropRate && frame.size() > 12) {
        std::uniform_int_distribution<int> at(0, frame.size() - 11), length(1, 10);
        frame.remove(at(rng), length(rng));
    }
    out.append(frame);
}

QByteArray SensorSim::advance(double t)
{
    if (!streaming_)
        return {};
    return model.commandProtocol() ? sampleFrames(t) : streamingFrames(t);
}

QByteArray SensorSim::streamingFrames(double t)
{
    QByteArray out;
    const int perFrame = pointsPerFrame(model.format);
    const double degPerSample = 360.0 * model.rotationHz / model.samplesPerSecond;
    const auto due = static_cast<int64_t>(t * model.samplesPerSecond);
    // With speed jitter the angle is accumulated sample by sample, at the
    // speed of the revolution the sample belongs to; without, it follows
    // from the sample index.
    const bool jitter = faults.speedJitter > 0;
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
                    revolutionHz = jitteredHz(model.rotationHz);
                sampleAngle = next;
            } else {
                const double turns = (startAngle + k * degPerSample) / 360.0;
                angle = (turns - std::floor(turns)) * 360.0;
            }
            if (i == 0)
                firstAngle = angle;
            lastAngle = angle;
            pointAt(angle, static_cast<double>(k) / model.samplesPerSecond, points[i].distance,
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

        QByteArray frame;
        switch (model.format) {
        case SimModel::Pkg47: {
            const auto start = static_cast<uint16_t>(std::lround(firstAngle * 100.0) % 36000);
            const auto end = static_cast<uint16_t>(std::lround(lastAngle * 100.0) % 36000);
            const auto stamp = static_cast<uint16_t>(static_cast<int64_t>(t * 1000.0) % 30000);
            frame = Wire::encodePkg47(speed, start, points, end, stamp);
            break;
        }
        case SimModel::Pkg36:
            frame = Wire::encodePkg36(speed, Wire::pkg36AngleWord(firstAngle), points,
                                      Wire::pkg36AngleWord(lastAngle));
            break;
        default: {
            // 0.1 rev/s in the upper seven bits.
            const auto ct = static_cast<uint8_t>(std::min(std::lround(frameHz * 10.0), 127L) << 1);
            frame = Wire::encodePkgVariable(ct, Wire::pkgVariableAngleValue(firstAngle),
                                            Wire::pkgVariableAngleValue(lastAngle), points);
            break;
        }
        }
        appendFrame(out, frame, static_cast<double>(nextSample) / model.samplesPerSecond);
        if (wrapped) {
            // The first wrap only starts the first scan.
            if (++wraps > 1)
                scanCompleted();
            else
                scanTouched = false;
        }
    }
    return out;
}

void SensorSim::scanCompleted()
{
    ++scansSent_;
    if (faults.period <= 0)
        return;
    if (scanTouched) {
        // The run was cleanRunFirst .. scansSent_ - 1; its ends are dropped.
        if (cleanRunFirst > 0 && scansSent_ - 2 >= cleanRunFirst + 1)
            endedStretches.append({cleanRunFirst + 1, scansSent_ - 2});
        cleanRunFirst = 0;
    } else if (cleanRunFirst == 0) {
        cleanRunFirst = scansSent_;
    }
    scanTouched = false;
}

QVector<CleanStretch> SensorSim::takeCleanStretches()
{
    QVector<CleanStretch> taken;
    taken.swap(endedStretches);
    return taken;
}

QByteArray SensorSim::sampleFrames(double t)
{
    QByteArray out;
    if (faults.speedJitter > 0) {
        // Each frame interval at a rate of its own.
        while (nextFrameAt <= t) {
            const double frameTime = nextFrameAt;
            ++framesSent;
            appendFrame(out, sampleFrame(frameTime), frameTime);
            scanCompleted();
            nextFrameAt += 1.0 / jitteredHz(model.frameHz);
        }
        return out;
    }
    const auto due = static_cast<int64_t>((t - streamStart) * model.frameHz);
    while (framesSent < due) {
        ++framesSent;
        const double frameTime = streamStart + framesSent / model.frameHz;
        appendFrame(out, sampleFrame(frameTime), frameTime);
        scanCompleted();
    }
    return out;
}

// One command-2 frame of 160 sample columns. The sensor measures along fixed
// directions per column; what it reports is the value its own calibration
// turns back into the distance seen in the scene.
QByteArray SensorSim::sampleFrame(double t)
{
    QVector<uint16_t> samples;
    samples.reserve(sampleColumns);
    // The frame's parameter carries the sum of the pixel values that formed
    // the samples; this simulator reports the sum of the sample values.
    uint32_t pixelSum = 0;
    for (int c = 0; c < sampleColumns; ++c) {
        double angle = 0;      // direction of this column on screen, degrees
        double projection = 1; // value = distance * projection (+ offset)
        double offset = 0;
        if (model.format == SimModel::Fir) {
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
        pointAt(angle < 0 ? angle + 360 : angle, t, distance, confidence);
        uint16_t sample = 0;
        if (distance != 0) {
            const long value = std::lround(distance * projection + offset);
            if (model.format == SimModel::Fir)
                sample = Wire::firSample(static_cast<uint16_t>(std::clamp(value, 0L, 511L)),
                                         static_cast<uint8_t>(std::max(2, confidence & ~1)));
            else
                sample = Wire::mapleSample(static_cast<uint16_t>(std::clamp(value, 0L, 1023L)),
                                           static_cast<uint8_t>(confidence / 32),
                                           static_cast<uint8_t>(1 + c * 6 / sampleColumns));
        }
        samples.append(sample);
        pixelSum += sample & (model.format == SimModel::Fir ? 0x1FF : 0x3FF);
    }
    return Wire::measuredSampleFrame(static_cast<int32_t>(std::lround(t * 1000.0)), samples,
                                     static_cast<uint16_t>(std::min<uint32_t>(pixelSum, 65535)));
}

QByteArray SensorSim::informationReply() const
{
    return Wire::informationReply(identity.firmwareWord, identity.hardwareVersion);
}

QByteArray SensorSim::calibrationReply() const
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

QByteArray SensorSim::columnsReply() const
{
    return Wire::columnsReply(sampleColumns);
}

void SensorSim::handleCommand(uint8_t command, QByteArray &replies, double t)
{
    commandsSeen_.append(command);
    if (!model.commandProtocol())
        return;
    switch (command) {
    case 15: // stop
        streaming_ = false;
        break;
    case 21: // columns
        if (model.format == SimModel::Maple) {
            columns = sampleColumns;
            replies.append(columnsReply());
        }
        break;
    case 18: // calibration
        if (!faults.silentHandshake)
            replies.append(calibrationReply());
        break;
    case 2: // start
        if (!streaming_)
            startStreaming(t);
        break;
    default:
        break;
    }
}

void SensorSim::startStreaming(double t)
{
    streaming_ = true;
    streamStart = t;
    framesSent = 0;
    if (faults.speedJitter > 0)
        nextFrameAt = t + 1.0 / jitteredHz(model.frameHz);
}

QByteArray SensorSim::receive(const QByteArray &bytes, double t)
{
    QByteArray replies;
    input.append(bytes);
    int i = 0;
    while (i < input.size()) {
        const QByteArray rest = input.mid(i);
        // The information request: AA AA 10 7F ... 55 55, as any model understands it.
        if (rest.startsWith("\xAA\xAA\x10\x7F")) {
            const int end = rest.indexOf("\x55\x55", 4);
            if (end < 0)
                break;
            if (!faults.silentHandshake || !model.commandProtocol())
                replies.append(informationReply());
            commandsSeen_.append(127);
            i += end + 2;
            continue;
        }
        // A command frame: AA AA AA AA, address, command, parameter, length, payload, sum.
        if (rest.startsWith("\xAA\xAA\xAA\xAA")) {
            if (rest.size() < 10)
                break;
            const int length = qFromLittleEndian<uint16_t>(rest.constData() + 8);
            if (rest.size() < 11 + length)
                break;
            uint8_t sum = 0;
            for (int k = 4; k < 10 + length; ++k)
                sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(rest[k]));
            if (sum == static_cast<uint8_t>(rest[10 + length])) {
                handleCommand(static_cast<uint8_t>(rest[5]), replies, t);
                i += 11 + length;
                continue;
            }
        }
        ++i;
    }
    input.remove(0, i);
    if (input.size() > 4096)
        input.remove(0, input.size() - 4096);
    return replies;
}

QByteArray SensorSim::capture(int scans)
{
    QByteArray out;
    CapturePlan plan;
    plan.scans = scans;
    capture(plan, [&out](const QByteArray &bytes, double) {
        out.append(bytes);
        return true;
    });
    return out;
}

bool SensorSim::capture(const CapturePlan &plan, const ChunkSink &sink)
{
    const auto send = [&sink](const QByteArray &bytes, double t) {
        return bytes.isEmpty() || sink(bytes, t);
    };
    const bool timed = plan.seconds > 0;
    const auto more = [&](double t, double step) {
        return timed ? t + step / 2 < plan.seconds : scansSent_ < plan.scans;
    };
    // The raw capture adds its steps up (a frame's time stamp depends on
    // the sum); a chosen step is multiplied, so times land on its grid.
    int64_t steps = 0;
    const auto next = [&](double t, double step) {
        return plan.step > 0 ? static_cast<double>(++steps) * step : t + step;
    };
    if (model.commandProtocol()) {
        // The replies to the start handshake, in one chunk as they arrive.
        QByteArray replies;
        if (model.format == SimModel::Maple) {
            replies.append(columnsReply());
            columns = sampleColumns;
        }
        replies.append(calibrationReply());
        replies.append(informationReply());
        if (!send(replies, 0))
            return false;
        startStreaming(0);
        const double step = plan.step > 0 ? plan.step : 1.0 / model.frameHz;
        double t = 0;
        while (more(t, step)) {
            t = next(t, step);
            const double until = plan.step > 0 ? t : t + 1e-9;
            if (!send(advance(until), until))
                return false;
        }
        return true;
    }
    if (!send(informationReply(), 0))
        return false;
    // Start a little before a wrap; the decoder publishes a scan when the wrap
    // after it arrives, so run a little past the last one.
    const double step = plan.step > 0 ? plan.step : 0.01;
    double t = 0;
    while (more(t, step)) {
        t = next(t, step);
        if (!send(advance(t), t))
            return false;
    }
    if (timed)
        return true;
    const double end = t + 60.0 / 360.0 / model.rotationHz;
    if (plan.step > 0)
        for (double u = next(t, step); u < end; u = next(u, step))
            if (!send(advance(u), u))
                return false;
    return send(advance(end), end);
}
