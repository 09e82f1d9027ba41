#ifndef VANTOSCOPE_SCANEXPORT_H
#define VANTOSCOPE_SCANEXPORT_H

#include "points/pointdata.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The scan as CSV: the header "angle,distance,confidence", then one row per
// measured point in scan order. A streaming scan's end-of-scan marker is not
// a point and is left out. Angles are written in the shortest form that
// reads back to the same double, independent of the locale.
QByteArray scanCsv(const QList<PointData> &points);

// Writes scanCsv(points) to `path`, replacing the file only once every byte
// is written. On failure returns false with the reason in `error`, and an
// existing file is left as it was.
bool writeScanCsv(const QString &path, const QList<PointData> &points, QString *error);

#endif
