#include "sensorsim.h"

#include "bytes/littleendian.h"
#include "debugpkg/debugpkg.h"
#include "serviceframes.h"

SensorSim::SensorSim(const SimModel &model, uint32_t seed, const SimFaults &faults,
                     const SimIdentity &simIdentity)
    : head(model, seed, faults), identity(simIdentity), silentHandshake(faults.silentHandshake),
      // Every model draws the first revolution's speed, so the measurement
      // faults' draws do not depend on the protocol.
      streamer(head.jitteredHz(model.rotationHz)), commander(faults.silentHandshake)
{
}

bool SensorSim::streaming() const
{
    return !head.model.commandProtocol() || commander.streaming();
}

QString SensorSim::versionText() const
{
    return QStringLiteral("v%1.%2.%3 hw:%4")
        .arg(identity.firmwareWord >> 24)
        .arg((identity.firmwareWord >> 16) & 0xFF)
        .arg(identity.firmwareWord & 0xFFFF)
        .arg(identity.hardwareVersion, 0, 16);
}

QByteArray SensorSim::advance(double t)
{
    return head.model.commandProtocol() ? commander.advance(t, head) : streamer.advance(t, head);
}

QByteArray SensorSim::informationReply() const
{
    return Wire::informationReply(identity.firmwareWord, identity.hardwareVersion);
}

QByteArray SensorSim::calibrationReply() const
{
    return commander.calibrationReply(head.model);
}

QByteArray SensorSim::columnsReply() const
{
    return commander.columnsReply();
}

void SensorSim::handleCommand(uint8_t command, QByteArray &replies, double t)
{
    commandsSeen_.append(command);
    if (head.model.commandProtocol())
        commander.handleCommand(command, replies, t, head);
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
            if (!silentHandshake || !head.model.commandProtocol())
                replies.append(informationReply());
            commandsSeen_.append(DebugPkg::Information);
            i += end + 2;
            continue;
        }
        // A command frame: AA AA AA AA, address, command, parameter, length, payload, sum.
        if (rest.startsWith("\xAA\xAA\xAA\xAA")) {
            if (rest.size() < 10)
                break;
            const int length = Bytes::Reader(rest).u16(8);
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
        return timed ? t + step / 2 < plan.seconds : head.scansSent < plan.scans;
    };
    // The raw capture adds its steps up (a frame's time stamp depends on
    // the sum); a chosen step is multiplied, so times land on its grid.
    int64_t steps = 0;
    const auto next = [&](double t, double step) {
        return plan.step > 0 ? static_cast<double>(++steps) * step : t + step;
    };
    const SimModel &model = head.model;
    if (model.commandProtocol()) {
        // The replies to the start handshake, in one chunk as they arrive.
        QByteArray replies = commander.takeColumnsRequest(model);
        replies.append(calibrationReply());
        replies.append(informationReply());
        if (!send(replies, 0))
            return false;
        commander.startStreaming(0, head);
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
