// Writes one seed input per sensor model for the harnesses of this edition:
//   fuzz-seeds <dir>  ->  <dir>/lipkg/<model>, <dir>/qtrnet/<model>,
//                         <dir>/debugpkg/<model>
// Each seed is a clean capture from the simulated sensor, so the fuzzers
// start from valid frames and mutate from there.
#include "fuzzdriver.h"
#include "sensorsim.h"
#include "simmodels.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <cstdio>

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

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output-dir>\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
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
        if (!ok) {
            std::fprintf(stderr, "cannot write seeds under %s\n", argv[1]);
            return 1;
        }
        ++written;
    }
    std::printf("%d models, seeds in %s\n", written, argv[1]);
    return 0;
}
