// Cost of one map redraw at typical window sizes.
//
// Replot/<width>/<height>/<points>/<confidence>: a new scan arrives before
// every redraw (the usual 30 Hz case: the grid layer is reused).
// ReplotGrid/...: the view is panned before every redraw, so the grid layer
// is drawn again as well.
// UnchangedTick/...: nothing changed since the last redraw.
#include "syntheticscan.h"
#include "view/limapview.h"

#include <QApplication>
#include <benchmark/benchmark.h>

namespace {

struct Setup
{
    LiMapView view;
    SensorScan scans[2];

    explicit Setup(benchmark::State &state)
    {
        view.resize(int(state.range(0)), int(state.range(1)));
        scans[0] = publishedScan(syntheticRoomScan(int(state.range(2))));
        scans[1] = publishedScan(syntheticRoomScan(int(state.range(2))));
        if (state.range(3)) {
            // The palette of the command-protocol models: the most colour
            // changes from point to point.
            view.setDecoderKind(Edition::DecoderKind::CommandProtocol);
            view.setConfidenceEnabled(true);
        }
        view.setIndicatrixEnabled(true);
        view.setSelectedAngle(31.0);
        view.showScan(scans[0]);
        view.replot();
    }
};

void Replot(benchmark::State &state)
{
    Setup s(state);
    int i = 0;
    for (auto _ : state) {
        s.view.showScan(s.scans[++i & 1]);
        s.view.replot();
    }
}

void ReplotGrid(benchmark::State &state)
{
    Setup s(state);
    int i = 0;
    for (auto _ : state) {
        s.view.setOffset(QPoint(40, 5 + (++i & 1)));
        s.view.showScan(s.scans[i & 1]);
        s.view.replot();
    }
}

void UnchangedTick(benchmark::State &state)
{
    Setup s(state);
    for (auto _ : state)
        s.view.replot();
}

void sizes(benchmark::internal::Benchmark *b)
{
    b->ArgNames({"w", "h", "points", "confidence"});
    for (auto size : {std::pair{1280, 800}, {1920, 1080}})
        for (int points : {450, 4500})
            for (int confidence : {0, 1})
                b->Args({size.first, size.second, points, confidence});
    b->Unit(benchmark::kMicrosecond);
}

} // namespace

BENCHMARK(Replot)->Apply(sizes);
BENCHMARK(ReplotGrid)->Apply(sizes);
BENCHMARK(UnchangedTick)->Apply(sizes);

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
