#ifndef VANTOSCOPE_TEST_PGSERVER_H
#define VANTOSCOPE_TEST_PGSERVER_H

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A throwaway PostgreSQL server from Debian's postgresql package: initdb
// into a temporary folder (as the unprivileged user nobody when the tests
// run as root, as the server refuses root), listening on a Unix socket in
// that folder and on no TCP port, stopped and removed at the end. Without
// fsync: it holds nothing worth keeping.
class PgServer
{
public:
    PgServer();
    ~PgServer();
    PgServer(const PgServer &) = delete;
    PgServer &operator=(const PgServer &) = delete;

    // Makes the cluster on the first call; false with `error` when the
    // server cannot be made or started.
    bool start(QString *error);
    bool stop(QString *error);
    bool running() const { return up; }
    bool createDatabase(const QString &name, QString *error);
    // The --db text of database `name`.
    QString url(const QString &name) const;
    QString socketFolder() const { return dataFolder; }

private:
    bool run(const QString &tool, const QStringList &arguments, bool asServer, QString *error);

    QTemporaryDir dir;
    QString binFolder;
    QString dataFolder;
    bool made = false;
    bool up = false;
};

#endif
