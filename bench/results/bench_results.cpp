// What the results history costs: storing one run of 30 checks (the median
// over the iterations, as a counter), and the summary and the batch report
// over 10 000 runs of 30 checks (reading them, the figures, and for the
// report the plots and the page), on SQLite and on a throwaway PostgreSQL
// server started here.
#include "batchreport/batchplots.h"
#include "batchreport/batchreport.h"
#include "pgserver.h"
#include "reportplots/plotkit.h"
#include "results/batchstats.h"
#include "results/resultsdb.h"

#include <QGuiApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>

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

void batch(benchmark::State &state, bool html)
{
    const QString db = batchDatabase(static_cast<int>(state.range(0)));
    if (db.isEmpty()) {
        state.SkipWithError("cannot fill the database");
        return;
    }
    long long bytes = 0;
    for (auto _ : state) {
        QVector<RunRecord> runs;
        QString error;
        ResultsDatabase database(*target(db));
        if (!database.open(&error) || !database.runs({}, true, &runs, &error)) {
            state.SkipWithError(qPrintable(error));
            return;
        }
        const Batch::Summary summary = Batch::summarise(runs);
        benchmark::DoNotOptimize(summary.yield.firstPass);
        if (html)
            bytes = batchReport(runs, summary, {db, QStringLiteral("all runs")}).size();
    }
    if (html)
        state.counters["page_MB"] = bytes / 1e6;
}

void summary(benchmark::State &state)
{
    batch(state, false);
}

void htmlReport(benchmark::State &state)
{
    batch(state, true);
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
            benchmark::DoNotOptimize(Plot::pngData(histogram, batchPngQuality).size() +
                                     Plot::pngData(chart, batchPngQuality).size());
    }
}

} // namespace

BENCHMARK(checkPlots)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
// Argument: 0 SQLite, 1 PostgreSQL.
BENCHMARK(storeRun)->Arg(0)->Arg(1)->Iterations(500)->Unit(benchmark::kMillisecond)->UseRealTime();
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
