// vantoscope-check: the bench acceptance test. Tests one or more sensors
// live, or a capture, against a model's limits and prints a verdict table;
// writes JSON, JUnit XML and HTML reports on request.
#include "check/benchprofile.h"
#include "check/reportfiles.h"
#include "check/reportwriters.h"
#include "check/sensorcheck.h"
#include "editions/edition.h"
#include "reportplots/htmlpage.h"
#include "reportplots/htmlreport.h"
#include "results/resultstore.h"
#include "tools/common/toolmain.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

constexpr int failedStatus = 1;
constexpr int usageStatus = 2;
constexpr int inputStatus = 3;

const ToolMain tool("vantoscope-check", "check", usageStatus, inputStatus);

volatile std::sig_atomic_t interrupted = 0;

ReferenceTarget parseReference(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    bool ok[3] = {false, false, true};
    ReferenceTarget target;
    if (parts.size() == 2 || parts.size() == 3) {
        target.angle = parts[0].toDouble(&ok[0]);
        target.distance = parts[1].toDouble(&ok[1]);
        if (parts.size() == 3)
            target.halfWidth = parts[2].toDouble(&ok[2]);
    }
    if (parts.size() < 2 || parts.size() > 3 || !ok[0] || !ok[1] || !ok[2] ||
        target.distance <= 0 || target.halfWidth <= 0 || target.halfWidth > 180)
        tool.usageError(QStringLiteral("--reference takes ANGLE:DISTANCE_MM[:HALFWIDTH_DEG] with a "
                                       "positive distance and half-width, not '%1'")
                            .arg(text));
    return target;
}

QString validUnit(const QString &text)
{
    if (!isValidUnitName(text))
        tool.usageError(QStringLiteral("--unit takes a serial number of 1 to %1 printable ASCII "
                                       "characters without spaces or any of %2, not '%3'")
                            .arg(longestUnitName)
                            .arg(refusedUnitCharacters(), text));
    return text;
}

// A lot or an operator: any text of a line, bounded.
QString validTag(const char *option, const QString &text)
{
    constexpr int longest = 128;
    bool ok = !text.trimmed().isEmpty() && text.size() <= longest;
    for (const QChar c : text)
        ok = ok && c.category() != QChar::Other_Control;
    if (!ok)
        tool.usageError(QStringLiteral("--%1 takes 1 to %2 characters of one line, not '%3'")
                            .arg(QLatin1String(option))
                            .arg(longest)
                            .arg(text));
    return text;
}

bool wantsHtml(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--html", 6) == 0 || std::strncmp(argv[i], "--out-dir", 9) == 0)
            return true;
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    std::vector<char *> originalArguments(argv, argv + argc);
    originalArguments.push_back(nullptr);
    // The HTML report draws its plots with a painter, which needs the GUI
    // side of Qt; it draws off screen.
    const std::unique_ptr<QCoreApplication> app =
        Html::toolApplication(argc, argv, wantsHtml(argc, argv));
    QCoreApplication::setApplicationName(QLatin1String(tool.name()));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTOSCOPE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral(
            "Tests sensors on the bench: opens each --port through the viewer's own session "
            "(handshake and information request included), collects for --seconds and sends the "
            "stop command; or replays a CAPTURE as fast as it reads, timed by its timestamps. "
            "Prints a table of checks and PASS or FAIL: k of n checks failed.\n\n"
            "Exit status: 0 every check passed, 1 a check failed, 2 usage error, 3 the input or "
            "port could not be read, or no data came.\n\n"
            "Models of this edition: %1")
            .arg(Edition::modelNames().join(QStringLiteral(", "))));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("CAPTURE"),
                                 QStringLiteral("A capture (.pcapng) or raw byte file (.bin)."),
                                 QStringLiteral("[CAPTURE]"));
    parser.addOptions({
        {QStringLiteral("model"), QStringLiteral("Sensor model (required)."),
         QStringLiteral("NAME")},
        {QStringLiteral("edition"), QStringLiteral("full (default) or classic."),
         QStringLiteral("EDITION"), QStringLiteral("full")},
        {QStringLiteral("port"),
         QStringLiteral("Serial port of a sensor; repeat to test several sensors at once."),
         QStringLiteral("PORT")},
        {QStringLiteral("seconds"), QStringLiteral("Live: how long to collect (default 30)."),
         QStringLiteral("S"), QStringLiteral("30")},
        {QStringLiteral("profile"),
         QStringLiteral("JSON file of limits over the defaults, and of reference distances."),
         QStringLiteral("FILE")},
        {QStringLiteral("reference"),
         QStringLiteral("A known distance: ANGLE:DISTANCE_MM[:HALFWIDTH_DEG] (default half-width "
                        "1°); repeatable."),
         QStringLiteral("SPEC")},
        {QStringLiteral("json"), QStringLiteral("Write the JSON record to FILE."),
         QStringLiteral("FILE")},
        {QStringLiteral("junit"), QStringLiteral("Write JUnit XML to FILE."),
         QStringLiteral("FILE")},
        {QStringLiteral("html"), QStringLiteral("Write the HTML report to FILE."),
         QStringLiteral("FILE")},
        {QStringLiteral("out-dir"),
         QStringLiteral("Write the JSON, JUnit XML and HTML reports into DIR as "
                        "UNIT-YYYYMMDD-HHMMSS.json, .xml and .html (the start in UTC; the model "
                        "name without --unit). --json, --junit and --html still name their own "
                        "files."),
         QStringLiteral("DIR")},
        {QStringLiteral("unit"),
         QStringLiteral("The serial number of the unit under test, for the reports and their "
                        "file names; one per --port, in the same order."),
         QStringLiteral("ID")},
        {QStringLiteral("filter"),
         QStringLiteral("Check the points after the viewer's filter, as the window shows them. "
                        "By default the checks judge the sensor's own output, before the filter "
                        "stage.")},
        {QStringLiteral("no-filter"),
         QStringLiteral("The default (points before the filter stage); still accepted for "
                        "older scripts.")},
        {QStringLiteral("reconnect"),
         QStringLiteral("Live: when a sensor's port vanishes, open it again as soon as it is "
                        "back and go on; the outage counts as a stall (the default).")},
        {QStringLiteral("no-reconnect"),
         QStringLiteral("Live: end a sensor's run when its port vanishes.")},
        {QStringLiteral("db"),
         QStringLiteral("Keep the runs in this results database: FILE, sqlite:FILE or "
                        "postgresql://USER@HOST[:PORT]/DBNAME (default: %1). A shared database "
                        "that cannot be reached gets them later, from the local spool.")
             .arg(DatabaseTarget::defaultFile()),
         QStringLiteral("DATABASE")},
        {QStringLiteral("no-db"), QStringLiteral("Keep no record of the runs in a database.")},
        {QStringLiteral("lot"), QStringLiteral("The lot the units belong to, for the database."),
         QStringLiteral("LOT")},
        {QStringLiteral("operator"), QStringLiteral("Who tests, for the database."),
         QStringLiteral("NAME")},
        {QStringLiteral("station"),
         QStringLiteral("This test station's name, for the database (default: the host name)."),
         QStringLiteral("NAME")},
    });
    if (!parser.parse(QCoreApplication::arguments()))
        tool.usageError(parser.errorText());
    const QString edition = parser.value(QStringLiteral("edition"));
    tool.dispatchEdition(edition, originalArguments);
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("%s %s\n", tool.name(), VANTOSCOPE_VERSION);
        return 0;
    }

    if (!parser.isSet(QStringLiteral("model")))
        tool.usageError(QStringLiteral("--model is required"));
    QString model;
    for (const QString &known : Edition::modelNames())
        if (known.compare(parser.value(QStringLiteral("model")), Qt::CaseInsensitive) == 0)
            model = known;
    if (model.isEmpty())
        tool.usageError(QStringLiteral("unknown model '%1' for the %2 edition; known models: %3")
                            .arg(parser.value(QStringLiteral("model")), edition,
                                 Edition::modelNames().join(QStringLiteral(", "))));

    const QStringList ports = parser.values(QStringLiteral("port"));
    const QStringList positional = parser.positionalArguments();
    if (ports.isEmpty() == positional.isEmpty())
        tool.usageError(QStringLiteral("give either --port PORT (one or more) or one CAPTURE"));
    if (positional.size() > 1)
        tool.usageError(QStringLiteral("one CAPTURE at a time, not %1").arg(positional.size()));
    if (!positional.isEmpty() && parser.isSet(QStringLiteral("seconds")))
        tool.usageError(QStringLiteral("--seconds is for live runs (--port)"));
    bool ok = false;
    const double seconds = parser.value(QStringLiteral("seconds")).toDouble(&ok);
    if (!ok || !(seconds > 0) || seconds > 7 * 24 * 3600)
        tool.usageError(QStringLiteral("--seconds takes a positive number of seconds, not '%1'")
                            .arg(parser.value(QStringLiteral("seconds"))));

    BenchProfile profile = BenchProfile::defaults(model);
    if (parser.isSet(QStringLiteral("profile"))) {
        QString error;
        if (!profile.load(parser.value(QStringLiteral("profile")), &error))
            tool.usageError(QStringLiteral("profile %1").arg(error));
    }
    QVector<ReferenceTarget> references;
    for (const QString &spec : parser.values(QStringLiteral("reference")))
        references.append(parseReference(spec));
    if (parser.isSet(QStringLiteral("filter")) && parser.isSet(QStringLiteral("no-filter")))
        tool.usageError(QStringLiteral("--filter and --no-filter contradict each other"));
    const bool filter = parser.isSet(QStringLiteral("filter"));
    QStringList units;
    for (const QString &unit : parser.values(QStringLiteral("unit")))
        units << validUnit(unit);
    const int sensorCount = positional.isEmpty() ? static_cast<int>(ports.size()) : 1;
    if (!units.isEmpty() && units.size() != sensorCount)
        tool.usageError(QStringLiteral("give one --unit per sensor: %1 for %2")
                            .arg(units.size())
                            .arg(sensorCount));
    const QString outDir = parser.value(QStringLiteral("out-dir"));
    if (!outDir.isEmpty() && !QFileInfo(outDir).isDir())
        tool.usageError(QStringLiteral("--out-dir %1 is not a folder").arg(outDir));
    if (parser.isSet(QStringLiteral("reconnect")) && parser.isSet(QStringLiteral("no-reconnect")))
        tool.usageError(QStringLiteral("give --reconnect or --no-reconnect, not both"));
    const bool reconnect = !parser.isSet(QStringLiteral("no-reconnect"));
    if (parser.isSet(QStringLiteral("db")) && parser.isSet(QStringLiteral("no-db")))
        tool.usageError(QStringLiteral("give --db or --no-db, not both"));
    std::optional<DatabaseTarget> database;
    if (!parser.isSet(QStringLiteral("no-db"))) {
        QString error;
        database = DatabaseTarget::parse(parser.value(QStringLiteral("db")), &error);
        if (!database)
            tool.usageError(QStringLiteral("--db: %1").arg(error));
    }
    RunContext context;
    for (const auto &[option, field] :
         {std::pair{"lot", &context.lot}, std::pair{"operator", &context.operatorName},
          std::pair{"station", &context.station}})
        if (parser.isSet(QLatin1String(option)))
            *field = validTag(option, parser.value(QLatin1String(option)));

    const QDateTime start = QDateTime::currentDateTimeUtc();
    std::vector<std::unique_ptr<SensorCheck>> sensors;
    QStringList sources;
    QStringList sensorUnits; // of the sensors that opened, as `sources`
    int status = 0;
    double duration = 0;
    if (!positional.isEmpty()) {
        auto check = std::make_unique<SensorCheck>(model, profile, references, filter);
        QString error;
        if (!check->runCapture(positional[0], &error))
            tool.fail(inputStatus,
                      error.contains(positional[0])
                          ? error
                          : QStringLiteral("cannot read %1: %2").arg(positional[0], error));
        if (check->bytes() == 0)
            tool.fail(inputStatus, QStringLiteral("no data in %1").arg(positional[0]));
        duration = check->statistics().span();
        sources << positional[0];
        sensorUnits << units.value(0);
        sensors.push_back(std::move(check));
    } else {
        for (int p = 0; p < ports.size(); ++p) {
            const QString &port = ports[p];
            auto check = std::make_unique<SensorCheck>(model, profile, references, filter);
            check->setReconnect(reconnect);
            QString error;
            if (!check->openPort(port, &error)) {
                tool.warn(QStringLiteral("cannot open %1: %2").arg(port, error));
                status = inputStatus;
                continue;
            }
            sources << port;
            sensorUnits << units.value(p);
            sensors.push_back(std::move(check));
        }
        if (sensors.empty())
            return inputStatus;

        std::signal(SIGINT, [](int) { interrupted = 1; });
        std::signal(SIGTERM, [](int) { interrupted = 1; });
        const bool progress = ::isatty(STDERR_FILENO);
        QElapsedTimer clock;
        clock.start();
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, app.get(), [&] {
            const double elapsed = clock.nsecsElapsed() / 1e9;
            bool anyOpen = false;
            for (const auto &s : sensors)
                anyOpen = anyOpen || s->session().isOpen() || s->waitingForPort();
            if (progress) {
                QString line =
                    QStringLiteral("\r%1 s of %2 s").arg(elapsed, 0, 'f', 0).arg(seconds);
                for (size_t i = 0; i < sensors.size(); ++i)
                    line += QStringLiteral(", %1: %2 scans")
                                .arg(QFileInfo(sources[static_cast<int>(i)]).fileName())
                                .arg(sensors[i]->scans());
                std::fprintf(stderr, "%s  ", qPrintable(line));
                std::fflush(stderr);
            }
            if (elapsed >= seconds || interrupted || !anyOpen)
                QCoreApplication::quit();
        });
        tick.start(100);
        QCoreApplication::exec();
        if (progress)
            std::fputc('\n', stderr);
        duration = clock.nsecsElapsed() / 1e9;
        for (const auto &s : sensors)
            s->closePort();
    }

    const bool several = sensors.size() > 1;
    int failures = 0, counted = 0;
    for (size_t i = 0; i < sensors.size(); ++i) {
        SensorCheck &sensor = *sensors[i];
        const QString source = sources[static_cast<int>(i)];
        if (sensor.bytes() == 0) {
            tool.warn(QStringLiteral("no data came from %1").arg(source));
            status = inputStatus;
            continue;
        }
        CheckReport report = sensor.report();
        report.toolVersion = QStringLiteral(VANTOSCOPE_VERSION);
        report.edition = QLatin1String(Edition::name);
        report.source = source;
        report.unit = sensorUnits[static_cast<int>(i)];
        report.start = start;
        report.durationS = duration;
        if (database)
            report.runId = newRunId();
        if (interrupted)
            report.notes.prepend(
                QStringLiteral("Interrupted after %1 s.").arg(duration, 0, 'f', 1));
        failures += report.failures();
        counted += report.counted();
        if (i > 0)
            std::fputc('\n', stdout);
        std::fputs(textReport(report).toUtf8().constData(), stdout);

        // In --out-dir, several sensors without units still get a file each.
        const QString stem =
            outDir.isEmpty()
                ? QString()
                : ReportFiles::stem(outDir, report.unit.isEmpty() ? model : report.unit, start);
        auto path = [&](const char *option, const char *suffix) {
            const QString given = parser.value(QLatin1String(option));
            if (!given.isEmpty() || stem.isEmpty())
                return sensorReportPath(given, source, several);
            return sensorReportPath(stem + QLatin1String(suffix), source,
                                    several && report.unit.isEmpty());
        };
        const ReportFiles files{path("json", ".json"), path("junit", ".xml"),
                                path("html", ".html")};
        const ScanStatistics &stats = sensor.statistics();
        QString error;
        if (!files.write(
                report, [&] { return htmlReport(report, stats, unsteadyBins(stats)); }, &error)) {
            tool.warn(error);
            status = inputStatus;
        }
        // Kept once the verdict and the files are out: the database never
        // holds them up, and its trouble is a warning, not another status.
        if (database) {
            RunContext run = context;
            run.unit = report.unit;
            run.jsonPath = files.json;
            run.htmlPath = files.html;
            run.junitPath = files.junit;
            if (!report.live)
                run.capturePath = source;
            const StoreOutcome stored = storeRun(*database, RunRecord::fromReport(report, run));
            if (!stored.warning.isEmpty())
                tool.warn(stored.warning);
        }
        if (!report.passed() && status == 0)
            status = failedStatus;
    }
    if (several) {
        std::printf(
            "\nAll %d sensors: %s\n", static_cast<int>(sensors.size()),
            failures == 0
                ? "PASS"
                : qPrintable(
                      QStringLiteral("FAIL: %1 of %2 checks failed").arg(failures).arg(counted)));
    }
    std::fflush(stdout);
    return status;
}
