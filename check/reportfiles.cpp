#include "reportfiles.h"

#include "reportwriters.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

QString ReportFiles::stem(const QString &folder, const QString &name, const QDateTime &start)
{
    return QDir(folder).filePath(name + QLatin1Char('-') +
                                 start.toUTC().toString(QStringLiteral("yyyyMMdd-HHmmss")));
}

QString ReportFiles::freeStem(const QString &folder, const QString &name, const QDateTime &start)
{
    const QString first = stem(folder, name, start);
    auto taken = [](const QString &candidate) {
        for (const char *suffix : {".json", ".xml", ".html", ".pcapng"})
            if (QFileInfo::exists(candidate + QLatin1String(suffix)))
                return true;
        return false;
    };
    QString candidate = first;
    for (int n = 2; taken(candidate); ++n)
        candidate = first + QStringLiteral("-%1").arg(n);
    return candidate;
}

ReportFiles ReportFiles::at(const QString &stem)
{
    return {stem + QStringLiteral(".json"), stem + QStringLiteral(".xml"),
            stem + QStringLiteral(".html")};
}

bool ReportFiles::write(const CheckReport &report, const std::function<QByteArray()> &htmlPage,
                        QString *error) const
{
    return (json.isEmpty() || writeReportFile(json, jsonReport(report), error)) &&
           (junit.isEmpty() || writeReportFile(junit, junitReport({report}), error)) &&
           (html.isEmpty() || writeReportFile(html, htmlPage(), error));
}

QString sensorReportPath(const QString &path, const QString &source, bool several)
{
    if (!several || path.isEmpty())
        return path;
    const QFileInfo info(path);
    const QString tag = QFileInfo(source).fileName();
    const QString suffix = info.suffix();
    const QString stem = suffix.isEmpty() ? info.fileName() : info.completeBaseName();
    return info.dir().filePath(stem + QLatin1Char('-') + tag +
                               (suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix));
}

bool writeReportFile(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

QString refusedUnitCharacters()
{
    return QStringLiteral("/\\:*?\"<>|");
}

bool isValidUnitName(const QString &text)
{
    const QString refused = refusedUnitCharacters();
    bool ok = !text.isEmpty() && text.size() <= longestUnitName && text != QLatin1String(".") &&
              text != QLatin1String("..") && text.trimmed() == text;
    for (const QChar c : text)
        ok = ok && c.unicode() > 0x20 && c.unicode() < 0x7f && !refused.contains(c);
    return ok;
}
