// bridgeload: what the live bridge costs. The simulated stream of the
// fastest streaming model is pushed into a sensor session at the line's
// full rate (a tenth of the baud rate in bytes a second, every 10 ms); its
// scans go to the bridge, with N Node clients (the protocol's own npm
// client, in another process) subscribed to /scan and /points. Measures
// this process's CPU (all its threads) over a window of S seconds with the
// bridge off and then on, R rounds, and prints each round and the medians.
//
//   bridgeload [--clients 4] [--seconds 20] [--rounds 3]
#include "bridge/livebridge.h"
#include "cpuusage.h"
#include "editions/modeltable.h"
#include "sensorsim.h"
#include "session/sensorsession.h"
#include "simmodels.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

const Models::Record &fastestStreamingModel()
{
    const Models::Record *fastest = nullptr;
    for (const Models::Record &row : Models::rows())
        if (!row.commandProtocol() && (!fastest || row.baudrate > fastest->baudrate))
            fastest = &row;
    return *fastest;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOptions({
        {"clients", "Node clients subscribed to both channels.", "N", "4"},
        {"seconds", "Measuring window of each phase, after a 2 s warm-up.", "S", "20"},
        {"rounds", "Rounds of bridge off, bridge on.", "R", "3"},
    });
    parser.process(app);
    const int clients = parser.value("clients").toInt();
    const int seconds = parser.value("seconds").toInt();
    const int rounds = parser.value("rounds").toInt();

    const Models::Record &model = fastestStreamingModel();
    const int bytesPerTick = model.baudrate / 10 / 100;
    SensorSim sim(*findSimModel(model.displayName()), 1, SimFaults{}, SimIdentity{});
    // Enough stream for every phase, played round again if need be.
    const QByteArray stream = sim.capture(int(model.scanHz * 30));
    int at = 0;

    SensorSession session;
    session.chooseModel(model.displayName());
    LiveBridge bridge;
    bridge.setGrid(Robotics::ScanGrid::forModel(model));
    QString error;
    ShareAddress where;
    where.port = 0;
    if (!bridge.start(where, &error)) {
        std::fprintf(stderr, "cannot share: %s\n", qPrintable(error));
        return 1;
    }
    bool sharing = false;
    qint64 scans = 0;
    QObject::connect(&session, &SensorSession::scanReady, &bridge, [&](const SensorScan &scan) {
        ++scans;
        if (sharing)
            bridge.publish(scan);
    });

    QTimer line;
    line.setTimerType(Qt::PreciseTimer);
    QObject::connect(&line, &QTimer::timeout, [&] {
        if (at + bytesPerTick > stream.size())
            at = 0;
        session.push(stream.mid(at, bytesPerTick));
        at += bytesPerTick;
    });
    line.start(10);

    QProcess crowd;
    crowd.setStandardOutputFile(QProcess::nullDevice());
    crowd.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    crowd.start(QStringLiteral(VANTOSCOPE_NODE_PATH),
                {QStringLiteral(VANTOSCOPE_BRIDGE_CLIENT), "crowd", bridge.url(),
                 QString::number(clients)});

    std::printf("%s at %d baud (%d bytes every 10 ms), %d clients, %d s a phase\n", model.name,
                model.baudrate, bytesPerTick, clients, seconds);
    std::printf("%-6s %-7s %12s %10s\n", "round", "bridge", "core %", "scans/s");
    std::vector<double> off, on;
    int round = 0;
    bool phaseOn = false;
    double cpuStart = 0;
    qint64 scansStart = 0;
    QElapsedTimer wall;
    std::function<void()> nextPhase;
    auto measure = [&] {
        cpuStart = processCpuSeconds();
        scansStart = scans;
        wall.start();
        QTimer::singleShot(seconds * 1000, &app, [&] {
            const double elapsed = wall.nsecsElapsed() / 1e9;
            const double percent = 100.0 * (processCpuSeconds() - cpuStart) / elapsed;
            (phaseOn ? on : off).push_back(percent);
            std::printf("%-6d %-7s %12.2f %10.1f\n", round + 1, phaseOn ? "on" : "off", percent,
                        (scans - scansStart) / elapsed);
            std::fflush(stdout);
            if (phaseOn)
                ++round;
            phaseOn = !phaseOn;
            nextPhase();
        });
    };
    nextPhase = [&] {
        if (round == rounds) {
            const double added = median(on) - median(off);
            std::printf("median: off %.2f %%, on %.2f %%; the bridge adds %.2f %% of a core "
                        "(%lld scans dropped from slow clients)\n",
                        median(off), median(on), added,
                        static_cast<long long>(bridge.droppedScans()));
            app.exit(0);
            return;
        }
        sharing = phaseOn;
        QTimer::singleShot(2000, &app, measure);
    };
    // Starts once every client has subscribed to both channels.
    QTimer wait;
    QElapsedTimer waited;
    waited.start();
    QObject::connect(&wait, &QTimer::timeout, [&] {
        if (bridge.subscriptionCount() == 2 * clients) {
            wait.stop();
            nextPhase();
        } else if (waited.elapsed() > 60000) {
            std::fprintf(stderr, "the clients did not subscribe (%d of %d)\n",
                         bridge.subscriptionCount(), 2 * clients);
            app.exit(1);
        }
    });
    wait.start(100);
    const int status = app.exec();
    crowd.kill();
    crowd.waitForFinished(10000);
    return status;
}
