#include "commandframes.h"
#include "debugpkg/debugpkg.h"
#include "streamframes.h"
#include "trnet/framesplitter.h"
#include "trnet/qtrnet.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <benchmark/benchmark.h>

// Throughput of the receive paths that see every byte of the serial line.
// Each case feeds a prepared stream in chunks of 4 KiB.

namespace {

constexpr int samplesPerFrame = 160;
constexpr int chunkSize = 4096;

QByteArray firStream(int frames)
{
    QRandomGenerator rng(1);
    QByteArray stream;
    for (int f = 0; f < frames; ++f) {
        QVector<uint16_t> samples(samplesPerFrame);
        for (int c = 0; c < samplesPerFrame; ++c)
            samples[c] =
                Wire::firSample(uint16_t(200 + rng.bounded(8)), uint8_t(100 + 2 * rng.bounded(50)));
        stream += Wire::measuredSampleFrame(f * 100, samples);
    }
    return stream;
}

QByteArray mapleStream(int frames)
{
    QRandomGenerator rng(2);
    QByteArray stream;
    for (int f = 0; f < frames; ++f) {
        QVector<uint16_t> samples(samplesPerFrame);
        for (int c = 0; c < samplesPerFrame; ++c)
            samples[c] = Wire::mapleSample(uint16_t(300 + rng.bounded(50)), uint8_t(rng.bounded(8)),
                                           uint8_t(rng.bounded(8)));
        stream += Wire::measuredSampleFrame(f * 100, samples);
    }
    return stream;
}

QByteArray streamingSensorStream(int frames)
{
    QRandomGenerator rng(3);
    QByteArray stream;
    QVector<Wire::StreamPoint> points(12);
    for (int f = 0; f < frames; ++f) {
        for (auto &p : points)
            p = {uint16_t(rng.bounded(12000)), uint8_t(rng.bounded(256))};
        const auto start = uint16_t((f * 360) % 36000);
        stream +=
            Wire::encodePkg47(3600, start, points, uint16_t((start + 330) % 36000), uint16_t(f));
    }
    return stream;
}

QVector<QByteArray> chunked(const QByteArray &stream)
{
    QVector<QByteArray> chunks;
    for (int at = 0; at < stream.size(); at += chunkSize)
        chunks.append(stream.mid(at, chunkSize));
    return chunks;
}

template <typename Push> void run(benchmark::State &state, const QByteArray &stream, Push push)
{
    const QVector<QByteArray> chunks = chunked(stream);
    for (auto _ : state) {
        for (const QByteArray &chunk : chunks)
            push(chunk);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * stream.size());
}

void trNetPushData(benchmark::State &state, int modelType, const QByteArray &stream)
{
    QTRNet net;
    net.setModelType(modelType);
    int scans = 0;
    QObject::connect(&net, &QTRNet::mapReady, &net, [&scans](const PointList &) { ++scans; });
    run(state, stream, [&net](const QByteArray &chunk) { net.pushData(chunk); });
    benchmark::DoNotOptimize(scans);
    state.counters["scans"] = benchmark::Counter(scans, benchmark::Counter::kIsRate);
}

void BM_QTRNetPushDataFir(benchmark::State &state)
{
    static const QByteArray stream = firStream(500);
    trNetPushData(state, 7, stream);
}

void BM_QTRNetPushDataMaple(benchmark::State &state)
{
    static const QByteArray stream = mapleStream(500);
    trNetPushData(state, 32, stream);
}

// A streaming sensor connected while Fir is selected: nothing forms a frame.
void BM_QTRNetPushDataForeignStream(benchmark::State &state)
{
    static const QByteArray stream = streamingSensorStream(4000);
    trNetPushData(state, 7, stream);
}

void BM_DebugPkgPushDataStreaming(benchmark::State &state)
{
    static const QByteArray stream = streamingSensorStream(4000);
    DebugPkg pkg;
    run(state, stream, [&pkg](const QByteArray &chunk) { pkg.pushData(chunk); });
}

// A line read one byte at a time, with a long stretch of noise before the
// frame: the cost per byte must not grow with the length of the stretch.
// Bytes per second stay about level across the lengths; a buffer copied per
// chunk shows as a fitted N^2 and a rate falling with every length.
QByteArray noiseThenFrame(int noise)
{
    return QByteArray(noise, '\x00') + Wire::encodeTrFrame(1, 2, 0, QByteArray(40, '\x11'));
}

void BM_FrameSplitterSingleByteChunks(benchmark::State &state)
{
    const QByteArray stream = noiseThenFrame(int(state.range(0)));
    for (auto _ : state) {
        FrameSplitter splitter;
        for (int i = 0; i < stream.size(); ++i)
            splitter.append(stream.constData() + i, 1);
        TRData frame;
        if (!splitter.takeFrame(frame))
            state.SkipWithError("the frame behind the noise was not found");
        benchmark::DoNotOptimize(frame);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * stream.size());
    state.SetComplexityN(state.range(0));
}

// The same through the receive path, which takes frames and compacts after
// every chunk.
void BM_QTRNetPushDataSingleByteChunks(benchmark::State &state)
{
    const QByteArray stream = noiseThenFrame(int(state.range(0)));
    for (auto _ : state) {
        QTRNet net;
        net.setModelType(7);
        for (int i = 0; i < stream.size(); ++i)
            net.pushData(QByteArray::fromRawData(stream.constData() + i, 1));
        if (net.lastDecodedFrame().command != 2)
            state.SkipWithError("the frame behind the noise was not decoded");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * stream.size());
    state.SetComplexityN(state.range(0));
}

} // namespace

BENCHMARK(BM_FrameSplitterSingleByteChunks)
    ->RangeMultiplier(4)
    ->Range(1 << 14, 1 << 20)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();
BENCHMARK(BM_QTRNetPushDataSingleByteChunks)
    ->RangeMultiplier(4)
    ->Range(1 << 14, 1 << 20)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();
BENCHMARK(BM_QTRNetPushDataFir);
BENCHMARK(BM_QTRNetPushDataMaple);
BENCHMARK(BM_QTRNetPushDataForeignStream);
BENCHMARK(BM_DebugPkgPushDataStreaming);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
