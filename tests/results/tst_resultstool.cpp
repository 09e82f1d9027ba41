// vantoscope-results and vantoscope-check as a user runs them, on both
// engines: four processes importing at once lose and double nothing and
// count each unit's attempts in turn; a series of checks goes on while the
// server is stopped and every run arrives once; hostile unit ids and lots
// come out escaped in the batch report and harmless in the CSV; every wrong
// call ends with its status and one line.
#include "check/reportwriters.h"
#include "checkrun.h"
#include "results/resultsdb.h"
#include "resultsfixture.h"

#include <QDir>
#include <QProcess>
#include <QSet>
#include <QXmlStreamReader>

namespace {

ProgramRun runResults(const QStringList &arguments)
{
    return runProgram(QStringLiteral(VANTOSCOPE_RESULTS_PATH), arguments);
}

QVector<RunRecord> storedRuns(const QString &database)
{
    QString error;
    QVector<RunRecord> runs;
    ResultsDatabase db(*DatabaseTarget::parse(database, &error));
    if (!db.open(&error) || !db.runs({}, true, &runs, &error))
        qWarning("%s", qPrintable(error));
    return runs;
}

} // namespace

class TestResultsTool : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void concurrentImports_data() { addEngineRows(); }
    void concurrentImports();
    void checkSeriesOutlivesServerStop();
    void hostileTextInReports();
    void exitStatusAndMessage_data();
    void exitStatusAndMessage();

private:
    QString writeReport(const QString &folder, const CheckReport &report);
    ResultsFixture fixture;
    QString capture;
    int reports = 0;
};

void TestResultsTool::initTestCase()
{
    QVERIFY(fixture.startServer());
    capture = fixture.folder.filePath(QStringLiteral("dogwood.pcapng"));
    const ProgramRun sim =
        runSim({"--model", "Dogwood", "--static", "--output", capture, "-n", "30"});
    QVERIFY2(sim.status == 0, qPrintable(sim.err));
}

QString TestResultsTool::writeReport(const QString &folder, const CheckReport &report)
{
    QDir().mkpath(folder);
    const QString path = QDir(folder).filePath(QStringLiteral("r%1.json").arg(++reports));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(jsonReport(report)) < 0)
        return {};
    return path;
}

void TestResultsTool::concurrentImports()
{
    QFETCH(QString, engine);
    constexpr int processes = 4, runsEach = 250;
    const QString database = fixture.freshDatabase(engine);
    // Every process has one run of each unit: the four runs of a unit are
    // stored at once, and their attempts must still be 1 to 4.
    QVector<QStringList> files(processes);
    for (int p = 0; p < processes; ++p)
        for (int u = 0; u < runsEach; ++u)
            files[p] << writeReport(
                fixture.folder.filePath(QStringLiteral("%1-%2").arg(engine).arg(p)),
                ResultsFixture::report(QStringLiteral("U%1").arg(u), u * 4 + p, (u + p) % 7 == 0));
    std::vector<std::unique_ptr<QProcess>> importers;
    for (int p = 0; p < processes; ++p) {
        importers.push_back(std::make_unique<QProcess>());
        importers.back()->start(QStringLiteral(VANTOSCOPE_RESULTS_PATH),
                                QStringList{"--db", database, "import"} + files[p]);
    }
    for (auto &importer : importers) {
        QVERIFY(importer->waitForFinished(120000));
        QVERIFY2(importer->exitCode() == 0, importer->readAllStandardError().constData());
        QVERIFY(importer->readAllStandardOutput().startsWith("Imported 250 run(s)"));
    }

    const QVector<RunRecord> runs = storedRuns(database);
    QCOMPARE(runs.size(), processes * runsEach);
    QSet<QString> ids;
    QHash<QString, QSet<int>> attempts;
    for (const RunRecord &run : runs) {
        ids.insert(run.id);
        attempts[run.unit].insert(run.attempt);
        QCOMPARE(run.measurements.size(), 30);
        QCOMPARE(run.measurements[29].value, run.measurements[0].value + 29);
    }
    QCOMPARE(ids.size(), processes * runsEach);
    QCOMPARE(attempts.size(), runsEach);
    for (const QSet<int> &unit : attempts)
        QCOMPARE(unit, QSet<int>({1, 2, 3, 4}));

    const ProgramRun again = runResults(QStringList{"--db", database, "import"} + files[0]);
    QCOMPARE(again.status, 0);
    QVERIFY2(again.out.contains(", 250 already there"), qPrintable(again.out));
    QCOMPARE(storedRuns(database).size(), processes * runsEach);
}

void TestResultsTool::checkSeriesOutlivesServerStop()
{
    const QString database = fixture.freshDatabase(QStringLiteral("postgresql"));
    QString error;
    auto check = [&](int n) {
        const QString json = fixture.folder.filePath(QStringLiteral("series%1.json").arg(n));
        const ProgramRun run = runCheck({"--model", "Dogwood", "--unit", "SN-9", "--lot", "L1",
                                         "--db", database, "--json", json, capture});
        if (run.status != 0 || !QFile::exists(json))
            qWarning("check %d: %d %s", n, run.status, qPrintable(run.err));
        return run;
    };
    QCOMPARE(check(1).err, QString());
    QCOMPARE(check(2).err, QString());
    QVERIFY2(fixture.server.stop(&error), qPrintable(error));
    // Down: the verdict and the report as ever, one line about the spool.
    for (int n : {3, 4}) {
        const ProgramRun run = check(n);
        QCOMPARE(run.status, 0);
        QVERIFY(run.out.endsWith("\nPASS\n"));
        QCOMPARE(run.err.count(QLatin1Char('\n')), 1);
        QVERIFY2(run.err.contains("vantoscope-results sync"), qPrintable(run.err));
    }
    QVERIFY2(fixture.server.start(&error), qPrintable(error));
    QCOMPARE(check(5).err, QString()); // uploads 3 and 4 before itself
    QCOMPARE(storedRuns(database).size(), 5);
    QVERIFY(fixture.server.stop(&error));
    QVERIFY(!check(6).err.isEmpty());
    const ProgramRun refused = runResults({"--db", database, "sync"});
    QCOMPARE(refused.status, 3);
    QVERIFY(fixture.server.start(&error));
    const ProgramRun sync = runResults({"--db", database, "sync"});
    QCOMPARE(sync.status, 0);
    QVERIFY2(sync.out.startsWith("Uploaded 1 run(s)"), qPrintable(sync.out));
    QVERIFY(runResults({"--db", database, "sync"}).out.startsWith("Uploaded 0 run(s)"));

    const QVector<RunRecord> runs = storedRuns(database);
    QCOMPARE(runs.size(), 6);
    QSet<QString> ids;
    for (int i = 0; i < runs.size(); ++i) {
        ids.insert(runs[i].id);
        QCOMPARE(runs[i].attempt, i + 1); // in the order the unit was tested
        QCOMPARE(runs[i].lot, QStringLiteral("L1"));
        QCOMPARE(runs[i].measurements.size(), runs[0].measurements.size());
    }
    QCOMPARE(ids.size(), 6);
    // The report names the run, so importing it finds it there.
    const ProgramRun import = runResults(
        {"--db", database, "import", fixture.folder.filePath(QStringLiteral("series3.json"))});
    QVERIFY2(import.out.contains("Imported 0 run(s)") && import.out.contains("1 already there"),
             qPrintable(import.out));
}

void TestResultsTool::hostileTextInReports()
{
    const QString database = fixture.freshDatabase(QStringLiteral("sqlite"));
    const QString lot = QStringLiteral("<b>Lot \"7\"</b>; ü");
    const QStringList units = {QStringLiteral("O'Brien; DROP TABLE runs;--"),
                               QStringLiteral("=HYPERLINK(\"x\")"),
                               QStringLiteral("Größe-7 <script>")};
    QStringList files;
    for (int i = 0; i < units.size(); ++i)
        files << writeReport(fixture.folder.filePath(QStringLiteral("hostile")),
                             ResultsFixture::report(units[i], 100 + i, i == 2, 5));
    QCOMPARE(runResults(QStringList{"--db", database, "--lot", lot, "import"} + files).status, 0);

    const QString html = fixture.folder.filePath(QStringLiteral("batch.html"));
    const QString csv = fixture.folder.filePath(QStringLiteral("batch.csv"));
    const ProgramRun summary =
        runResults({"--db", database, "summary", "--lot", lot, "--html", html, "--csv", csv});
    QVERIFY2(summary.status == 0, qPrintable(summary.err));
    QVERIFY(summary.out.contains("Runs 3, units tested 3"));
    QVERIFY(summary.out.contains("First-pass yield 2 of 3 (66.7 %)"));

    QFile page(html);
    QVERIFY(page.open(QIODevice::ReadOnly));
    const QByteArray bytes = page.readAll();
    QXmlStreamReader xml(bytes);
    while (!xml.atEnd())
        xml.readNext();
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QVERIFY(!bytes.contains("<script"));
    QVERIFY(!bytes.contains("<b>Lot"));
    QVERIFY(bytes.contains("&lt;b&gt;Lot &quot;7&quot;&lt;/b&gt;; ü"));
    QVERIFY(bytes.contains("Größe-7 &lt;script&gt;"));

    QFile table(csv);
    QVERIFY(table.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(table.readAll());
    QVERIFY(text.contains(QStringLiteral(",\"'=HYPERLINK(\"\"x\"\")\",")));
    QVERIFY(text.contains(QStringLiteral(",\"<b>Lot \"\"7\"\"</b>; ü\",")));
    QCOMPARE(text.count(QStringLiteral("\r\n")), 4);
    QCOMPARE(runResults({"--db", database, "list"}).status, 0); // the table is still there
}

void TestResultsTool::exitStatusAndMessage_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    const QString gone = QStringLiteral("postgresql://x@/r?host=/nonexistent");
    QTest::newRow("no command") << "results" << QStringList{} << 2;
    QTest::newRow("unknown command") << "results" << QStringList{"frobnicate"} << 2;
    QTest::newRow("not a database") << "results" << QStringList{"--db", "mysql://x/y", "list"} << 2;
    QTest::newRow("bad verdict") << "results" << QStringList{"list", "--verdict", "maybe"} << 2;
    QTest::newRow("bad since") << "results" << QStringList{"list", "--since", "yesterday"} << 2;
    QTest::newRow("unit without id") << "results" << QStringList{"unit"} << 2;
    QTest::newRow("unreadable report")
        << "results" << QStringList{"import", "/nonexistent/r.json"} << 3;
    QTest::newRow("server gone") << "results" << QStringList{"--db", gone, "list"} << 3;
    QTest::newRow("check: db and no-db")
        << "check" << QStringList{"--db", "x.sqlite", "--no-db"} << 2;
    QTest::newRow("check: empty lot") << "check" << QStringList{"--lot", " "} << 2;
}

void TestResultsTool::exitStatusAndMessage()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    const ProgramRun run = program == QLatin1String("check")
                               ? runCheck(QStringList{"--model", "Dogwood", capture} + arguments)
                               : runResults(arguments);
    QCOMPARE(run.status, status);
    QCOMPARE(run.err.count(QLatin1Char('\n')), 1);
    QVERIFY2(run.err.startsWith(QStringLiteral("vantoscope-%1: ").arg(program)),
             qPrintable(run.err));
}

QTEST_GUILESS_MAIN(TestResultsTool)
#include "tst_resultstool.moc"
