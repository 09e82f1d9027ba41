#include "scanexport.h"

#include <QDateTime>
#include <QLocale>
#include <QSaveFile>

QByteArray scanCsvHeader()
{
    return QByteArrayLiteral("scan,time,angle,distance,confidence\n");
}

QByteArray utcTimeText(qint64 utcNs)
{
    if (utcNs == 0)
        return {};
    return QDateTime::fromMSecsSinceEpoch(utcNs / 1000000)
        .toUTC()
        .toString(Qt::ISODateWithMs)
        .toLatin1();
}

void appendScanCsvRows(QByteArray &out, int n, const SensorScan &scan)
{
    int count = scan.points.size();
    if (count > 0 && isEndOfScanMarker(scan.points.last()))
        --count;
    const QByteArray prefix = QByteArray::number(n) + ',' + utcTimeText(scan.utcNs) + ',';
    out.reserve(out.size() + count * (prefix.size() + 20));
    for (int i = 0; i < count; ++i) {
        const PointData &point = scan.points.at(i);
        out += prefix;
        out += QByteArray::number(point.angle, 'g', QLocale::FloatingPointShortest);
        out += ',';
        out += QByteArray::number(point.distance);
        out += ',';
        out += QByteArray::number(point.confidence);
        out += '\n';
    }
}

QByteArray scanCsv(const SensorScan &scan)
{
    QByteArray csv = scanCsvHeader();
    appendScanCsvRows(csv, 1, scan);
    return csv;
}

bool writeScanCsv(const QString &path, const SensorScan &scan, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    const QByteArray csv = scanCsv(scan);
    if (file.write(csv) != csv.size() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
