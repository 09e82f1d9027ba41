// The results database on both engines, for real: SQLite files and a
// throwaway PostgreSQL server. Runs with hostile unit ids and lots go in
// through bound parameters and come back as they were; attempts count per
// unit; a run is stored once; a database of the first schema opens in the
// current one; a batch read as numbers summarises as the full read does;
// the window's client stores and reads without blocking, and spools when
// the server is out of reach.
#include "results/resultsclient.h"
#include "results/resultsdb.h"
#include "resultsfixture.h"

#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>

namespace {

const QString hostileUnit = QStringLiteral("O'Brien\"; DROP TABLE runs;--");
const QString hostileLot = QStringLiteral("Lot '7'; ü <b>&amp;");

DatabaseTarget targetOf(const QString &text)
{
    QString error;
    const std::optional<DatabaseTarget> target = DatabaseTarget::parse(text, &error);
    if (!target)
        qWarning("%s", qPrintable(error));
    return target.value_or(DatabaseTarget{});
}

StoredMeasurement measured(const char *key, const char *name, double value, const char *verdict,
                           double high = 40, const char *text = nullptr)
{
    StoredMeasurement m;
    m.key = QLatin1String(key);
    m.name = QLatin1String(name);
    m.value = value;
    m.text = text ? QLatin1String(text) : QString();
    m.unit = QStringLiteral("mm");
    m.low = 0;
    m.high = high;
    m.verdict = QLatin1String(verdict);
    return m;
}

// Every figure of a summary and what it shows of its runs, to the last bit.
QStringList described(const QVector<RunRecord> &runs, const Batch::Summary &s)
{
    QStringList lines;
    auto line = [&](const auto &...items) {
        QString text;
        QTextStream out(&text);
        out.setRealNumberPrecision(17);
        ((out << items << '|'), ...);
        out.flush();
        lines << text;
    };
    for (const RunRecord &r : runs)
        line(r.id, r.unit, r.attempt, r.lot, r.station, r.model,
             r.start.toString(Qt::ISODateWithMs), r.verdict);
    const Batch::Yield &y = s.yield;
    line(y.runs, y.units, y.firstPass, y.finalPass, y.retested, s.failures);
    for (const Batch::CheckSeries &c : s.checks) {
        const Batch::Capability &k = c.capability;
        line(c.key, c.name, c.unit, c.low.has_value(), c.low.value_or(0), c.high.value_or(0),
             c.failures, k.n, k.mean, k.sigma, k.min, k.max, k.sigmaWithin, k.ppk, k.cpk);
        for (int i = 0; i < c.values.size(); ++i)
            line(c.values[i], c.runs[i], c.flags[i]);
    }
    for (const Batch::ParetoEntry &e : s.pareto)
        line(e.key, e.name, e.failures, e.share, e.cumulative);
    return lines;
}

} // namespace

class TestResultsDb : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void targetsParse_data();
    void targetsParse();
    void storesOnceAndSelects_data() { addEngineRows(); }
    void storesOnceAndSelects();
    void firstSchemaOpensInTheCurrent_data() { addEngineRows(); }
    void firstSchemaOpensInTheCurrent();
    void batchSummarisesAsTheFullRead_data();
    void batchSummarisesAsTheFullRead();
    void clientStoresAndReads();
    void clientSpoolsWhenServerIsGone();

private:
    ResultsFixture fixture;
};

void TestResultsDb::initTestCase()
{
    QVERIFY(fixture.startServer());
}

void TestResultsDb::targetsParse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("display");
    QTest::newRow("file") << "/tmp/r.sqlite" << true << "/tmp/r.sqlite";
    QTest::newRow("sqlite:") << "sqlite:/tmp/r.sqlite" << true << "/tmp/r.sqlite";
    QTest::newRow("server") << "postgresql://line@db.example:6543/results" << true
                            << "postgresql://line@db.example:6543/results";
    QTest::newRow("password hidden")
        << "postgresql://line:secret@db/results" << true << "postgresql://line@db/results";
    QTest::newRow("socket") << "postgresql://line@/results?host=/run/postgresql" << true
                            << "postgresql://line@/results?host=/run/postgresql";
    QTest::newRow("no database") << "postgresql://line@db/" << false << "";
    QTest::newRow("unknown option") << "postgresql://line@db/r?sslmode=off" << false << "";
    QTest::newRow("other scheme") << "mysql://line@db/r" << false << "";
}

void TestResultsDb::targetsParse()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(QString, display);
    QString error;
    const std::optional<DatabaseTarget> target = DatabaseTarget::parse(text, &error);
    QCOMPARE(target.has_value(), valid);
    if (valid)
        QCOMPARE(target->display(), display);
    else
        QVERIFY(!error.isEmpty());
}

void TestResultsDb::storesOnceAndSelects()
{
    QFETCH(QString, engine);
    ResultsDatabase db(targetOf(fixture.freshDatabase(engine)));
    QString error;
    QVERIFY2(db.open(&error), qPrintable(error));
    QCOMPARE(db.schemaVersion(), ResultsDatabase::currentSchemaVersion());

    CheckReport first = ResultsFixture::report(hostileUnit, 10, true, 3);
    first.checks[1].text = QStringLiteral("v1.2.10 hw:1f");
    first.checks[2].value = std::nan("");
    first.checks[2].verdict = Verdict::Skipped;
    first.checks[2].low.reset();
    RunContext context;
    context.lot = hostileLot;
    context.operatorName = QStringLiteral("Zoë");
    RunRecord a = RunRecord::fromReport(first, context);
    RunRecord b = RunRecord::fromReport(ResultsFixture::report(hostileUnit, 20, false, 3), context);
    RunRecord c = RunRecord::fromReport(ResultsFixture::report(QString(), 30, false, 3), {});
    bool inserted = false;
    for (RunRecord *run : {&a, &b, &c}) {
        QVERIFY2(db.store(*run, &error, &inserted), qPrintable(error));
        QVERIFY(inserted);
    }
    QCOMPARE(a.attempt, 1);
    QCOMPARE(b.attempt, 2);
    QCOMPARE(c.attempt, 1); // no unit: a unit of its own
    RunRecord again = a;
    again.attempt = 0;
    QVERIFY(db.store(again, &error, &inserted));
    QVERIFY(!inserted);

    auto select = [&](const RunFilter &filter) {
        QVector<RunRecord> runs;
        if (!db.runs(filter, true, &runs, &error))
            qWarning("%s", qPrintable(error));
        QStringList ids;
        for (const RunRecord &r : runs)
            ids << r.id;
        return ids;
    };
    QCOMPARE(select({}), QStringList({a.id, b.id, c.id}));
    QCOMPARE(select({hostileLot, {}, {}, {}}), QStringList({a.id, b.id}));
    QCOMPARE(select({{}, hostileUnit, {}, {}}), QStringList({a.id, b.id}));
    QCOMPARE(select({{}, {}, {}, QStringLiteral("fail")}), QStringList({a.id}));
    QCOMPARE(select({{}, {}, b.start, {}}), QStringList({b.id, c.id}));
    QCOMPARE(select({QStringLiteral("Lot '7'"), {}, {}, {}}), QStringList());

    QVector<RunRecord> runs;
    QVERIFY(db.runs({{}, hostileUnit, {}, {}}, true, &runs, &error));
    const RunRecord &back = runs[0];
    QCOMPARE(back.unit, hostileUnit);
    QCOMPARE(back.lot, hostileLot);
    QCOMPARE(back.operatorName, QStringLiteral("Zoë"));
    QCOMPARE(back.start, first.start);
    QCOMPARE(back.verdict, QStringLiteral("fail"));
    QCOMPARE(back.measurements.size(), 3);
    QCOMPARE(back.measurements[0].value, 10.0);
    QCOMPARE(back.measurements[0].high, std::optional<double>(1000));
    QCOMPARE(back.measurements[0].verdict, QStringLiteral("fail"));
    QCOMPARE(back.measurements[1].text, QStringLiteral("v1.2.10 hw:1f"));
    QVERIFY(std::isnan(back.measurements[2].value));
    QVERIFY(!back.measurements[2].low);
    QCOMPARE(back.measurements[2].verdict, QStringLiteral("skipped"));
}

void TestResultsDb::firstSchemaOpensInTheCurrent()
{
    QFETCH(QString, engine);
    const DatabaseTarget target = targetOf(fixture.freshDatabase(engine));
    {
        // A database as the first schema made it, with one run.
        QSqlDatabase raw = QSqlDatabase::addDatabase(target.shared() ? QStringLiteral("QPSQL")
                                                                     : QStringLiteral("QSQLITE"),
                                                     QStringLiteral("first"));
        raw.setDatabaseName(target.shared() ? target.database : target.file);
        raw.setHostName(target.host);
        raw.setUserName(target.user);
        QVERIFY2(raw.open(), qPrintable(raw.lastError().text()));
        const QStringList schema = {
            "CREATE TABLE units (id TEXT PRIMARY KEY, first_seen TEXT NOT NULL)",
            "CREATE TABLE runs (id TEXT PRIMARY KEY, unit TEXT REFERENCES units(id), attempt "
            "INTEGER NOT NULL, lot TEXT NOT NULL, station TEXT NOT NULL, operator_name TEXT NOT "
            "NULL, model TEXT NOT NULL, edition TEXT NOT NULL, source TEXT NOT NULL, "
            "sensor_version TEXT NOT NULL, tool_version TEXT NOT NULL, started_at TEXT NOT NULL, "
            "duration_s DOUBLE PRECISION, filtered INTEGER NOT NULL, verdict TEXT NOT NULL, "
            "json_path TEXT NOT NULL, html_path TEXT NOT NULL, junit_path TEXT NOT NULL, "
            "capture_path TEXT NOT NULL, stored_at TEXT NOT NULL)",
            "CREATE INDEX runs_unit ON runs (unit, attempt)",
            "CREATE INDEX runs_started ON runs (started_at)",
            "CREATE TABLE measurements (run_id TEXT NOT NULL REFERENCES runs(id) ON DELETE "
            "CASCADE, seq INTEGER NOT NULL, check_key TEXT NOT NULL, name TEXT NOT NULL, value "
            "DOUBLE PRECISION, unit TEXT NOT NULL, low DOUBLE PRECISION, high DOUBLE PRECISION, "
            "verdict TEXT NOT NULL, PRIMARY KEY (run_id, seq))",
            "CREATE INDEX measurements_key ON measurements (check_key, verdict)",
            "CREATE TABLE schema_version (version INTEGER NOT NULL)",
            "INSERT INTO schema_version VALUES (1)",
            "INSERT INTO units VALUES ('SN-1', '2024-01-02T03:04:05.000Z')",
            "INSERT INTO runs VALUES ('0b7e3a4c-0000-4000-8000-000000000001', 'SN-1', 1, '3', "
            "'bench', '', 'Alder', 'full', 'a.pcapng', 'v1', '2.3.0', '2024-01-02T03:04:05.000Z', "
            "12.5, 0, 'pass', '', '', '', '', '2024-01-02T03:04:40.000Z')",
            "INSERT INTO measurements VALUES ('0b7e3a4c-0000-4000-8000-000000000001', 0, "
            "'speed_mean', 'Rotation speed, mean', 6.01, 'Hz', 5.4, 6.6, 'pass')",
        };
        QSqlQuery query(raw);
        for (const QString &statement : schema)
            QVERIFY2(query.exec(statement), qPrintable(statement + query.lastError().text()));
        query.finish();
        raw.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("first"));

    ResultsDatabase db(target);
    QString error;
    QVERIFY2(db.open(&error), qPrintable(error));
    QCOMPARE(db.schemaVersion(), 2);
    CheckReport report = ResultsFixture::report(QStringLiteral("SN-1"), 5, false, 2);
    report.checks[1].text = QStringLiteral("v1.3");
    RunRecord retest = RunRecord::fromReport(report, {});
    QVERIFY2(db.store(retest, &error), qPrintable(error));
    QCOMPARE(retest.attempt, 2);
    QVector<RunRecord> runs;
    QVERIFY(db.runs({{}, QStringLiteral("SN-1"), {}, {}}, true, &runs, &error));
    QCOMPARE(runs.size(), 2);
    QCOMPARE(runs[0].model, QStringLiteral("Alder"));
    QCOMPARE(runs[0].measurements[0].value, 6.01);
    QVERIFY(runs[0].measurements[0].text.isNull());
    QCOMPARE(runs[1].measurements[1].text, QStringLiteral("v1.3"));
}

void TestResultsDb::batchSummarisesAsTheFullRead_data()
{
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("lot");
    for (const char *engine : {"sqlite", "postgresql"}) {
        QTest::addRow("%s, all runs", engine) << engine << QString();
        QTest::addRow("%s, one lot", engine) << engine << QStringLiteral("L2");
    }
}

void TestResultsDb::batchSummarisesAsTheFullRead()
{
    QFETCH(QString, engine);
    QFETCH(QString, lot);
    ResultsDatabase db(targetOf(fixture.freshDatabase(engine)));
    QString error;
    QVERIFY2(db.open(&error), qPrintable(error));
    // Stored out of start order, so that the table's order is not the
    // batch's: a key twice in a run, text checks, skipped and unmeasured
    // checks, a check renamed and limited anew, a run without checks, and a
    // step the Western Electric rules flag.
    const double none = std::nan("");
    QVector<QVector<StoredMeasurement>> checks = {
        {measured("noise", "Noise", 10, "pass"), measured("bias", "Bias", 1, "pass"),
         measured("bias", "Bias", 3, "pass"),
         measured("version", "Version", none, "pass", 40, "v1"),
         measured("speed", "Speed", none, "fail")},
        {measured("noise", "Noise", 12, "pass"), measured("bias", "Bias", 2, "pass"),
         measured("bias", "Bias", 4, "pass"), measured("drift", "Drift", none, "skipped")},
        {measured("noise", "Range noise", 50, "fail", 45), measured("bias", "Bias", 2, "pass"),
         measured("bias", "Bias", 5, "fail"), measured("speed", "Rotation speed", 6, "fail")},
        {},
        {measured("version", "Version", none, "fail", 40, "v0.9"),
         measured("bias", "Bias", 1.5, "pass"), measured("noise", "Noise", 11, "pass")},
    };
    const QVector<int> minutes = {5, 1, 9, 7, 3};
    const QStringList units = {"U1", "U2", "U1", "", "U3"};
    for (int i = 0; i < 18; ++i)
        checks.append(
            {measured("noise", "Range noise", (i < 8 ? 14 : 24) + i % 3 * 0.1, "pass", 45)});
    for (int i = 0; i < checks.size(); ++i) {
        RunRecord run;
        run.id = newRunId();
        run.unit = units.value(i, QStringLiteral("U%1").arg(i));
        run.lot = i < 2 ? QStringLiteral("L1") : QStringLiteral("L2");
        run.station = QStringLiteral("bench-%1").arg(i % 2);
        run.model = QStringLiteral("Dogwood");
        run.start = QDateTime(QDate(2025, 3, 1), QTime(8, minutes.value(i, 15 + i)), Qt::UTC);
        run.measurements = checks[i];
        run.verdict = run.failures() ? QStringLiteral("fail") : QStringLiteral("pass");
        QVERIFY2(db.store(run, &error), qPrintable(error));
    }

    const RunFilter filter{lot, {}, {}, {}};
    QVector<RunRecord> full, batch;
    Batch::Summary summary;
    QVERIFY2(db.runs(filter, true, &full, &error), qPrintable(error));
    QVERIFY2(db.batch(filter, &batch, &summary, &error), qPrintable(error));
    const QStringList expected = described(full, Batch::summarise(full));
    QCOMPARE(described(batch, summary), expected);
    // What the comparison went through.
    const QString all = expected.join(QLatin1Char('\n'));
    for (const char *series :
         {"\nbias#2|Bias|", "\nnoise|Range noise|mm|1|0|45|", "\nversion|Version|1|"})
        QVERIFY2(all.contains(QLatin1String(series)), series);
    QVERIFY(std::any_of(expected.begin(), expected.end(), [](const QString &value) {
        return value.count(QLatin1Char('|')) == 3 &&
               value.section(QLatin1Char('|'), 2, 2).toInt() & Batch::EightOnOneSide;
    }));
}

void TestResultsDb::clientStoresAndReads()
{
    ResultsClient client(fixture.freshDatabase(QStringLiteral("sqlite")));
    QSignalSpy stored(&client, &ResultsClient::stored);
    QSignalSpy ready(&client, &ResultsClient::runsReady);
    RunContext context;
    context.lot = QStringLiteral("7");
    const QString id = client.store(ResultsFixture::report("SN-5", 1, false), context);
    const QString retest = client.store(ResultsFixture::report("SN-5", 2, false), context);
    QTRY_COMPARE_WITH_TIMEOUT(stored.size(), 2, 20000);
    QCOMPARE(stored[0][0].toString(), id);
    QCOMPARE(stored[1][0].toString(), retest);
    QCOMPARE(stored[1][1].toInt(), 2); // the attempt
    QCOMPARE(stored[1][3].toString(), QString());
    const int request = client.queryRuns({QStringLiteral("7"), {}, {}, {}});
    QVERIFY(ready.wait(20000));
    QCOMPARE(ready[0][0].toInt(), request);
    QCOMPARE(client.runs().size(), 2);
    QCOMPARE(client.runs()[1].id, retest);
}

void TestResultsDb::clientSpoolsWhenServerIsGone()
{
    const QString gone = QStringLiteral("postgresql://vantoscope@/results?host=%1")
                             .arg(fixture.folder.filePath(QStringLiteral("no-server-here")));
    ResultsClient client(gone);
    QSignalSpy stored(&client, &ResultsClient::stored);
    QSignalSpy ready(&client, &ResultsClient::runsReady);
    client.store(ResultsFixture::report("SN-6", 1, false), {});
    client.queryRuns({});
    QTRY_COMPARE_WITH_TIMEOUT(stored.size(), 1, 20000);
    QCOMPARE(stored[0][2].toBool(), true); // spooled
    QVERIFY(stored[0][3].toString().contains(QStringLiteral("vantoscope-results sync")));
    QTRY_COMPARE_WITH_TIMEOUT(ready.size(), 1, 20000);
    QVERIFY(!ready[0][1].toString().isEmpty());
    const DatabaseTarget target = targetOf(gone);
    ResultsDatabase spool(targetOf(spoolFile(target)));
    QString error;
    QVector<RunRecord> waiting;
    QVERIFY(spool.open(&error) && spool.runs({}, true, &waiting, &error));
    QCOMPARE(waiting.size(), 1);
    QCOMPARE(waiting[0].attempt, 0); // counted when it reaches the server
    QCOMPARE(waiting[0].measurements.size(), 30);
}

QTEST_GUILESS_MAIN(TestResultsDb)
#include "tst_resultsdb.moc"
