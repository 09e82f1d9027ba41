// What recording and replaying cost. Recording: one iteration is one second
// of the fastest line (921600 baud, Fir and Maple: 92160 bytes a second) in
// chunks of the size given, appended with their wall-clock times to a
// capture on disk; the time per iteration is the CPU a second of recording
// costs (core_percent: the share of one core). Replaying: a Dogwood capture
// read and decoded as fast as possible through the sensor session, timed by
// the recorded times (bytes_per_second). Export to MCAP: the same capture
// through the window's Export -> MCAP, file to file, uncompressed, zstd and
// lz4 (bytes_per_second of capture read).
#include "app/mcapexport.h"
#include "capture/capturereader.h"
#include "capture/capturewriter.h"
#include "sensorsim.h"
#include "session/sensorsession.h"
#include "simmodels.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

constexpr int fastestBytesPerSecond = 921600 / 10;

void recordAtLineRate(benchmark::State &state)
{
    const int chunk = static_cast<int>(state.range(0));
    const int chunksPerSecond = fastestBytesPerSecond / chunk;
    QTemporaryDir dir;
    CaptureWriter writer;
    CaptureMetadata metadata;
    metadata.model = QStringLiteral("Fir");
    metadata.baudrate = findSimModel(metadata.model)->baudrate;
    if (!writer.open(dir.filePath("bench.pcapng"), metadata)) {
        state.SkipWithError("cannot write the capture");
        return;
    }
    const QByteArray data(chunk, '\x5A');
    for (auto _ : state) {
        for (int i = 0; i < chunksPerSecond; ++i)
            writer.append(CaptureDirection::Inbound, data, epochNanoseconds());
    }
    writer.close();
    state.SetBytesProcessed(state.iterations() * chunksPerSecond * chunk);
    // CPU seconds per second of data, in percent: time / (iterations / 100).
    state.counters["core_percent"] =
        benchmark::Counter(double(state.iterations()) / 100.0,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(recordAtLineRate)->Arg(16)->Arg(64)->Arg(512)->Unit(benchmark::kMicrosecond);

QByteArray dogwoodCapture()
{
    // About 1.2 MB: 50 s of a Dogwood at 10 revolutions a second, in the
    // chunks the port would have handed over every 5 ms.
    QTemporaryDir dir;
    const QString path = dir.filePath("dogwood.pcapng");
    CaptureWriter writer;
    CaptureMetadata metadata;
    const SimModel &model = *findSimModel(QStringLiteral("Dogwood"));
    metadata.model = model.name;
    metadata.baudrate = model.baudrate;
    writer.open(path, metadata);
    SensorSim sim(model, 1, SimFaults{}, SimIdentity{});
    const qint64 start = 1'765'000'000'000'000'000LL;
    for (int step = 1; step <= 500 * 20; ++step)
        writer.append(CaptureDirection::Inbound, sim.advance(step * 0.005),
                      start + step * 5'000'000LL);
    writer.close();
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QByteArray &sharedCapture()
{
    static const QByteArray bytes = dogwoodCapture();
    return bytes;
}

void readCapture(benchmark::State &state)
{
    QByteArray bytes = sharedCapture();
    qint64 records = 0;
    for (auto _ : state) {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        CaptureReader reader;
        reader.open(&buffer);
        CaptureRecord record;
        while (reader.readNext(record))
            ++records;
        benchmark::DoNotOptimize(record.data.constData());
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
    state.counters["records"] = double(records) / double(state.iterations());
}
BENCHMARK(readCapture)->Unit(benchmark::kMillisecond);

void readAndDecodeCapture(benchmark::State &state)
{
    QByteArray bytes = sharedCapture();
    qint64 scans = 0;
    for (auto _ : state) {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        CaptureReader reader;
        reader.open(&buffer);
        SensorSession session;
        session.chooseModel(QStringLiteral("Dogwood"));
        qint64 recorded = 0;
        session.setTimeSource([&recorded] { return recorded; });
        QObject::connect(&session, &SensorSession::scanReady, [&scans] { ++scans; });
        CaptureRecord record;
        while (reader.readNext(record)) {
            recorded = record.timeNs;
            session.push(record.data);
        }
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
    state.counters["scans"] = double(scans) / double(state.iterations());
}
BENCHMARK(readAndDecodeCapture)->Unit(benchmark::kMillisecond);

void exportCaptureToMcap(benchmark::State &state)
{
    QTemporaryDir dir;
    McapExport::Job job;
    job.capture = dir.filePath("dogwood.pcapng");
    job.target = dir.filePath("dogwood.mcap");
    job.model = QStringLiteral("Dogwood");
    job.compression = static_cast<McapWriter::Compression>(state.range(0));
    QFile file(job.capture);
    if (!file.open(QIODevice::WriteOnly) || file.write(sharedCapture()) != sharedCapture().size()) {
        state.SkipWithError("cannot write the capture");
        return;
    }
    file.close();
    McapExport::Result result;
    for (auto _ : state)
        result = McapExport::run(job);
    if (!result.ok)
        state.SkipWithError(qPrintable(result.error));
    state.SetBytesProcessed(state.iterations() * sharedCapture().size());
    state.counters["scans"] = result.scans;
    state.counters["mcap_bytes"] = double(QFileInfo(job.target).size());
}
BENCHMARK(exportCaptureToMcap)
    ->Arg(int(McapWriter::Compression::None))
    ->Arg(int(McapWriter::Compression::Zstd))
    ->Arg(int(McapWriter::Compression::Lz4))
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
