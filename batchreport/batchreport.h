#ifndef VANTOSCOPE_BATCHREPORT_BATCHREPORT_H
#define VANTOSCOPE_BATCHREPORT_BATCHREPORT_H

#include "results/batchstats.h"
#include "results/runrecord.h"

#include <QByteArray>
#include <QString>
#include <QVector>

// What the page says it was made from.
struct BatchSource
{
    QString database;  // as the user named it, without a password
    QString selection; // the filters, "all runs" without any
};

// The batch report as one self-contained HTML page in UTF-8, in the style of
// the bench check's report: the yield table, the units that failed or were
// retested, each check's capability with a histogram against its limits and
// an individuals chart, and the Pareto of failing checks. Every text from
// the database (unit ids, lots, names) is escaped. Needs a QGuiApplication
// for the plots (the offscreen platform will do).
QByteArray batchReport(const QVector<RunRecord> &runs, const Batch::Summary &summary,
                       const BatchSource &source);

#endif
