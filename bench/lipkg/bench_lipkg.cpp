// Decoding throughput of LiPkg: realistic streams of each frame format fed
// through pushData in 256-byte chunks, with the filter stage on and off.

#include "lipkg/lipkg.h"
#include "streamframes.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

namespace {

constexpr int scansPerStream = 2000;
constexpr int pointsPerScan = 450;
constexpr double degreesPerPoint = 360.0 / pointsPerScan;
constexpr uint16_t speed = 3600; // 10 revolutions per second
constexpr int chunkSize = 256;

enum FormatIndex
{
    Pkg47,
    Pkg36,
    PkgVariable
};
constexpr int modelTypes[] = {0, 18, 24};
constexpr int filterVariants[] = {0, 1, 0};
constexpr int pointsPerFrame[] = {12, 8, 30};

// One revolution after another: a room whose walls lie between 2 and 6 m,
// a box at 100 to 130 degrees 600 mm away, isolated near returns of random
// confidence on 5% of the points and no return on 2%.
Wire::StreamPoint samplePoint(double angle, std::mt19937 &random)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double draw = unit(random);
    Wire::StreamPoint p;
    if (draw < 0.02)
        return p;
    if (draw < 0.07) {
        p.distance = static_cast<uint16_t>(100 + unit(random) * 800);
        p.confidence = static_cast<uint8_t>(unit(random) * 255);
        return p;
    }
    const double radians = angle * M_PI / 180.0;
    if (angle >= 100.0 && angle < 130.0)
        p.distance = static_cast<uint16_t>(600 + 10 * std::sin(radians * 40));
    else
        p.distance = static_cast<uint16_t>(4000 + 2000 * std::sin(radians * 3) + unit(random) * 30);
    p.confidence = static_cast<uint8_t>(180 + unit(random) * 60);
    return p;
}

QByteArray makeStream(FormatIndex format)
{
    std::mt19937 random(1234);
    QByteArray stream;
    const int perFrame = pointsPerFrame[format];
    const long total = long(scansPerStream) * pointsPerScan;
    for (long first = 0; first + perFrame <= total; first += perFrame) {
        QVector<Wire::StreamPoint> points;
        for (int i = 0; i < perFrame; ++i)
            points.append(samplePoint(std::fmod((first + i) * degreesPerPoint, 360.0), random));
        const double start = std::fmod(first * degreesPerPoint, 360.0);
        const double end = start + (perFrame - 1) * degreesPerPoint;
        switch (format) {
        case Pkg47:
            stream +=
                Wire::encodePkg47(speed, static_cast<uint16_t>(std::lround(start * 100)), points,
                                  static_cast<uint16_t>(std::lround(end * 100)) % 36000,
                                  static_cast<uint16_t>(first));
            break;
        case Pkg36:
            stream += Wire::encodePkg36(speed, Wire::pkg36AngleWord(start), points,
                                        Wire::pkg36AngleWord(end));
            break;
        case PkgVariable:
            stream += Wire::encodePkgVariable(
                uint8_t(speed / 36 << 1), Wire::pkgVariableAngleValue(start),
                Wire::pkgVariableAngleValue(std::fmod(end, 360.0)), points);
            break;
        }
    }
    return stream;
}

const QByteArray &streamFor(FormatIndex format)
{
    static const QByteArray streams[] = {makeStream(Pkg47), makeStream(Pkg36),
                                         makeStream(PkgVariable)};
    return streams[format];
}

void decodeStream(benchmark::State &state)
{
    const auto format = static_cast<FormatIndex>(state.range(0));
    const bool filter = state.range(1) != 0;
    const QByteArray &stream = streamFor(format);
    int scans = 0;
    int errors = 0;
    for (auto _ : state) {
        LiPkg pkg;
        pkg.setModelType(modelTypes[format]);
        pkg.setFilterVariant(filterVariants[format]);
        pkg.setFilterEnabled(filter);
        QObject::connect(&pkg, &LiPkg::mapReady, [&scans] { ++scans; });
        for (int offset = 0; offset < stream.size(); offset += chunkSize)
            pkg.pushData(QByteArray::fromRawData(
                stream.constData() + offset,
                std::min(chunkSize, static_cast<int>(stream.size()) - offset)));
        errors = pkg.errorCount();
        benchmark::DoNotOptimize(pkg.validCount());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * stream.size());
    state.counters["scans"] = benchmark::Counter(scans, benchmark::Counter::kAvgIterations);
    state.counters["errors"] = errors;
}

} // namespace

BENCHMARK(decodeStream)
    ->ArgNames({"format", "filter"})
    ->Args({Pkg47, 1})
    ->Args({Pkg36, 1})
    ->Args({PkgVariable, 1})
    ->Args({Pkg47, 0})
    ->Args({Pkg36, 0})
    ->Args({PkgVariable, 0})
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
