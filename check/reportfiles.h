#ifndef VANTOSCOPE_CHECK_REPORTFILES_H
#define VANTOSCOPE_CHECK_REPORTFILES_H

#include "checkreport.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <functional>

// Where one run's reports go, and writing them. Empty paths are not written.
struct ReportFiles
{
    QString json, junit, html;

    // "NAME-YYYYMMDD-HHMMSS" in `folder`, the start in UTC.
    static QString stem(const QString &folder, const QString &name, const QDateTime &start);
    // As stem(), with "-2", "-3"… added while a report or capture of that
    // name is there, so that no run's evidence replaces another's.
    static QString freeStem(const QString &folder, const QString &name, const QDateTime &start);
    // STEM.json, STEM.xml and STEM.html.
    static ReportFiles at(const QString &stem);

    // Writes the JSON, the JUnit XML and the HTML page (made only when it
    // has a path), each replacing its file whole; stops at the first that
    // fails, with `error` naming the file.
    bool write(const CheckReport &report, const std::function<QByteArray()> &htmlPage,
               QString *error) const;
};

// Report file `path` of sensor `source` when several are tested at once:
// report.json -> report-ttyUSB0.json.
QString sensorReportPath(const QString &path, const QString &source, bool several);

// Writes `bytes` to `path` whole or not at all; false with `error`.
bool writeReportFile(const QString &path, const QByteArray &bytes, QString *error);

// A serial number as a barcode scanner types it; it names report files, so
// nothing that would leave the folder or trouble a file system: 1 to
// longestUnitName printable ASCII characters, no space and none of
// refusedUnitCharacters().
constexpr int longestUnitName = 64;
QString refusedUnitCharacters();
bool isValidUnitName(const QString &text);

#endif
