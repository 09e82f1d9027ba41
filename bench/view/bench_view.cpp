// Cost of one map redraw, as the window does it: the renderer brings its
// canvas up to date and the changed area is copied into a window-sized
// backing store, at a device pixel ratio of 1, 1.5 and 2.
//
// NewScan/<ratio%>/<w>/<h>/<points>/<confidence>: a new scan before every
// redraw (the streaming case: the grid is kept).
// Pan/...: the view moves by a pixel before every redraw, as a drag does.
// Zoom/...: the scale changes by a wheel notch before every redraw.
// UnchangedTick/...: nothing changed since the last redraw.
// Time is wall-clock time; CPU time is the process's, all threads included.
#include "syntheticscan.h"
#include "view/maprenderer.h"

#include <QGuiApplication>
#include <QPainter>
#include <benchmark/benchmark.h>

namespace {

struct Setup
{
    MapRenderer renderer;
    MapViewState view;
    SensorScan scans[2];
    QImage backingStore;

    explicit Setup(benchmark::State &state)
    {
        const qreal ratio = state.range(0) / 100.0;
        view.geometry = QRect(0, 0, int(state.range(1)), int(state.range(2)));
        view.devicePixelRatio = ratio;
        scans[0] = publishedScan(syntheticRoomScan(int(state.range(3))));
        scans[1] = publishedScan(syntheticRoomScan(int(state.range(3))));
        if (state.range(4)) {
            // The palette of the command-protocol models: the most colour
            // changes from point to point.
            view.decoderKind = Edition::DecoderKind::CommandProtocol;
            view.confidenceEnabled = true;
        }
        view.indicatrixEnabled = true;
        view.selectedAngle = 31.0;
        backingStore = QImage(view.geometry.size() * ratio, QImage::Format_ARGB32_Premultiplied);
        backingStore.setDevicePixelRatio(ratio);
        renderer.resetCanvas(view.geometry.size(), ratio);
        renderer.showScan(scans[0]);
        redraw();
    }

    void redraw()
    {
        if (!renderer.render(view))
            return;
        QPainter painter(&backingStore);
        renderer.paint(painter, renderer.changedArea());
    }
};

void NewScan(benchmark::State &state)
{
    Setup s(state);
    int i = 0;
    for (auto _ : state) {
        s.renderer.showScan(s.scans[++i & 1]);
        s.redraw();
    }
}

void Pan(benchmark::State &state)
{
    Setup s(state);
    int i = 0;
    for (auto _ : state) {
        s.view.offset = QPoint(40, 5 + (++i & 1));
        s.redraw();
    }
}

void Zoom(benchmark::State &state)
{
    Setup s(state);
    int i = 0;
    for (auto _ : state) {
        s.view.scale = (++i & 1) ? MapViewState::defaultScale * 1.25 : MapViewState::defaultScale;
        s.redraw();
    }
}

void UnchangedTick(benchmark::State &state)
{
    Setup s(state);
    for (auto _ : state)
        s.redraw();
}

// Under Qt 6 the raster engine may hand work to its thread pool; the CPU
// time counted is that of every thread.
void perRedraw(benchmark::internal::Benchmark *b)
{
    b->Unit(benchmark::kMicrosecond);
    b->MeasureProcessCPUTime();
}

void sizes(benchmark::internal::Benchmark *b)
{
    b->ArgNames({"ratio%", "w", "h", "points", "confidence"});
    for (int ratio : {100, 150, 200})
        for (auto size : {std::pair{1280, 800}, {1920, 1080}})
            for (int points : {450, 4500})
                for (int confidence : {0, 1})
                    b->Args({ratio, size.first, size.second, points, confidence});
    perRedraw(b);
}

// A pan or a zoom draws the whole grid; the 1280 x 800 window is the case
// with targets.
void panSizes(benchmark::internal::Benchmark *b)
{
    b->ArgNames({"ratio%", "w", "h", "points", "confidence"});
    for (int ratio : {100, 150, 200})
        b->Args({ratio, 1280, 800, 450, 0});
    perRedraw(b);
}

} // namespace

BENCHMARK(NewScan)->Apply(sizes);
BENCHMARK(Pan)->Apply(panSizes);
BENCHMARK(Zoom)->Apply(panSizes);
BENCHMARK(UnchangedTick)->Apply(panSizes);

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
