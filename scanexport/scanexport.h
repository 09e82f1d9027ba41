#ifndef VANTOSCOPE_SCANEXPORT_H
#define VANTOSCOPE_SCANEXPORT_H

#include "points/sensorscan.h"

#include <QByteArray>
#include <QString>

// Published scans as CSV, for Save scan and the decoder tool alike: the
// header "scan,time,angle,distance,confidence", then one row per measured
// point in scan order. `scan` numbers the scans of a file from 1; `time` is
// the scan's wall-clock time in ISO-8601 UTC with milliseconds
// (2026-12-08T21:45:00.123Z), empty when not known. Distances are written as
// the sensor measured them, beyond any display range. A streaming scan's
// end-of-scan marker is not a point and is left out. Angles are written in
// the shortest form that reads back to the same double, independent of the
// locale.
QByteArray scanCsvHeader();
// Appends the rows of `scan`, numbered `n`.
void appendScanCsvRows(QByteArray &out, int n, const SensorScan &scan);
// The header and the rows of `scan` as scan 1.
QByteArray scanCsv(const SensorScan &scan);

// `utcNs` (nanoseconds since the epoch) as the time column writes it; empty
// for 0.
QByteArray utcTimeText(qint64 utcNs);

// Writes scanCsv(scan) to `path`, replacing the file only once every byte
// is written. On failure returns false with the reason in `error`, and an
// existing file is left as it was.
bool writeScanCsv(const QString &path, const SensorScan &scan, QString *error);

#endif
