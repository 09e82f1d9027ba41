// vantoscope-check on simulator captures: the clean static scene passes for
// every model of both editions, each fault knob shows in its own figure and
// fails its check, the scene's walls are found as references, and every way
// of calling it wrongly ends with its status and one line.
#include "checkrun.h"

#include <QTemporaryDir>
#include <QtTest>

class TestCheckTool : public QObject
{
    Q_OBJECT
private slots:
    void cleanCaptureOfEveryModelPasses_data();
    void cleanCaptureOfEveryModelPasses();
    void eachKnobShowsInItsFigure_data();
    void eachKnobShowsInItsFigure();
    void referenceTargetsOfTheScene();
    void rawCaptureHasNoTimingChecks();
    void exitStatusAndMessage_data();
    void exitStatusAndMessage();

private:
    QString capture(const QString &model, const QStringList &extra, int scans);
    QTemporaryDir dir;
    int files = 0;
};

QString TestCheckTool::capture(const QString &model, const QStringList &extra, int scans)
{
    const QString path = dir.filePath(QStringLiteral("capture%1.pcapng").arg(++files));
    const ProgramRun sim = runSim(
        QStringList{"--model", model, "--output", path, "-n", QString::number(scans)} + extra);
    if (sim.status != 0)
        qWarning("simulator: %s", qPrintable(sim.err));
    return sim.status == 0 ? path : QString();
}

void TestCheckTool::cleanCaptureOfEveryModelPasses_data()
{
    QTest::addColumn<QString>("edition");
    QTest::addColumn<QString>("model");
    for (const QString &edition : checkEditions()) {
        const QStringList models = editionModels(edition);
        QVERIFY(models.size() >= 8);
        for (const QString &model : models)
            QTest::addRow("%s %s", qPrintable(edition), qPrintable(model)) << edition << model;
    }
}

void TestCheckTool::cleanCaptureOfEveryModelPasses()
{
    QFETCH(QString, edition);
    QFETCH(QString, model);
    const bool frames = model == "Fir" || model == "Maple";
    const QString file = capture(model, {"--static"}, frames ? 90 : 40);
    QVERIFY(!file.isEmpty());
    const QString json = dir.filePath("clean.json");
    const ProgramRun run = runCheck({"--edition", edition, "--model", model, "--json", json, file});
    const QJsonObject report = readJson(json);
    QVERIFY2(run.status == 0, qPrintable(run.out + run.err + failedChecks(report)));
    QVERIFY(run.out.endsWith("\nPASS\n"));
    QCOMPARE(report["verdict"].toString(), QString("pass"));
    QCOMPARE(report["edition"].toString(), edition);
    QCOMPARE(report["sensor_version"].toString(), QString("v1.2.10 hw:1f"));
    // Nothing that should have been measured was skipped.
    for (const char *key : {"time_to_first_scan", "speed_mean", "scan_rate", "noise_median",
                            "coverage", "errors_per_1000"})
        QCOMPARE(checkByKey(report, key)["verdict"].toString(), QString("pass"));
}

void TestCheckTool::eachKnobShowsInItsFigure_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QStringList>("knob");
    QTest::addColumn<int>("scans");
    QTest::addColumn<QString>("key");
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::addColumn<bool>("fails");
    QTest::newRow("noise 10 mm") << "Dogwood" << QStringList{"--range-noise", "10"} << 60
                                 << "noise_median" << 8.0 << 12.0 << false;
    QTest::newRow("noise 30 mm") << "Dogwood" << QStringList{"--range-noise", "30"} << 60
                                 << "noise_median" << 25.0 << 35.0 << true;
    QTest::newRow("speed jitter 5 %") << "Dogwood" << QStringList{"--speed-jitter", "5"} << 300
                                      << "speed_cv" << 0.04 << 0.06 << true;
    QTest::newRow("frame jitter 5 %")
        << "Fir" << QStringList{"--speed-jitter", "5"} << 300 << "speed_cv" << 0.04 << 0.06 << true;
    QTest::newRow("dropout 10 %") << "Alder" << QStringList{"--dropout", "0.1"} << 40
                                  << "valid_ratio_mean" << 0.85 << 0.95 << true;
    QTest::newRow("garbage") << "Dogwood" << QStringList{"--garbage-rate", "0.05"} << 40
                             << "errors_per_1000" << 5.0 << 1000.0 << true;
}

void TestCheckTool::eachKnobShowsInItsFigure()
{
    QFETCH(QString, model);
    QFETCH(QStringList, knob);
    QFETCH(int, scans);
    QFETCH(QString, key);
    QFETCH(double, low);
    QFETCH(double, high);
    QFETCH(bool, fails);
    const QString file = capture(model, QStringList{"--static"} + knob, scans);
    QVERIFY(!file.isEmpty());
    const QString json = dir.filePath("knob.json");
    const ProgramRun run = runCheck({"--model", model, "--json", json, file});
    const QJsonObject report = readJson(json);
    const QJsonObject check = checkByKey(report, key);
    const double value = check["value"].toDouble(-1);
    QVERIFY2(value >= low && value <= high, qPrintable(QString::number(value)));
    QCOMPARE(check["verdict"].toString(), QString(fails ? "fail" : "pass"));
    QCOMPARE(run.status, fails ? 1 : 0);
    if (fails)
        QVERIFY(run.out.contains(QRegularExpression("\nFAIL: \\d+ of \\d+ checks failed\n$")));
}

void TestCheckTool::referenceTargetsOfTheScene()
{
    const QString file = capture("Alder", {"--static"}, 60);
    QVERIFY(!file.isEmpty());
    const QString json = dir.filePath("reference.json");
    // The simulator sends the room's geometry as it is, without the optics that
    // this model's correcting filter takes out again: the default checks the
    // points before the filter.
    const ProgramRun run =
        runCheck({"--model", "Alder", "--json", json, "--html", dir.filePath("reference.html"),
                  "--reference", "0:2300", "--reference", "90:3600:2", "--reference", "180:1700",
                  "--reference", "270:2400", file});
    QVERIFY2(run.status == 0, qPrintable(run.out));
    QFile html(dir.filePath("reference.html"));
    QVERIFY(html.open(QIODevice::ReadOnly));
    const QByteArray page = html.readAll();
    QCOMPARE(page.count("<img src=\"data:image/png;base64,"), 6);
    QVERIFY(page.contains("Reference 0° at 2300 mm") && !page.contains("http:") &&
            !page.contains("https:"));
    const QJsonArray checks = readJson(json)["checks"].toArray();
    QCOMPARE(checks.size() >= 12, true);
    // The last twelve checks: bias, σ and drift of each reference in turn.
    for (int r = 0; r < 4; ++r) {
        const QJsonObject bias = checks[checks.size() - 12 + 3 * r].toObject();
        const QJsonObject sigma = checks[checks.size() - 11 + 3 * r].toObject();
        QCOMPARE(bias["key"].toString(), QString("reference_bias"));
        QCOMPARE(checks[checks.size() - 10 + 3 * r].toObject()["key"].toString(),
                 QString("reference_drift"));
        QVERIFY2(std::fabs(bias["value"].toDouble(1e9)) < sigma["value"].toDouble(),
                 qPrintable(bias["name"].toString()));
        QVERIFY(sigma["value"].toDouble() > 1 && sigma["value"].toDouble() < 15);
    }
    // A wrong distance is a bias of the difference.
    const ProgramRun wrong = runCheck(
        {"--model", "Alder", "--no-filter", "--json", json, "--reference", "0:2400", file});
    QCOMPARE(readJson(json)["filter"].toBool(true), false);
    QCOMPARE(wrong.status, 1);
    const double bias = checkByKey(readJson(json), "reference_bias")["value"].toDouble();
    QVERIFY2(bias < -95 && bias > -105, qPrintable(QString::number(bias)));
}

void TestCheckTool::rawCaptureHasNoTimingChecks()
{
    const QString file = dir.filePath("raw.bin");
    QCOMPARE(runSim({"--model", "Alder", "--static", "--output", file, "-n", "30"}).status, 0);
    const QString json = dir.filePath("raw.json");
    const ProgramRun run = runCheck({"--model", "Alder", "--json", json, file});
    QVERIFY2(run.status == 0, qPrintable(run.out));
    const QJsonObject report = readJson(json);
    for (const char *key : {"time_to_first_scan", "scan_rate", "stalls"}) {
        QCOMPARE(checkByKey(report, key)["verdict"].toString(), QString("skipped"));
        QVERIFY(checkByKey(report, key)["value"].isNull());
    }
    QCOMPARE(checkByKey(report, "noise_median")["verdict"].toString(), QString("pass"));
}

void TestCheckTool::exitStatusAndMessage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QFile profile(dir.filePath("bad-profile.json"));
    QVERIFY(profile.open(QIODevice::WriteOnly));
    profile.write("{\n  \"coverage\": {\"low\": 0.9},\n  \"coverge\": {\"low\": 0.8}\n}\n");
    profile.close();
    QFile text(dir.filePath("notes.txt"));
    QVERIFY(text.open(QIODevice::WriteOnly) && text.write("not a capture\n") > 0);
    text.close();
    QFile empty(dir.filePath("empty.bin"));
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    const QString capture = dir.filePath("any.pcapng");

    QTest::newRow("no model") << QStringList{capture} << 2 << "--model is required";
    QTest::newRow("unknown model") << QStringList{"--model", "Oak", capture} << 2 << "Oak";
    QTest::newRow("nothing to test") << QStringList{"--model", "Alder"} << 2 << "either";
    QTest::newRow("port and capture")
        << QStringList{"--model", "Alder", "--port", "/dev/null", capture} << 2 << "either";
    QTest::newRow("seconds on a capture")
        << QStringList{"--model", "Alder", "--seconds", "5", capture} << 2 << "--seconds";
    QTest::newRow("bad reference")
        << QStringList{"--model", "Alder", "--reference", "90", capture} << 2 << "--reference";
    QTest::newRow("bad edition") << QStringList{"--model", "Alder", "--edition", "x", capture} << 2
                                 << "--edition";
    QTest::newRow("profile key") << QStringList{"--model", "Alder", "--profile", profile.fileName(),
                                                capture}
                                 << 2 << "line 3: unknown key \"coverge\"";
    QTest::newRow("unit with a path")
        << QStringList{"--model", "Alder", "--unit", "../SN1", capture} << 2 << "--unit";
    QTest::newRow("unit with a control character")
        << QStringList{"--model", "Alder", "--unit", "SN1\t", capture} << 2 << "--unit";
    QTest::newRow("unit too long")
        << QStringList{"--model", "Alder", "--unit", QString(65, QLatin1Char('A')), capture} << 2
        << "--unit";
    QTest::newRow("units and sensors")
        << QStringList{"--model", "Alder", "--unit", "A1", "--unit", "A2", capture} << 2
        << "one --unit per sensor";
    QTest::newRow("filter both ways")
        << QStringList{"--model", "Alder", "--filter", "--no-filter", capture} << 2 << "--filter";
    QTest::newRow("missing capture")
        << QStringList{"--model", "Alder", dir.filePath("none.pcapng")} << 3 << "cannot read";
    QTest::newRow("not a capture")
        << QStringList{"--model", "Alder", text.fileName()} << 3 << "is not a capture";
    QTest::newRow("empty file") << QStringList{"--model", "Alder", empty.fileName()} << 3
                                << "no data";
    QTest::newRow("missing port") << QStringList{"--model",   "Alder",
                                                 "--port",    dir.filePath("ttyNone"),
                                                 "--seconds", "1"}
                                  << 3 << "cannot open";
}

void TestCheckTool::exitStatusAndMessage()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, message);
    const ProgramRun run = runCheck(arguments);
    QCOMPARE(run.status, status);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QCOMPARE(run.err.count('\n'), 1);
}

QTEST_GUILESS_MAIN(TestCheckTool)
#include "tst_checktool.moc"
