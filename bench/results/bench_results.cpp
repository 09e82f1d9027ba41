// What the results history costs: storing one run of 30 checks (the median
// over the iterations, as a counter), and `vantoscope-results summary` and
// `vantoscope-results --html` over 10 000 runs of 30 checks, run as a user
// runs them (wall clock, and the program's CPU time on all its threads as a
// counter), on SQLite and on a throwaway PostgreSQL server started here; and
// one check's pair of plots, drawn and encoded.
#include "batchreport/batchplots.h"
#include "batchreport/quickpng.h"
#include "pgserver.h"
#include "results/batchstats.h"
#include "results/resultsdb.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <sys/resource.h>

namespace {

constexpr int checks = 30;
constexpr int batchRuns = 10000;

QTemporaryDir &folder()
{
    static QTemporaryDir dir;
    return dir;
}

PgServer &server()
{
    static PgServer pg;
    return pg;
}

// A --db text for a new database of `engine` (0 SQLite, 1 PostgreSQL);
// empty when the server would not start.
QString freshDatabase(int engine, const QString &name)
{
    if (engine == 0)
        return folder().filePath(name + QStringLiteral(".sqlite"));
    QString error;
    if ((!server().running() && !server().start(&error)) ||
        !server().createDatabase(name, &error)) {
        qWarning("PostgreSQL: %s", qPrintable(error));
        return {};
    }
    return server().url(name);
}

// Run `i` of a lot of units with some spread and a slow drift.
RunRecord syntheticRun(int i)
{
    RunRecord run;
    run.id = newRunId();
    run.unit = QStringLiteral("SN-%1").arg(i % (batchRuns * 9 / 10), 5, 10, QLatin1Char('0'));
    run.lot = QStringLiteral("L%1").arg(i / 1000);
    run.station = QStringLiteral("bench-%1").arg(i % 4);
    run.model = QStringLiteral("Dogwood");
    run.edition = QStringLiteral("full");
    run.source = QStringLiteral("/dev/ttyUSB0");
    run.start = QDateTime(QDate(2025, 1, 1), QTime(0, 0), Qt::UTC).addSecs(i * 60);
    run.durationS = 30;
    bool failed = false;
    for (int k = 0; k < checks; ++k) {
        StoredMeasurement m;
        m.key = QStringLiteral("check_%1").arg(k);
        m.name = QStringLiteral("Check number %1").arg(k);
        m.value = 100 + k + 5 * std::sin(i * 0.37 + k) + i * 1e-4;
        m.unit = QStringLiteral("mm");
        m.low = 90 + k;
        m.high = 110 + k;
        const bool fail = m.value > *m.high - 0.2;
        failed = failed || fail;
        m.verdict = fail ? QStringLiteral("fail") : QStringLiteral("pass");
        run.measurements.append(m);
    }
    run.verdict = failed ? QStringLiteral("fail") : QStringLiteral("pass");
    return run;
}

std::optional<DatabaseTarget> target(const QString &text)
{
    QString error;
    return DatabaseTarget::parse(text, &error);
}

void storeRun(benchmark::State &state)
{
    const QString db = freshDatabase(static_cast<int>(state.range(0)),
                                     QStringLiteral("store%1").arg(state.range(0)));
    ResultsDatabase database(*target(db));
    QString error;
    if (db.isEmpty() || !database.open(&error)) {
        state.SkipWithError("no database");
        return;
    }
    std::vector<double> times;
    int i = 0;
    for (auto _ : state) {
        state.PauseTiming();
        RunRecord run = syntheticRun(i++);
        state.ResumeTiming();
        const auto begin = std::chrono::steady_clock::now();
        if (!database.store(run, &error)) {
            state.SkipWithError(qPrintable(error));
            return;
        }
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin)
                .count());
    }
    std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
    state.counters["median_ms"] = times[times.size() / 2];
}

// One database of 10 000 runs per engine, filled once.
QString batchDatabase(int engine)
{
    static QString made[2];
    if (!made[engine].isEmpty())
        return made[engine];
    const QString db = freshDatabase(engine, QStringLiteral("batch%1").arg(engine));
    ResultsDatabase database(*target(db));
    QString error;
    if (db.isEmpty() || !database.open(&error))
        return {};
    for (int i = 0; i < batchRuns; ++i) {
        RunRecord run = syntheticRun(i);
        if (!database.store(run, &error))
            return {};
    }
    return made[engine] = db;
}

// The user and system time of the children waited for so far.
double childCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    auto seconds = [](const timeval &t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void command(benchmark::State &state, const QStringList &arguments)
{
    const QString db = batchDatabase(static_cast<int>(state.range(0)));
    if (db.isEmpty()) {
        state.SkipWithError("cannot fill the database");
        return;
    }
    const QString page = folder().filePath(QStringLiteral("batch.html"));
    QStringList call = QStringList{QStringLiteral("--db"), db} + arguments;
    call.replaceInStrings(QStringLiteral("PAGE"), page);
    double cpu = 0;
    for (auto _ : state) {
        const double before = childCpuSeconds();
        QProcess tool;
        tool.setStandardOutputFile(QProcess::nullDevice());
        tool.start(QStringLiteral(VANTOSCOPE_RESULTS_PATH), call);
        if (!tool.waitForFinished(120000) || tool.exitStatus() != QProcess::NormalExit ||
            tool.exitCode() != 0) {
            state.SkipWithError(tool.readAllStandardError().constData());
            return;
        }
        cpu += childCpuSeconds() - before;
    }
    state.counters["cpu_ms"] = cpu * 1000 / state.iterations();
    if (arguments.contains(QStringLiteral("PAGE")))
        state.counters["page_MB"] = QFileInfo(page).size() / 1e6;
}

void summary(benchmark::State &state)
{
    command(state, {QStringLiteral("summary")});
}

void htmlReport(benchmark::State &state)
{
    command(state, {QStringLiteral("--html"), QStringLiteral("PAGE")});
}

// The two plots of one check over the batch, drawn and encoded: the page
// holds one pair per check.
void checkPlots(benchmark::State &state)
{
    static const Batch::Summary summary = [] {
        QVector<RunRecord> runs;
        for (int i = 0; i < batchRuns; ++i)
            runs.append(syntheticRun(i));
        return Batch::summarise(runs);
    }();
    const Batch::CheckSeries &check = summary.checks[3];
    for (auto _ : state) {
        const QImage histogram = histogramPlot(check);
        const QImage chart = controlChart(check);
        if (state.range(0))
            benchmark::DoNotOptimize(quickPng(histogram).size() + quickPng(chart).size());
    }
}

} // namespace

BENCHMARK(checkPlots)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
// Argument: 0 SQLite, 1 PostgreSQL.
BENCHMARK(storeRun)->Arg(0)->Arg(1)->Iterations(500)->Unit(benchmark::kMillisecond)->UseRealTime();
// The commands' wall clock: on a machine shared with other work, their
// cpu_ms counter is the steadier figure.
BENCHMARK(summary)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(htmlReport)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
