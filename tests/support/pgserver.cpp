#include "pgserver.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QVersionNumber>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int port = 5432; // names the socket file; no TCP port is opened
const char superuser[] = "vantoscope";

// The newest server installed: /usr/lib/postgresql/<version>/bin.
QString findBinFolder()
{
    QDir lib(QStringLiteral("/usr/lib/postgresql"));
    QString best;
    QVersionNumber newest;
    for (const QString &version : lib.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString bin = lib.filePath(version + QStringLiteral("/bin"));
        const QVersionNumber number = QVersionNumber::fromString(version);
        if (QFile::exists(bin + QStringLiteral("/initdb")) && (best.isEmpty() || number > newest)) {
            best = bin;
            newest = number;
        }
    }
    return best;
}

bool root()
{
    return ::geteuid() == 0;
}

} // namespace

PgServer::PgServer() : binFolder(findBinFolder()), dataFolder(dir.filePath(QStringLiteral("data")))
{
}

PgServer::~PgServer()
{
    QString ignored;
    if (up)
        stop(&ignored);
}

bool PgServer::run(const QString &tool, const QStringList &arguments, bool asServer, QString *error)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    const QString program = binFolder + QLatin1Char('/') + tool;
    if (asServer && root())
        process.start(QStringLiteral("runuser"),
                      QStringList{QStringLiteral("-u"), QStringLiteral("nobody"),
                                  QStringLiteral("--"), program} +
                          arguments);
    else
        process.start(program, arguments);
    if (!process.waitForStarted(10000) || !process.waitForFinished(120000) ||
        process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        *error = QStringLiteral("%1 failed: %2 %3")
                     .arg(tool, process.errorString(),
                          QString::fromLocal8Bit(process.readAll()).simplified());
        return false;
    }
    return true;
}

bool PgServer::start(QString *error)
{
    if (binFolder.isEmpty()) {
        *error = QStringLiteral("no PostgreSQL server under /usr/lib/postgresql (install the "
                                "postgresql package)");
        return false;
    }
    if (!dir.isValid()) {
        *error = QStringLiteral("no temporary folder");
        return false;
    }
    if (!made) {
        if (!QDir().mkpath(dataFolder)) {
            *error = QStringLiteral("cannot make %1").arg(dataFolder);
            return false;
        }
        if (root()) {
            // The server's user must reach its folder and own its data.
            const passwd *nobody = ::getpwnam("nobody");
            if (!nobody || ::chmod(QFile::encodeName(dir.path()).constData(), 0755) != 0 ||
                ::chown(QFile::encodeName(dataFolder).constData(), nobody->pw_uid,
                        nobody->pw_gid) != 0) {
                *error = QStringLiteral("cannot hand %1 to the user nobody").arg(dataFolder);
                return false;
            }
        }
        if (!run(QStringLiteral("initdb"),
                 {QStringLiteral("-D"), dataFolder, QStringLiteral("-U"), QLatin1String(superuser),
                  QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("-E"),
                  QStringLiteral("UTF8"), QStringLiteral("--locale=C"),
                  QStringLiteral("--no-sync")},
                 true, error))
            return false;
        made = true;
    }
    const QString options =
        QStringLiteral("-k %1 -p %2 -c listen_addresses='' -F").arg(dataFolder).arg(port);
    if (!run(QStringLiteral("pg_ctl"),
             {QStringLiteral("-D"), dataFolder, QStringLiteral("-l"),
              dataFolder + QStringLiteral("/server.log"), QStringLiteral("-o"), options,
              QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("60"),
              QStringLiteral("start")},
             true, error))
        return false;
    up = true;
    return true;
}

bool PgServer::stop(QString *error)
{
    if (!run(QStringLiteral("pg_ctl"),
             {QStringLiteral("-D"), dataFolder, QStringLiteral("-m"), QStringLiteral("fast"),
              QStringLiteral("-w"), QStringLiteral("stop")},
             true, error))
        return false;
    up = false;
    return true;
}

bool PgServer::createDatabase(const QString &name, QString *error)
{
    return run(QStringLiteral("createdb"),
               {QStringLiteral("-h"), dataFolder, QStringLiteral("-p"), QString::number(port),
                QStringLiteral("-U"), QLatin1String(superuser), name},
               false, error);
}

QString PgServer::url(const QString &name) const
{
    // The socket's port is libpq's default.
    static_assert(port == 5432, "a URL without a port means 5432");
    return QStringLiteral("postgresql://%1@/%2?host=%3")
        .arg(QLatin1String(superuser), name, dataFolder);
}
