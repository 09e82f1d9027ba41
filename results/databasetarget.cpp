#include "databasetarget.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>
#include <QUrlQuery>

std::optional<DatabaseTarget> DatabaseTarget::parse(const QString &text, QString *error)
{
    if (text.isEmpty())
        return defaultTarget();
    DatabaseTarget target;
    const QString sqliteScheme = QStringLiteral("sqlite:");
    if (text.startsWith(QLatin1String("postgresql://")) ||
        text.startsWith(QLatin1String("postgres://"))) {
        const QUrl url(text, QUrl::StrictMode);
        const QString database = url.path().mid(1);
        if (!url.isValid() || database.isEmpty() || database.contains(QLatin1Char('/'))) {
            *error = QStringLiteral("'%1' is not postgresql://USER@HOST[:PORT]/DBNAME")
                         .arg(DatabaseTarget{Engine::PostgreSQL,
                                             {},
                                             url.host(),
                                             url.port(),
                                             url.userName(),
                                             {},
                                             database}
                                  .display());
            return std::nullopt;
        }
        target.engine = Engine::PostgreSQL;
        target.host = url.host();
        target.port = url.port();
        target.user = url.userName();
        target.password = url.password();
        target.database = database;
        const QUrlQuery query(url);
        for (const auto &item : query.queryItems(QUrl::FullyDecoded)) {
            if (item.first == QLatin1String("host") && target.host.isEmpty()) {
                target.host = item.second;
            } else {
                *error = QStringLiteral("postgresql:// takes only ?host=SOCKET_FOLDER, not '%1'")
                             .arg(item.first);
                return std::nullopt;
            }
        }
        return target;
    }
    target.file = text.startsWith(sqliteScheme) ? text.mid(sqliteScheme.size()) : text;
    if (target.file.isEmpty()) {
        *error = QStringLiteral("sqlite: needs a file name");
        return std::nullopt;
    }
    if (target.file.contains(QLatin1String("://"))) {
        *error = QStringLiteral("'%1' is neither a file nor postgresql://...").arg(text);
        return std::nullopt;
    }
    target.file = QFileInfo(target.file).absoluteFilePath();
    return target;
}

// The folder is the one every program of the project shares (the
// application data location of "vantoscope"), whichever program asks.
QString DatabaseTarget::defaultFile()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(QStringLiteral("vantoscope/results.sqlite"));
}

DatabaseTarget DatabaseTarget::defaultTarget()
{
    DatabaseTarget target;
    target.file = defaultFile();
    return target;
}

QString DatabaseTarget::display() const
{
    if (engine == Engine::SQLite)
        return file;
    QString text = QStringLiteral("postgresql://");
    if (!user.isEmpty())
        text += user + QLatin1Char('@');
    const bool socket = host.startsWith(QLatin1Char('/'));
    if (!socket)
        text += host;
    if (port >= 0)
        text += QLatin1Char(':') + QString::number(port);
    text += QLatin1Char('/') + database;
    if (socket)
        text += QStringLiteral("?host=") + host;
    return text;
}
