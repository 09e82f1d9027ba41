#ifndef VANTOSCOPE_REPORTPLOTS_HTMLREPORT_H
#define VANTOSCOPE_REPORTPLOTS_HTMLREPORT_H

#include "check/checkreport.h"
#include "check/scanstatistics.h"

#include <QByteArray>
#include <QVector>

// The report as one self-contained HTML5 page in UTF-8: the header with the
// verdict, the table of checks, the notes and five plots (median scan by σ,
// speed or frame rate over time, intervals, σ by angle, errors over time)
// embedded as PNG data URIs. It loads nothing: no script, no stylesheet, font
// or image from elsewhere. Every text from the sensor or a file name is
// escaped. The page is also well-formed XML.
//
// `unsteady` marks the bins that look like moving objects or edges, one
// entry per 1° bin as unsteadyBins() gives them; empty marks none.
//
// The plots are drawn with QPainter, which needs a QGuiApplication (the
// offscreen platform is enough).
QByteArray htmlReport(const CheckReport &report, const ScanStatistics &stats,
                      const QVector<bool> &unsteady = {});

#endif
