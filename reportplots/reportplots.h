#ifndef VANTOSCOPE_REPORTPLOTS_REPORTPLOTS_H
#define VANTOSCOPE_REPORTPLOTS_REPORTPLOTS_H

#include "check/scanstatistics.h"
#include "plotkit.h"

#include <QByteArray>
#include <QImage>
#include <QVector>

// The plots of the HTML report, drawn with QPainter into images. Drawing text
// needs a QGuiApplication (the offscreen platform will do); nothing here
// touches a window or the screen, and the same statistics always give the
// same pixels on one machine.
//
// `unsteady` marks, per 1° bin (index = bin, ScanStatistics::binCount
// entries, as unsteadyBins() gives them), the bins whose returns look like
// moving objects or edges; an empty vector marks none.

using Plot::plotHeight;
using Plot::plotScale;
using Plot::plotWidth;
using Plot::pngData;

// The colour moving-object marks are drawn in, in the polar and σ plots and
// nowhere else.
constexpr QRgb movingBinColour = 0xffe0107a;

// The median distance of every bin around the sensor, coloured by its σ on a
// scale with a legend; bins with returns in too few scans hollow and grey,
// moving-object bins as crosses, the sectors outside the field of view
// shaded.
QImage scanPolarPlot(const ScanStatistics &stats, const QVector<bool> &unsteady);
// Rotation speed (frame rate for command-protocol models) over the run: the
// mean of each bucket of the speed series and its minimum-maximum band.
QImage speedPlot(const ScanStatistics &stats);
// The populated range of the scan (frame) interval histogram, in ms.
QImage intervalPlot(const ScanStatistics &stats);
// Every bin's σ against its angle, 0..360°.
QImage sigmaPlot(const ScanStatistics &stats, const QVector<bool> &unsteady);
// Packet errors (lost frames for command-protocol models) per bucket of the
// error series.
QImage errorPlot(const ScanStatistics &stats);
// Each --reference target's mean distance per drift window, less its known
// distance, against time, with its fitted drift line.
QImage driftPlot(const ScanStatistics &stats);

#endif
