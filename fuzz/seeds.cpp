// Writes one seed input per sensor model for the harnesses of this edition:
//   fuzz-seeds <dir>  ->  <dir>/lipkg/<model>, <dir>/qtrnet/<model>,
//                         <dir>/debugpkg/<model>, <dir>/capture/<model>...,
//                         <dir>/check/<model>, <dir>/bridge/...
// Each seed is a clean capture from the simulated sensor, so the fuzzers
// start from valid frames and mutate from there. The capture reader's seeds
// hold the same streams as pcapng files: as recorded, cut off, and in a
// big-endian section after a little-endian one, as mergecap leaves them.
// The bench check's seeds are recorded captures of every model the edition
// knows, behind the check's model and option bytes.
#include "capture/capturewriter.h"
#include "fuzzdriver.h"
#include "pcapngblocks.h"
#include "sensorsim.h"
#include "simmodels.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <iterator>

namespace {

constexpr int scansPerSeed = 3;

bool writeSeed(const QString &dir, const QString &name, const QByteArray &bytes)
{
    if (!QDir().mkpath(dir))
        return false;
    QFile file(dir + QLatin1Char('/') + name);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The payload of a command/response frame (header, address, command,
// parameter, length, payload, checksum).
QByteArray framePayload(const QByteArray &frame)
{
    if (frame.size() < 11)
        return QByteArray();
    const int n = uint8_t(frame[8]) | uint8_t(frame[9]) << 8;
    return frame.mid(10, n);
}

// The stream as the recorder writes it, in records of `chunk` bytes.
QByteArray recorded(const QString &path, const SimModel &model, const QByteArray &stream, int chunk)
{
    CaptureWriter writer;
    CaptureMetadata metadata;
    metadata.application = QStringLiteral("fuzz-seeds");
    metadata.edition = QStringLiteral("full");
    metadata.model = model.name;
    metadata.portName = QStringLiteral("/dev/ttyUSB0");
    metadata.baudrate = model.baudrate;
    if (!writer.open(path, metadata))
        return {};
    const qint64 nsPerChunk = 10'000'000'000LL * chunk / model.baudrate;
    writer.append(CaptureDirection::Outbound, QByteArray("\xA5\x5A", 2), 1);
    for (int at = 0, i = 1; at < stream.size(); at += chunk, ++i) {
        if (i == 3)
            writer.setVersionText(QStringLiteral("v1.2.10 hw:1f"));
        writer.append(CaptureDirection::Inbound, stream.mid(at, chunk), i * nsPerChunk);
    }
    writer.close();
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray mergedBothOrders(const SimModel &model, const QByteArray &stream, int chunk)
{
    Wire::PcapngBlocks blocks;
    for (const bool big : {false, true}) {
        blocks.section(big, QStringLiteral("fuzz-seeds"))
            .interface(147, big ? 0x80 | 20 : 6,
                       {Wire::PcapngBlocks::text(1, QStringLiteral("model=") + model.name)});
        for (int at = 0, i = 0; at < stream.size(); at += chunk, ++i)
            blocks.packet(0, uint64_t(i) * (big ? 1u << 14 : 10'000u), stream.mid(at, chunk),
                          i % 7 == 6 ? 2 : 1);
    }
    return blocks.bytes();
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output-dir>\n", argv[0]);
        return 2;
    }
    QCoreApplication app(argc, argv); // the recorder's flush timer wants one
    const QString out = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        std::fprintf(stderr, "cannot make a temporary directory\n");
        return 1;
    }
    int written = 0;
    for (const SimModel &model : simModels()) {
        SensorSim sim(model, 1, SimFaults{}, SimIdentity{});
        const QByteArray stream = sim.capture(scansPerSeed);
        bool ok = writeSeed(out + "/debugpkg", model.name, FuzzDriver::debugPkgInput(stream));
        if (model.commandProtocol()) {
            const QByteArray calibration = framePayload(sim.calibrationReply());
            const bool maple = model.format == SimModel::Maple;
            ok = ok && writeSeed(out + "/qtrnet", model.name,
                                 FuzzDriver::qtrNetInput(maple, calibration, stream));
        } else {
            const int index = FuzzDriver::liPkgModelIndex(model.name);
            if (index >= 0)
                ok = ok &&
                     writeSeed(out + "/lipkg", model.name, FuzzDriver::liPkgInput(index, stream));
        }
        // Three models cover the three record sizes of the streams.
        if (model.name == QLatin1String("Alder") || model.name == QLatin1String("Fir") ||
            model.name == QLatin1String("Kauri")) {
            const QString dir = out + "/capture";
            ok = ok && QDir().mkpath(dir);
            const QByteArray whole =
                recorded(dir + "/" + model.name + ".pcapng", model, stream, 256);
            ok =
                ok && !whole.isEmpty() &&
                writeSeed(dir, model.name + "-cut.pcapng", whole.left(whole.size() - 37)) &&
                writeSeed(dir, model.name + "-merged.pcapng", mergedBothOrders(model, stream, 512));
        }
        const int checkIndex = FuzzDriver::benchCheckModelIndex(model.name);
        if (checkIndex >= 0) {
            const QByteArray capture =
                recorded(scratch.filePath(model.name + ".pcapng"), model, stream, 256);
            ok = ok && !capture.isEmpty() &&
                 writeSeed(out + "/check", model.name,
                           FuzzDriver::benchCheckInput(checkIndex, capture));
        }
        if (!ok) {
            std::fprintf(stderr, "cannot write seeds under %s\n", argv[1]);
            return 1;
        }
        ++written;
    }
    // Profiles: limits, a firmware and references, over the first model.
    const QByteArray profiles[] = {
        R"({"speed_cv": {"high": 0.005}, "noise_p95": {"high": 20, "low": null}})",
        R"({"min_firmware": "1.2.10", "errors_per_1000": {"high": 0}})",
        R"({"references": [{"angle": 0, "distance": 2300, "halfwidth": 1}, {"angle": 90, "distance": 3600}]})",
    };
    for (size_t i = 0; i < std::size(profiles); ++i)
        if (!writeSeed(out + "/profile", QStringLiteral("profile-%1").arg(i),
                       QByteArray(1, '\0') + profiles[i])) {
            std::fprintf(stderr, "cannot write seeds under %s\n", argv[1]);
            return 1;
        }
    // The bridge's clients: what Foxglove sends, and what it must not.
    const QVector<std::pair<bool, QByteArray>> subscribing = {
        {false,
         R"({"op":"subscribe","subscriptions":[{"id":0,"channelId":1},{"id":1,"channelId":2}]})"},
        {false, R"({"op":"unsubscribe","subscriptionIds":[1]})"},
        {false, R"({"op":"subscribe","subscriptions":[{"id":1,"channelId":1}]})"},
    };
    const QVector<std::pair<bool, QByteArray>> refused = {
        {false, R"({"op":"advertise","channels":[{"id":1,"topic":"/cmd","encoding":"json"}]})"},
        {true, QByteArray("\x01\x01\x00\x00\x00{}", 7)},
        {false, R"({"op":"setParameters","parameters":[{"name":"a","value":1}],"id":"x"})"},
        {false, R"({"op":"subscribe","subscriptions":[{"id":1e300,"channelId":-0}]})"},
    };
    if (!writeSeed(out + "/bridge", "subscribing", FuzzDriver::bridgeClientInput(subscribing)) ||
        !writeSeed(out + "/bridge", "refused", FuzzDriver::bridgeClientInput(refused))) {
        std::fprintf(stderr, "cannot write seeds under %s\n", argv[1]);
        return 1;
    }
    std::printf("%d models, seeds in %s\n", written, argv[1]);
    return 0;
}
