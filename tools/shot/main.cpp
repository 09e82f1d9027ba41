// vantoscope-shot: runs the viewer's window without a display, connects it
// to a port, lets it draw live data for a while and saves a screenshot;
// optionally it logs the time of every scan it publishes.
#include "app/appsetup.h"
#include "app/mainwindow.h"
#include "editions/edition.h"
#include "station/benchstation.h"

#include <QApplication>
#include <QColor>
#include <QCommandLineParser>
#include <QFile>
#include <QSettings>
#include <QTextStream>
#include <QTimer>

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // No scaling from the screen's resolution: the offscreen screen claims
    // 100 dpi, which would make every shot 4 % larger than --size. A shot
    // of a high-density screen is asked for with QT_SCALE_FACTOR.
    QApplication app(argc, argv);
    applyApplicationStyle(app);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Connects the viewer window to PORT, lets it show live data for a few "
                       "seconds and saves a screenshot of the window."));
    parser.addHelpOption();
    parser.addOptions({
        {"port", "Serial port (or pseudo-terminal) to open.", "PORT"},
        {"capture", "Replay this capture instead of opening a port; the shot shows the replay.",
         "FILE"},
        {"model", "Sensor model to choose (default Alder).", "NAME", "Alder"},
        {"seconds", "How long to show live data before the shot (default 4).", "S", "4"},
        {"size", "Window size (default 1280x800).", "WxH", "1280x800"},
        {"output", "PNG file to write.", "FILE"},
        {"dark", "Without a settings file in the working directory, first write one that gives "
                 "the map a black background (as chosen from its menu)."},
        {"settings-only", "With --dark: write the settings file and exit."},
        {"bench",
         "Open the Bench panel and check the unit UNIT (connecting, or checking the --capture); "
         "the shot is taken a moment after the verdict, not after --seconds.",
         "UNIT"},
        {"bench-seconds", "With --bench: how long the check runs (default 3).", "S", "3"},
        {"bench-profile", "With --bench: the profile JSON file of limits.", "FILE"},
        {"bench-panel", "Show the Bench panel (its live health) in the shot."},
        {"share", "Share live on [ADDRESS:]PORT while it runs, as Share live does.",
         "[ADDRESS:]PORT"},
        {"log-scans",
         "Append a line to FILE for every scan the window publishes: its time "
         "in CLOCK_MONOTONIC nanoseconds.",
         "FILE"},
    });
    parser.process(app);
    QTextStream err(stderr);
    if (parser.isSet("dark") && !QFile::exists(QStringLiteral("Vantoscope.ini"))) {
        QSettings settings(QStringLiteral("Vantoscope.ini"), QSettings::IniFormat);
        settings.setValue(QStringLiteral("Map/BackgroundColor"), QColor(Qt::black));
    }
    if (parser.isSet("settings-only"))
        return 0;
    if (parser.isSet("port") == parser.isSet("capture") || !parser.isSet("output")) {
        err << "vantoscope-shot: --output and one of --port and --capture are required\n";
        return 2;
    }
    const QString port = parser.value("port");
    const QStringList size = parser.value("size").split('x');
    bool okW = false, okH = false, okS = false;
    const int width = size.value(0).toInt(&okW), height = size.value(1).toInt(&okH);
    const double seconds = parser.value("seconds").toDouble(&okS);
    if (!okW || !okH || width < 200 || height < 150 || !okS || seconds < 0) {
        err << "vantoscope-shot: bad --size or --seconds\n";
        return 2;
    }

    MainWindow window([port] {
        return port.isEmpty() ? QList<PortEntry>{} : QList<PortEntry>{{port, false, 0, true}};
    });
    window.resize(width, height);
    window.show();
    if (!window.chooseModel(parser.value("model"))) {
        err << "vantoscope-shot: unknown model " << parser.value("model") << "\n";
        return 2;
    }
    if (parser.isSet("share") && !window.startSharing(parser.value("share")))
        return 1;
    QFile scanLog(parser.value("log-scans"));
    QTextStream scanLines(&scanLog);
    if (parser.isSet("log-scans")) {
        if (!scanLog.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
            err << "vantoscope-shot: cannot write " << scanLog.fileName() << "\n";
            return 1;
        }
        // A line per scan as it happens, so a run cut short still leaves its record.
        QObject::connect(&window, &MainWindow::scanPublished, &window,
                         [&scanLines](const SensorScan &scan) {
                             scanLines << scan.time << '\n';
                             scanLines.flush();
                         });
    }
    int status = 0;
    const auto shoot = [&] {
        if (!window.grab().save(parser.value("output"), "PNG")) {
            err << "vantoscope-shot: cannot write " << parser.value("output") << "\n";
            status = 1;
        }
        window.stop();
        QApplication::quit();
    };
    if (parser.isSet("bench") || parser.isSet("bench-panel"))
        window.showBenchPanel(true);
    BenchStation *station = window.benchStation();
    if (parser.isSet("bench")) {
        station->setDuration(parser.value("bench-seconds").toDouble());
        if (!station->setProfileFile(parser.value("bench-profile"))) {
            err << "vantoscope-shot: " << station->profileError() << "\n";
            return 2;
        }
        QObject::connect(station, &BenchStation::runCompleted, &window,
                         [&] { QTimer::singleShot(600, &window, shoot); });
        QObject::connect(station, &BenchStation::phaseChanged, &window, [&] {
            if (station->phase() == BenchStation::Phase::Idle && station->today().isEmpty()) {
                err << "vantoscope-shot: the bench run ended without a verdict\n";
                status = 1;
                QApplication::quit();
            }
        });
    }
    if (parser.isSet("capture")) {
        window.openCapture(parser.value("capture"));
        if (!window.replaying()) {
            err << "vantoscope-shot: could not replay " << parser.value("capture") << "\n";
            return 1;
        }
    }
    if (parser.isSet("bench")) {
        if (!station->start(parser.value("bench"))) {
            err << "vantoscope-shot: the bench run did not start\n";
            return 1;
        }
        app.exec();
        return status;
    }
    if (!parser.isSet("capture")) {
        if (!window.start()) {
            err << "vantoscope-shot: could not open " << port << ": " << window.statusText()
                << "\n";
            return 1;
        }
    }

    QTimer::singleShot(static_cast<int>(seconds * 1000), &window, shoot);
    app.exec();
    return status;
}
