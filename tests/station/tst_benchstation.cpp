// The bench station in the real window against the simulator on a
// pseudo-terminal: a unit typed with Enter gets a verdict, reports and a
// capture that checks to the same figures; retests, Cancel, a pulled cable
// and the live health's colours.
#include "app/mainwindow.h"
#include "checkrun.h"
#include "editions/edition.h"
#include "history/historydialog.h"
#include "modalcatcher.h"
#include "results/resultsdb.h"
#include "simprocess.h"
#include "station/benchstation.h"
#include "station/verdictbanner.h"
#include "view/limapview.h"

#include <QAction>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

namespace {

// The sensor's adapter: a fixed path in the window's port list that points
// at the simulator's pseudo-terminal of the moment.
class Adapter
{
public:
    explicit Adapter(const QString &link) : link(link) {}
    ~Adapter() { QFile::remove(link); }

    bool plug(const QStringList &arguments)
    {
        QFile::remove(link);
        sim = std::make_unique<SimProcess>(arguments);
        return sim->started() && QFile::link(sim->port(), link);
    }
    void pull()
    {
        QFile::remove(link);
        sim.reset();
    }
    SimProcess &process() { return *sim; }

private:
    QString link;
    std::unique_ptr<SimProcess> sim;
};

// What the tool makes of a capture with the same limits and filter.
QJsonObject checkedByTool(const QString &model, const QString &capture, const QString &profile,
                          bool filter, const QString &json)
{
    QStringList arguments{
        "--edition", QString::fromLatin1(Edition::name), "--model", model, "--json", json, capture};
    if (!profile.isEmpty())
        arguments << "--profile" << profile;
    if (filter)
        arguments << "--filter";
    runCheck(arguments);
    return readJson(json);
}

// Every check both reports hold, value, limits and verdict alike. The live
// report alone times the handshake.
QString differences(const QJsonObject &live, const QJsonObject &tool)
{
    QStringList out;
    QJsonArray toolChecks = tool["checks"].toArray();
    int compared = 0;
    for (const QJsonValue &v : live["checks"].toArray()) {
        const QJsonObject c = v.toObject();
        const QString key = c["key"].toString();
        if (key == "handshake_ms")
            continue;
        // The first of the tool's checks with the key, each taken once.
        QJsonObject other;
        for (int i = 0; i < toolChecks.size() && other.isEmpty(); ++i)
            if (toolChecks[i].toObject()["key"] == c["key"])
                other = toolChecks.takeAt(i).toObject();
        ++compared;
        for (const char *field : {"value", "unit", "low", "high", "verdict"})
            if (c[field] != other[field])
                out << QString("%1.%2: %3 against %4")
                           .arg(key, field, c[field].toVariant().toString(),
                                other[field].toVariant().toString());
    }
    if (compared < 20)
        out << QString("only %1 checks compared").arg(compared);
    return out.join("; ");
}

QStringList reportFiles(const QString &folder, const QString &unit)
{
    return QDir(folder).entryList({unit + "-*"}, QDir::Files, QDir::Name);
}

// Takes the files the window asks the desktop to open.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QStringList paths;
public slots:
    void open(const QUrl &url) { paths.append(url.toLocalFile()); }
};

} // namespace

class TestBenchStation : public QObject
{
    Q_OBJECT

    QTemporaryDir workDir;
    QString link;
    QString reports;

    struct Window
    {
        Window()
        {
            station = w.benchStation();
            unit = w.findChild<QLineEdit *>("unitEdit");
            banner = w.findChild<VerdictBanner *>("verdictBanner");
            map = w.findChild<LiMapView *>("mapView");
            session = w.findChild<SensorSession *>("session");
            w.resize(1280, 800);
            w.show();
            w.showBenchPanel(true);
            station->setDuration(2.5);
        }
        bool choose(const QString &model, const QString &port)
        {
            auto *portBox = w.findChild<QComboBox *>("portBox");
            QElapsedTimer waited;
            waited.start();
            while (portBox->findText(port) < 0 && waited.elapsed() < 5000)
                QTest::qWait(20);
            portBox->setCurrentText(port);
            return w.chooseModel(model) && portBox->currentText() == port;
        }
        // Types the unit as a barcode scanner does: its text, then Enter.
        void scan(const QString &text)
        {
            unit->selectAll();
            QTest::keyClicks(unit, text);
            QTest::keyClick(unit, Qt::Key_Return);
        }
        ModalCatcher catcher;
        MainWindow w;
        BenchStation *station;
        QLineEdit *unit;
        VerdictBanner *banner;
        LiMapView *map;
        SensorSession *session;
    };

private slots:
    void initTestCase()
    {
        QVERIFY(workDir.isValid());
        QDir::setCurrent(workDir.path());
        QVERIFY(QDir().mkdir("dev"));
        link = workDir.filePath("dev/sensor");
        reports = workDir.filePath("reports");
        qputenv("VANTOSCOPE_EXTRA_PORTS", link.toLocal8Bit());
        // The results history counts attempts across runs: each run of this
        // test starts with an empty one (the tools it starts inherit it).
        qputenv("XDG_DATA_HOME", workDir.filePath("data").toLocal8Bit());
        qRegisterMetaType<StationRun>();
    }

    void unitGetsVerdictAndEvidence_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<double>("straightAhead"); // mm to the wall in front
        QTest::newRow("streaming") << "Dogwood"
                                   << "SN-D001" << 2300.0;
        QTest::newRow("command protocol") << "Fir"
                                          << "SN-F001" << 437.0;
    }

    // Unit and Enter: the verdict over the map, the three reports and the
    // capture named after the unit, figures the tool finds again in the
    // capture, a retest as attempt 2, and the capture checked in the window.
    void unitGetsVerdictAndEvidence()
    {
        QFETCH(QString, model);
        QFETCH(QString, unit);
        QFETCH(double, straightAhead);
        Adapter adapter(link);
        QVERIFY(adapter.plug({"--model", model, "--static", "--seed", "3"}));
        const QString profile = workDir.filePath(model + "-profile.json");
        {
            QFile file(profile);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QString(R"({"references": [{"angle": 0, "distance": %1, "halfwidth": 1}]})")
                           .arg(straightAhead)
                           .toUtf8());
        }
        Window win;
        QVERIFY(win.choose(model, link));
        QVERIFY(win.station->setProfileFile(profile));
        QSignalSpy completed(win.station, &BenchStation::runCompleted);
        QVERIFY(!win.session->isOpen());
        win.scan(unit);
        QCOMPARE(win.station->phase(), BenchStation::Phase::Running);
        QVERIFY(win.session->isOpen() || win.session->isOpening());
        QVERIFY(completed.wait(20000));
        QVERIFY2(win.catcher.boxes.isEmpty(), qPrintable(win.catcher.boxes.value(0).text));

        const StationRun run = completed[0][0].value<StationRun>();
        QCOMPARE(run.attempt, 1);
        // A clean sensor; a machine too busy to read the line in time may
        // still fail it on timing, which the banner then says.
        if (!run.passed())
            qWarning("%s failed: %s", qPrintable(unit),
                     qPrintable(failedChecks(readJson(run.jsonPath))));
        QVERIFY(win.banner->isVisible());
        QCOMPARE(win.banner->passed(), run.passed());
        QVERIFY(win.banner->height() >= win.map->height() / 4);
        QCOMPARE(win.banner->lines().value(0), unit + " · attempt 1");
        // The line is left closed, as it was found.
        QVERIFY(!win.session->isOpen());
        const QStringList files = reportFiles(reports, unit);
        QCOMPARE(files.size(), 4);
        for (const QString &path : {run.jsonPath, run.junitPath, run.htmlPath, run.capturePath})
            QVERIFY2(files.contains(QFileInfo(path).fileName()), qPrintable(path));
        QVERIFY(QFileInfo(run.capturePath).fileName().startsWith(unit + "-"));

        const QJsonObject live = readJson(run.jsonPath);
        QCOMPARE(live["unit"].toString(), unit);
        QCOMPARE(live["source"].toString(), link);
        QCOMPARE(checkByKey(live, "reference_bias")["verdict"].toString(), QString("pass"));
        const bool filter = win.session->filterEnabled();
        const QJsonObject tool =
            checkedByTool(model, run.capturePath, profile, filter, workDir.filePath("tool.json"));
        QCOMPARE(tool["filter"].toBool(), filter);
        const QString diff = differences(live, tool);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));

        // The same unit again is its second attempt, in files of its own.
        win.scan(unit);
        QVERIFY(completed.wait(20000));
        const StationRun retest = completed[1][0].value<StationRun>();
        QCOMPARE(retest.attempt, 2);
        QCOMPARE(readJson(retest.jsonPath)["unit"].toString(), unit);
        QCOMPARE(reportFiles(reports, unit).size(), 8);
        auto *today = win.w.findChild<QTreeWidget *>("todayList");
        QCOMPARE(today->topLevelItemCount(), 2);
        QCOMPARE(today->topLevelItem(0)->text(1), QString("2"));
        // The unit counts once, by its latest verdict.
        QCOMPARE(win.w.findChild<QLabel *>("summaryLabel")->text(),
                 QString("Tested 1 · Passed %1 · Failed %2 · First-pass yield %3 %")
                     .arg(retest.passed() ? 1 : 0)
                     .arg(retest.passed() ? 0 : 1)
                     .arg(run.passed() ? 100 : 0));
        // Double-clicking a unit opens its page.
        UrlCatcher opened;
        QDesktopServices::setUrlHandler("file", &opened, "open");
        emit today->itemDoubleClicked(today->topLevelItem(1), 0);
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(opened.paths, QStringList{run.htmlPath});
        adapter.pull();

        // The first run's capture, opened and checked in the window: the
        // tool's verdict on it, every figure.
        win.w.openCapture(run.capturePath);
        QVERIFY(win.w.replaying());
        win.scan(unit + "-R");
        QCOMPARE(win.station->phase(), BenchStation::Phase::CheckingCapture);
        QVERIFY(completed.wait(20000));
        const StationRun replayed = completed[2][0].value<StationRun>();
        const QJsonObject again = readJson(replayed.jsonPath);
        QCOMPARE(again["live"].toBool(), false);
        const QString replayDiff = differences(again, tool);
        QVERIFY2(replayDiff.isEmpty(), qPrintable(replayDiff));
        QVERIFY(QFileInfo::exists(replayed.capturePath));
        win.w.stop();
    }

    // A noisy sensor fails, and the banner names the noise check.
    void noisySensorFails()
    {
        Adapter adapter(link);
        QVERIFY(adapter.plug({"--model", "Dogwood", "--static", "--range-noise", "30"}));
        Window win;
        QVERIFY(win.choose("Dogwood", link));
        QSignalSpy completed(win.station, &BenchStation::runCompleted);
        win.scan("SN-NOISY");
        QVERIFY(completed.wait(20000));
        const StationRun run = completed[0][0].value<StationRun>();
        QVERIFY(!run.passed());
        QVERIFY(win.banner->isVisible());
        QVERIFY(!win.banner->passed());
        const QString shown = win.banner->lines().join('\n');
        QVERIFY2(shown.contains("Range noise σ, median of bins\t"), qPrintable(shown));
        QCOMPARE(checkByKey(readJson(run.jsonPath), "noise_median")["verdict"].toString(),
                 QString("fail"));
        QCOMPARE(checkByKey(readJson(run.jsonPath), run.worstKey)["verdict"].toString(),
                 QString("fail"));
        // The next unit entered takes the verdict away.
        QTest::keyClicks(win.unit, "S");
        QVERIFY(!win.banner->isVisible());
    }

    // Each run goes into the results history named by Results/Database,
    // which counts the attempt: a unit with a run already kept (from another
    // station, or an earlier day) is on its second attempt here, in the list
    // too. The History dialog lists both runs and replays a run's capture.
    void historyKeepsRunsAndCountsAttempts()
    {
        const QString file = workDir.filePath("history.sqlite");
        std::optional<DatabaseTarget> target = DatabaseTarget::parse(file, nullptr);
        QVERIFY(target);
        {
            ResultsDatabase db(*target);
            QString error;
            QVERIFY2(db.open(&error), qPrintable(error));
            CheckReport earlier;
            earlier.model = "Dogwood";
            earlier.start = QDateTime::currentDateTimeUtc().addDays(-1);
            RunContext context;
            context.unit = "SN-HIST";
            RunRecord seed = RunRecord::fromReport(earlier, context);
            seed.verdict = "fail";
            QVERIFY2(db.store(seed, &error), qPrintable(error));
            QCOMPARE(seed.attempt, 1);
        }
        QSettings("Vantoscope.ini", QSettings::IniFormat).setValue("Results/Database", file);
        Adapter adapter(link);
        QVERIFY(adapter.plug({"--model", "Dogwood", "--static"}));
        Window win;
        QVERIFY(win.choose("Dogwood", link));
        QSignalSpy completed(win.station, &BenchStation::runCompleted);
        win.scan("SN-HIST");
        QVERIFY(completed.wait(20000));
        auto *today = win.w.findChild<QTreeWidget *>("todayList");
        QTRY_COMPARE_WITH_TIMEOUT(today->topLevelItem(0)->text(1), QString("2"), 5000);
        QCOMPARE(win.station->today().value(0).attempt, 2);
        // Not a first pass, whatever its verdict.
        QVERIFY(win.w.findChild<QLabel *>("summaryLabel")->text().endsWith("yield 0 %"));

        const StationRun run = completed[0][0].value<StationRun>();
        {
            ResultsDatabase db(*target);
            QString error;
            QVERIFY2(db.open(&error), qPrintable(error));
            QVector<RunRecord> kept;
            RunFilter filter;
            filter.unit = "SN-HIST";
            QVERIFY2(db.runs(filter, true, &kept, &error), qPrintable(error));
            QCOMPARE(kept.size(), 2);
            QCOMPARE(kept[1].id, readJson(run.jsonPath)["run_id"].toString());
            QCOMPARE(kept[1].attempt, 2);
            QCOMPARE(kept[1].capturePath, QFileInfo(run.capturePath).absoluteFilePath());
            QCOMPARE(kept[1].measurements.size(), run.report.checks.size());
        }
        adapter.pull();

        win.w.showHistory();
        auto *history = win.w.findChild<HistoryDialog *>("historyDialog");
        QVERIFY(history);
        QTRY_COMPARE_WITH_TIMEOUT(history->runs().size(), 2, 5000);
        emit history->replayRequested(run.capturePath);
        QVERIFY(win.w.replaying());
        win.w.stop();
        QSettings("Vantoscope.ini", QSettings::IniFormat).remove("Results/Database");
    }

    // Esc ends the run with no verdict, no report and no capture.
    void cancelLeavesNothing()
    {
        Adapter adapter(link);
        QVERIFY(adapter.plug({"--model", "Dogwood", "--static"}));
        Window win;
        QVERIFY(win.choose("Dogwood", link));
        QVERIFY(QTest::qWaitForWindowActive(&win.w));
        QSignalSpy completed(win.station, &BenchStation::runCompleted);
        QSignalSpy verdicts(win.station, &BenchStation::verdictShown);
        int scans = 0;
        connect(&win.w, &MainWindow::scanPublished, this, [&] { ++scans; });
        win.scan("SN-CANCEL");
        QTRY_VERIFY_WITH_TIMEOUT(scans >= 3, 5000);
        QVERIFY(QFileInfo::exists(reports) && !reportFiles(reports, "SN-CANCEL").isEmpty());
        QTest::keyClick(&win.w, Qt::Key_Escape);
        QCOMPARE(win.station->phase(), BenchStation::Phase::Idle);
        QVERIFY(!win.session->isOpen());
        QTest::qWait(3000); // past the run's end
        QCOMPARE(completed.count() + verdicts.count(), 0);
        QVERIFY(!win.banner->isVisible());
        QCOMPARE(reportFiles(reports, "SN-CANCEL"), QStringList());
        QCOMPARE(win.w.findChild<QTreeWidget *>("todayList")->topLevelItemCount(), 0);
    }

    // The cable pulled mid-run: the window reconnects, the run goes on and
    // the outage is one stall, in the window's report and in its capture.
    void pulledCableIsAStall()
    {
        Adapter adapter(link);
        QVERIFY(adapter.plug({"--model", "Dogwood", "--static", "--disconnect-after", "1.5"}));
        Window win;
        QVERIFY(win.choose("Dogwood", link));
        win.station->setDuration(5);
        QSignalSpy completed(win.station, &BenchStation::runCompleted);
        win.scan("SN-PULLED");
        QVERIFY(adapter.process().waitForOutput("disconnected", 10000));
        QTRY_VERIFY_WITH_TIMEOUT(win.w.statusText().startsWith("Reconnecting to"), 5000);
        QVERIFY(adapter.plug({"--model", "Dogwood", "--static"}));
        QVERIFY(completed.wait(20000));
        const StationRun run = completed[0][0].value<StationRun>();
        const QJsonObject report = readJson(run.jsonPath);
        // The outage is one stall (a busy machine may add late scans).
        const double stalls = checkByKey(report, "stalls")["value"].toDouble();
        QVERIFY2(stalls >= 1, qPrintable(QString::number(stalls)));
        const QString notes = report["notes"].toVariant().toStringList().join('\n');
        QVERIFY2(notes.contains("reconnected 1 time"), qPrintable(notes));
        // Its capture checks to the same: the loss noted in it is the stall.
        const QJsonObject tool =
            checkedByTool("Dogwood", run.capturePath, {}, true, workDir.filePath("pulled.json"));
        const QString diff = differences(report, tool);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
        QVERIFY(win.catcher.boxes.isEmpty());
    }

    // Operator, lot and an open panel are there again at the next start,
    // and the unit field has the focus.
    void operatorLotAndPanelAreKept()
    {
        {
            Window win;
            QTest::keyClicks(win.w.findChild<QLineEdit *>("operatorEdit"), "A. Osei");
            QTest::keyClicks(win.w.findChild<QLineEdit *>("lotEdit"), "L7");
            win.w.close();
        }
        MainWindow again;
        again.show();
        QVERIFY(QTest::qWaitForWindowActive(&again));
        QVERIFY(again.findChild<QAction *>("actionBench")->isChecked());
        QCOMPARE(again.findChild<QLineEdit *>("operatorEdit")->text(), QString("A. Osei"));
        QCOMPARE(again.findChild<QLineEdit *>("lotEdit")->text(), QString("L7"));
        QTRY_COMPARE(QApplication::focusWidget(), again.findChild<QLineEdit *>("unitEdit"));
        again.findChild<QAction *>("actionBench")->trigger();
        QVERIFY(!again.findChild<QWidget *>("benchDock")->isVisible());
    }

    // A profile whose speed limit the sensor breaks turns that figure red,
    // with no check running; the scan rate stays green.
    void liveHealthColours()
    {
        Adapter adapter(link);
        QVERIFY(adapter.plug({"--model", "Dogwood", "--static"}));
        const QString profile = workDir.filePath("fast.json");
        {
            QFile file(profile);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(R"({"speed_mean": {"low": 12, "high": 14}})");
        }
        Window win;
        QVERIFY(win.choose("Dogwood", link));
        QVERIFY(win.station->setProfileFile(profile));
        QVERIFY(win.w.start());
        auto zone = [&](const char *key) {
            QLabel *value = win.w.findChild<QLabel *>(QString("health_") + key);
            return value ? static_cast<LimitZone>(value->property("zone").toInt())
                         : LimitZone::Unknown;
        };
        QTRY_COMPARE_WITH_TIMEOUT(zone("scan_rate"), LimitZone::Within, 8000);
        QCOMPARE(zone("speed_mean"), LimitZone::Outside);
        QCOMPARE(zone("errors_per_1000"), LimitZone::Within);
        QVERIFY(win.station->phase() == BenchStation::Phase::Idle);
        win.w.stop();
    }
};

QTEST_MAIN(TestBenchStation)
#include "tst_benchstation.moc"
