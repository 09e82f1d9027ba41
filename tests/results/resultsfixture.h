#ifndef VANTOSCOPE_TEST_RESULTSFIXTURE_H
#define VANTOSCOPE_TEST_RESULTSFIXTURE_H

#include "check/checkreport.h"
#include "pgserver.h"

#include <QTemporaryDir>
#include <QtTest>

// What the results tests share: a throwaway PostgreSQL server, a fresh
// database of either engine per case, and reports of known checks.
class ResultsFixture
{
public:
    // Fails the test when the server cannot start: the PostgreSQL cases
    // never skip themselves.
    bool startServer()
    {
        QString error;
        if (!server.start(&error)) {
            qWarning("PostgreSQL: %s", qPrintable(error));
            return false;
        }
        return true;
    }

    // A --db text for a database nobody has used: a new SQLite file or a
    // new PostgreSQL database.
    QString freshDatabase(const QString &engine)
    {
        const QString name = QStringLiteral("results%1").arg(++databases);
        if (engine == QLatin1String("sqlite"))
            return folder.filePath(name + QStringLiteral(".sqlite"));
        QString error;
        if (!server.createDatabase(name, &error))
            qWarning("createdb: %s", qPrintable(error));
        return server.url(name);
    }

    // A report of `checks` numeric checks: check k measured at `base` + k,
    // limited to 0 .. 1000, failed when `failing`.
    static CheckReport report(const QString &unit, double base, bool failing, int checks = 30)
    {
        CheckReport r;
        r.toolVersion = QStringLiteral("2.3.12");
        r.model = QStringLiteral("Dogwood");
        r.edition = QStringLiteral("full");
        r.source = QStringLiteral("/dev/ttyUSB0");
        r.unit = unit;
        r.start = QDateTime(QDate(2025, 3, 1), QTime(8, 0), Qt::UTC).addSecs(qRound(base));
        r.durationS = 30;
        for (int k = 0; k < checks; ++k) {
            CheckResult c;
            c.key = QStringLiteral("check_%1").arg(k);
            c.name = QStringLiteral("Check %1").arg(k);
            c.value = base + k;
            c.unit = QStringLiteral("mm");
            c.low = 0;
            c.high = 1000;
            c.verdict = failing && k == 0 ? Verdict::Fail : Verdict::Pass;
            r.checks.append(c);
        }
        return r;
    }

    PgServer server;
    QTemporaryDir folder;
    int databases = 0;
};

inline void addEngineRows()
{
    QTest::addColumn<QString>("engine");
    QTest::newRow("sqlite") << QStringLiteral("sqlite");
    QTest::newRow("postgresql") << QStringLiteral("postgresql");
}

#endif
