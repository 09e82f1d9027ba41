#include "scanexport.h"

#include <QLocale>
#include <QSaveFile>

QByteArray scanCsv(const QList<PointData> &points)
{
    int count = points.size();
    if (count > 0 && isEndOfScanMarker(points.last()))
        --count;
    QByteArray csv("angle,distance,confidence\n");
    csv.reserve(csv.size() + count * 20);
    for (int i = 0; i < count; ++i) {
        const PointData &point = points.at(i);
        csv += QByteArray::number(point.angle, 'g', QLocale::FloatingPointShortest);
        csv += ',';
        csv += QByteArray::number(point.distance);
        csv += ',';
        csv += QByteArray::number(point.confidence);
        csv += '\n';
    }
    return csv;
}

bool writeScanCsv(const QString &path, const QList<PointData> &points, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    const QByteArray csv = scanCsv(points);
    if (file.write(csv) != csv.size() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
