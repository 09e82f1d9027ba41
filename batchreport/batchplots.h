#ifndef VANTOSCOPE_BATCHREPORT_BATCHPLOTS_H
#define VANTOSCOPE_BATCHREPORT_BATCHPLOTS_H

#include "results/batchstats.h"

#include <QImage>

// The plots of the batch report, drawn with the report's plotting kit on
// opaque images (Format_RGB32, which QPainter blends onto fastest).
// Drawing text needs a QGuiApplication (the offscreen platform will do).

// Width and height, in CSS pixels, of a check's two plots, shown side by
// side.
constexpr int batchPlotWidth = 460;
constexpr int batchPlotHeight = 290;

// The check's values in bins, its limits as lines (an arrow at the edge for
// a limit far off the values) and the mean.
QImage histogramPlot(const Batch::CheckSeries &check);
// Each value in run order, the centre line, the control limits at 3σ within
// (average moving range / 1.128) and the points the Western Electric rules
// flag.
QImage controlChart(const Batch::CheckSeries &check);
// The failing checks as bars, most failures first, with the cumulative share.
QImage paretoPlot(const QVector<Batch::ParetoEntry> &pareto, int failures);

#endif
