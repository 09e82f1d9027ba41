// What the bench check costs on a capture of the fastest streaming model
// (Dogwood: 10 revolutions, 4000 points a second): the processor time to
// check ten minutes of it, and the process's peak memory after checking an
// hour (the statistics must not grow with the run).
#include "capture/capturewriter.h"
#include "check/sensorcheck.h"
#include "sensorsim.h"
#include "simmodels.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <sys/resource.h>

namespace {

// A Dogwood capture of `seconds` of a static scene in 10 ms records.
bool writeCapture(const QString &path, int seconds)
{
    CaptureWriter writer;
    CaptureMetadata metadata;
    const SimModel &model = *findSimModel(QStringLiteral("Dogwood"));
    metadata.model = model.name;
    metadata.baudrate = model.baudrate;
    if (!writer.open(path, metadata))
        return false;
    SimFaults faults;
    SensorSim sim(model, 1, faults, SimIdentity{});
    const qint64 start = 1'765'000'000'000'000'000LL;
    writer.append(CaptureDirection::Inbound, sim.informationReply(), start);
    for (int step = 1; step <= seconds * 100; ++step)
        if (!writer.append(CaptureDirection::Inbound, sim.advance(step * 0.01),
                           start + step * 10'000'000LL))
            return false;
    return writer.close();
}

void checkCapture(benchmark::State &state)
{
    const int seconds = static_cast<int>(state.range(0));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dogwood.pcapng"));
    if (!writeCapture(path, seconds)) {
        state.SkipWithError("cannot write the capture");
        return;
    }
    long long scans = 0;
    for (auto _ : state) {
        SensorCheck check(QStringLiteral("Dogwood"),
                          BenchProfile::defaults(QStringLiteral("Dogwood")), {}, true);
        QString error;
        if (!check.runCapture(path, &error)) {
            state.SkipWithError(qPrintable(error));
            return;
        }
        const CheckReport report = check.report();
        benchmark::DoNotOptimize(report.failures());
        scans = check.scans();
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["scans"] = static_cast<double>(scans);
    state.counters["capture_seconds"] = seconds;
    state.counters["peak_rss_MB"] = usage.ru_maxrss / 1024.0;
}
// Ten minutes, and an hour once.
BENCHMARK(checkCapture)->Arg(600)->Unit(benchmark::kSecond)->MeasureProcessCPUTime();
BENCHMARK(checkCapture)
    ->Arg(3600)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->MeasureProcessCPUTime();

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
