#ifndef VANTOSCOPE_CHECK_REPORTWRITERS_H
#define VANTOSCOPE_CHECK_REPORTWRITERS_H

#include "checkreport.h"

#include <QByteArray>

// The table printed on standard output: one row per check (name, value,
// unit, limits, verdict) and the verdict line last.
QString textReport(const CheckReport &report);
// One JSON object: tool version, model, edition, source, start (ISO-8601
// UTC), duration, sensor version, every check and the verdict.
QByteArray jsonReport(const CheckReport &report);
// JUnit XML: one testsuite per report, its properties, one testcase per
// check; a failed check has a failure element giving value and limit.
QByteArray junitReport(const QVector<CheckReport> &reports);

#endif
