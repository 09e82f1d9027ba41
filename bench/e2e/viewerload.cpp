// viewerload: runs the viewer's window against the simulator (under Xvfb
// when QT_QPA_PLATFORM says xcb, offscreen otherwise) and measures what the
// live view costs: CPU time of this process over a window of N seconds, the
// delay from the last byte of a scan leaving the simulator to the paint that
// puts it on screen, the redraws a second and the resident memory at the
// start and the end of the window. With --idle the window sits with nothing
// connected. With --session-only there is no window: the session reads and
// decodes the stream and nothing draws it, which is the part of the cost the
// map cannot change.
#include "app/appsetup.h"
#include "app/mainwindow.h"
#include "cpuusage.h"
#include "session/sensorsession.h"
#include "station/benchstation.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QProcess>
#include <QTemporaryFile>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <ctime>
#include <memory>
#include <numeric>

namespace {

qint64 monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

// Resident set size of this process, in MiB.
double residentMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    applyApplicationStyle(app);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOptions({
        {"sim", "Path of vantoscope-sim.", "PATH"},
        {"model", "Model to simulate and choose.", "NAME", "Dogwood"},
        {"sim-args", "Extra simulator arguments, space separated.", "ARGS"},
        {"seconds", "Measuring window after a 2 s warm-up.", "S", "20"},
        {"bench-panel", "Show the Bench panel, whose live health follows the stream."},
        {"check", "Run a bench check through the whole measuring window (the panel shown)."},
        {"idle", "No simulator: the window with nothing connected."},
        {"session-only", "No window: the session reads and decodes the stream, nothing draws."},
    });
    parser.process(app);
    QTextStream out(stdout);

    const bool idle = parser.isSet("idle");
    const bool sessionOnly = parser.isSet("session-only");
    if (sessionOnly && (idle || parser.isSet("check") || parser.isSet("bench-panel"))) {
        out << "viewerload: --session-only needs the simulator and has no Bench panel\n";
        return 2;
    }

    // The simulator, with the send time of every completed scan. It writes
    // them into a file, read at the end, so that this process spends
    // nothing on them while it is measured.
    QProcess sim;
    QTemporaryFile simOutput;
    QString port;
    QVector<qint64> sentAt;
    auto readSim = [&] {
        if (idle)
            return;
        QFile file(simOutput.fileName());
        if (!file.open(QIODevice::ReadOnly))
            return;
        sentAt.clear();
        for (const QByteArray &line : file.readAll().split('\n')) {
            const QList<QByteArray> words = line.split(' ');
            if (words.value(0) == "port:")
                port = QString::fromLocal8Bit(words.value(1));
            else if (words.value(0) == "scan" && words.size() == 3)
                sentAt.append(words[2].toLongLong());
        }
    };
    if (!idle) {
        QStringList simArgs{"--model", parser.value("model"), "--report-scans"};
        if (parser.isSet("sim-args"))
            simArgs += parser.value("sim-args").split(' ', Qt::SkipEmptyParts);
        if (!simOutput.open()) {
            out << "viewerload: no temporary file for the simulator's output\n";
            return 1;
        }
        sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        sim.setStandardOutputFile(simOutput.fileName());
        sim.start(parser.value("sim"), simArgs);
        for (int i = 0; i < 100 && port.isEmpty() && sim.state() != QProcess::NotRunning; ++i) {
            sim.waitForFinished(50);
            readSim();
        }
        if (port.isEmpty()) {
            out << "viewerload: the simulator did not start\n";
            return 1;
        }
    }

    std::unique_ptr<SensorSession> session;
    std::unique_ptr<MainWindow> window;
    if (sessionOnly) {
        session = std::make_unique<SensorSession>();
        session->setSelectedModel(parser.value("model"));
        const Edition::ModelChoice choice = session->chooseModel(parser.value("model"));
        if (!session->open(port, choice.baudrate)) {
            out << "viewerload: the session did not open " << port << "\n";
            sim.terminate();
            sim.waitForFinished(2000);
            return 1;
        }
    } else {
        window = std::make_unique<MainWindow>([port] {
            return port.isEmpty() ? QList<PortEntry>() : QList<PortEntry>{{port, false, 0, true}};
        });
        window->resize(1280, 800);
        window->show();
        if (!window->chooseModel(parser.value("model"))) {
            out << "viewerload: the window has no model " << parser.value("model") << "\n";
            sim.terminate();
            sim.waitForFinished(2000);
            return 1;
        }
    }

    // A scan is drawn by the first redraw after it was published, and is on
    // screen when the paint after that redraw ends.
    QVector<qint64> publishedAt, latencies;
    bool awaitingDraw = false;
    bool awaitingPaint = false;
    qint64 drawnScanPublishedAt = 0;
    bool measuring = false;
    int redraws = 0;
    auto published = [&] {
        if (measuring)
            publishedAt.append(monotonicNs());
        awaitingDraw = true;
    };
    // (published, painted) of each scan put on screen.
    QVector<QPair<qint64, qint64>> paints;
    if (session) {
        QObject::connect(session.get(), &SensorSession::scanReady, published);
    } else {
        QObject::connect(window.get(), &MainWindow::scanPublished, published);
        QObject::connect(window.get(), &MainWindow::mapRedrawn, [&] {
            if (measuring)
                ++redraws;
            if (!awaitingDraw || !measuring || publishedAt.isEmpty())
                return;
            awaitingDraw = false;
            awaitingPaint = true;
            drawnScanPublishedAt = publishedAt.last();
        });
        QObject::connect(window.get(), &MainWindow::mapPainted, [&] {
            if (!awaitingPaint)
                return;
            awaitingPaint = false;
            paints.append({drawnScanPublishedAt, monotonicNs()});
        });
    }

    const double seconds = parser.value("seconds").toDouble();
    BenchStation *station = window ? window->benchStation() : nullptr;
    if (station && (parser.isSet("bench-panel") || parser.isSet("check")))
        window->showBenchPanel(true);
    if (station && parser.isSet("check")) {
        // Longer than the window; cancelled at its end, so no report is
        // written into the measurement.
        station->setDuration(seconds + 10);
        station->setSoundEnabled(false);
        if (!station->start(QStringLiteral("VIEWERLOAD"))) {
            out << "viewerload: the bench check did not start\n";
            return 1;
        }
    } else if (window && !idle) {
        window->start();
    }
    double cpuStart = 0;
    double rssStart = 0;
    qint64 wallStart = 0;
    QTimer::singleShot(2000, [&] {
        measuring = true;
        cpuStart = processCpuSeconds();
        rssStart = residentMiB();
        wallStart = monotonicNs();
    });
    QTimer::singleShot(static_cast<int>(2000 + seconds * 1000), [&] {
        const double cpu = processCpuSeconds() - cpuStart;
        const double wall = (monotonicNs() - wallStart) / 1e9;
        // The scan drawn is the newest one the simulator had finished sending.
        readSim();
        std::sort(sentAt.begin(), sentAt.end());
        for (const auto &paint : qAsConst(paints)) {
            const auto it = std::upper_bound(sentAt.begin(), sentAt.end(), paint.first);
            if (it != sentAt.begin())
                latencies.append(paint.second - *(it - 1));
        }
        std::sort(latencies.begin(), latencies.end());
        const double mean =
            latencies.isEmpty()
                ? 0
                : std::accumulate(latencies.begin(), latencies.end(), 0.0) / latencies.size() / 1e6;
        auto pct = [&](double p) {
            return latencies.isEmpty()
                       ? 0.0
                       : latencies[std::min<int>(latencies.size() - 1, p * latencies.size())] / 1e6;
        };
        const QString what = idle                          ? QStringLiteral("idle")
                             : sessionOnly                 ? QStringLiteral(", session only")
                             : parser.isSet("check")       ? QStringLiteral(" with a check")
                             : parser.isSet("bench-panel") ? QStringLiteral(" with the Bench panel")
                                                           : QString();
        out << (idle ? QString() : parser.value("model") + parser.value("sim-args").prepend(' '))
                   .trimmed()
            << what << ": CPU " << QString::number(100.0 * cpu / wall, 'f', 2)
            << "% of one core over " << QString::number(wall, 'f', 1) << " s; "
            << publishedAt.size() << " scans";
        // Nothing is drawn without the window, so there is no delay to it.
        if (window)
            out << ", " << QString::number(redraws / wall, 'f', 1) << " redraws/s; latency mean "
                << QString::number(mean, 'f', 1) << " ms, median "
                << QString::number(pct(0.5), 'f', 1) << " ms, p99 "
                << QString::number(pct(0.99), 'f', 1) << " ms, max "
                << QString::number(pct(1.0), 'f', 1) << " ms";
        out << "; RSS " << QString::number(rssStart, 'f', 1) << " -> "
            << QString::number(residentMiB(), 'f', 1) << " MiB\n";
        out.flush();
        if (window) {
            station->cancel();
            window->stop();
        } else {
            session->close();
        }
        QApplication::quit();
    });
    const int rc = app.exec();
    if (!idle) {
        sim.terminate();
        sim.waitForFinished(2000);
    }
    return rc;
}
