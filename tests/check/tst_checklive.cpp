// vantoscope-check against live simulated sensors on pseudo-terminals: the
// clean static scene passes for every model of both editions, and two
// sensors are tested at once, each with its own session and reports.
#include "checkrun.h"
#include "simprocess.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

class TestCheckLive : public QObject
{
    Q_OBJECT
private slots:
    void cleanSensorOfEveryModelPasses_data();
    void cleanSensorOfEveryModelPasses();
    void twoSensorsAtOnce();
    void silentSensorIsNoData();
    void pulledCable_data();
    void pulledCable();

private:
    QTemporaryDir dir;
};

void TestCheckLive::cleanSensorOfEveryModelPasses_data()
{
    QTest::addColumn<QString>("edition");
    QTest::addColumn<QString>("model");
    for (const QString &edition : checkEditions())
        for (const QString &model : editionModels(edition))
            QTest::addRow("%s %s", qPrintable(edition), qPrintable(model)) << edition << model;
}

void TestCheckLive::cleanSensorOfEveryModelPasses()
{
    QFETCH(QString, edition);
    QFETCH(QString, model);
    SimProcess sim({"--model", model, "--static"});
    QVERIFY(sim.started());
    const QString json = dir.filePath("live.json");
    const ProgramRun run = runCheck({"--edition", edition, "--model", model, "--port", sim.port(),
                                     "--seconds", "2.5", "--json", json});
    const QJsonObject report = readJson(json);
    QVERIFY2(run.status == 0, qPrintable(run.out + run.err + failedChecks(report)));
    QCOMPARE(report["source"].toString(), sim.port());
    QVERIFY(report["live"].toBool());
    if (model == "Fir" || model == "Maple") {
        QCOMPARE(checkByKey(report, "handshake_ms")["verdict"].toString(), QString("pass"));
        // The stop command went out before the port closed.
        QVERIFY(sim.waitForOutput("stop", 5000));
    }
}

void TestCheckLive::twoSensorsAtOnce()
{
    SimProcess good({"--model", "Dogwood", "--static"});
    SimProcess noisy({"--model", "Dogwood", "--static", "--range-noise", "40", "--seed", "2"});
    QVERIFY(good.started() && noisy.started());
    const QString json = dir.filePath("pair.json"), junit = dir.filePath("pair.xml");
    const ProgramRun run =
        runCheck({"--model", "Dogwood", "--port", good.port(), "--port", noisy.port(), "--seconds",
                  "3", "--json", json, "--junit", junit});
    QCOMPARE(run.status, 1);
    auto named = [this](const QString &base, const QString &port, const QString &suffix) {
        return dir.filePath(
            QStringLiteral("%1-%2.%3").arg(base, QFileInfo(port).fileName(), suffix));
    };
    const QJsonObject first = readJson(named("pair", good.port(), "json"));
    const QJsonObject second = readJson(named("pair", noisy.port(), "json"));
    QVERIFY2(first["verdict"].toString() == "pass", qPrintable(failedChecks(first)));
    QCOMPARE(second["verdict"].toString(), QString("fail"));
    QCOMPARE(checkByKey(second, "noise_median")["verdict"].toString(), QString("fail"));
    QCOMPARE(first["source"].toString(), good.port());
    QCOMPARE(second["source"].toString(), noisy.port());
    QVERIFY(QFileInfo::exists(named("pair", good.port(), "xml")));
    QVERIFY(QFileInfo::exists(named("pair", noisy.port(), "xml")));
    QVERIFY(run.out.contains(
        QRegularExpression("\nAll 2 sensors: FAIL: \\d+ of \\d+ checks failed\n$")));
}

void TestCheckLive::silentSensorIsNoData()
{
    // Answers nothing and never starts streaming.
    SimProcess sim({"--model", "Fir", "--no-handshake"});
    QVERIFY(sim.started());
    const ProgramRun run = runCheck({"--model", "Fir", "--port", sim.port(), "--seconds", "1"});
    QCOMPARE(run.status, 3);
    QVERIFY2(run.err.contains("no data came from " + sim.port()), qPrintable(run.err));
    QCOMPARE(run.err.count('\n'), 1);
}

void TestCheckLive::pulledCable_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("option");
    QTest::addColumn<int>("stalls");
    QTest::newRow("reconnect (the default)") << "Dogwood" << QString() << 1;
    QTest::newRow("no reconnect") << "Dogwood"
                                  << "--no-reconnect" << 0;
    QTest::newRow("reconnect with a handshake") << "Fir" << QString() << 1;
}

// The adapter is pulled and a new one comes back at the same path: the run
// goes on and counts the outage as one stall, or ends where it was pulled.
void TestCheckLive::pulledCable()
{
    QFETCH(QString, model);
    QFETCH(QString, option);
    QFETCH(int, stalls);
    const QString link = dir.filePath("adapter"), json = dir.filePath("pulled.json");
    QFile::remove(link);
    SimProcess first({"--model", model, "--static", "--disconnect-after", "1.5"});
    QVERIFY(first.started());
    QVERIFY(QFile::link(first.port(), link));
    QStringList arguments{"--model", model, "--port", link, "--seconds", "5", "--json", json};
    if (!option.isEmpty())
        arguments << option;
    QProcess check;
    check.start(QStringLiteral(VANTOSCOPE_CHECK_PATH), arguments);
    QVERIFY(first.waitForOutput("disconnected", 10000));
    QVERIFY(QFile::remove(link));
    SimProcess second({"--model", model, "--static"});
    QVERIFY(second.started());
    QVERIFY(QFile::link(second.port(), link));
    QVERIFY(check.waitForFinished(30000));

    const QJsonObject report = readJson(json);
    QCOMPARE(checkByKey(report, "stalls")["value"].toDouble(), double(stalls));
    const QString notes = report["notes"].toVariant().toStringList().join('\n');
    // The stall is counted at the first scan after the line is back.
    if (stalls > 0) {
        QVERIFY2(notes.contains("reconnected 1 time"), qPrintable(notes));
        QVERIFY(report["duration_s"].toDouble() >= 5.0);
        // The handshake is timed once, from the first open.
        if (model == "Fir")
            QCOMPARE(checkByKey(report, "handshake_ms")["verdict"].toString(), QString("pass"));
    } else {
        QVERIFY2(notes.contains("The sensor was lost"), qPrintable(notes));
        QVERIFY(report["duration_s"].toDouble() < 5.0);
    }
}

QTEST_GUILESS_MAIN(TestCheckLive)
#include "tst_checklive.moc"
