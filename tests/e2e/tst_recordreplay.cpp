// Recording the line in the real window against the simulator, and playing
// the capture back through the same window.
#include "app/mainwindow.h"
#include "capture/capturereader.h"
#include "capture/capturewriter.h"
#include "capture/replayengine.h"
#include "editions/edition.h"
#include "modalcatcher.h"
#include "session/sensorsession.h"
#include "simmodels.h"
#include "simprocess.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

namespace {

constexpr int scansWanted = 8;

struct Bench
{
    explicit Bench(const QString &port)
        : w([port] {
              return QList<PortEntry>{{port, false, 0, true}};
          })
    {
        deviceBox = w.findChild<QComboBox *>("deviceBox");
        portBox = w.findChild<QComboBox *>("portBox");
        status = w.findChild<QLabel *>("statusLabel");
        recordLabel = w.findChild<QLabel *>("recordLabel");
        start = w.findChild<QAction *>("actionStart");
        stop = w.findChild<QAction *>("actionStop");
        record = w.findChild<QAction *>("actionRecord");
        session = w.findChild<SensorSession *>("session");
        bar = w.findChild<QToolBar *>("replayBar");
        QObject::connect(session, &SensorSession::scanReady, &w,
                         [this](const SensorScan &scan) { scans.append(scan); });
        w.show();
    }

    void choose(const QString &model)
    {
        deviceBox->setCurrentIndex(deviceBox->findText(model));
        portBox->setCurrentIndex(0);
    }

    MainWindow w;
    QComboBox *deviceBox;
    QComboBox *portBox;
    QLabel *status;
    QLabel *recordLabel;
    QAction *start;
    QAction *stop;
    QAction *record;
    SensorSession *session;
    QToolBar *bar;
    QVector<SensorScan> scans;
};

// What a scan shows, apart from the figures timed on the clock.
void compareScans(const QVector<SensorScan> &actual, const QVector<SensorScan> &expected)
{
    QCOMPARE(actual.size(), expected.size());
    for (int i = 0; i < actual.size(); ++i) {
        const SensorScan &a = actual[i];
        const SensorScan &e = expected[i];
        QVERIFY2(a.points.size() == e.points.size(), qPrintable(QString("scan %1").arg(i)));
        for (int p = 0; p < a.points.size(); ++p) {
            QCOMPARE(a.points[p].angle, e.points[p].angle);
            QCOMPARE(a.points[p].distance, e.points[p].distance);
            QCOMPARE(a.points[p].confidence, e.points[p].confidence);
        }
        QCOMPARE(a.speed, e.speed);
        QCOMPARE(a.valid, e.valid);
        QCOMPARE(a.total, e.total);
        QCOMPARE(a.errors, e.errors);
        QCOMPARE(a.pixelSum, e.pixelSum);
    }
}

double meanRate(const QVector<SensorScan> &scans)
{
    double sum = 0;
    for (const SensorScan &scan : scans)
        sum += scan.rate;
    return scans.isEmpty() ? 0.0 : sum / scans.size();
}

QStringList capturesIn(const QString &folder)
{
    return QDir(folder).entryList({"*.pcapng"}, QDir::Files, QDir::Name);
}

void setFastest(QToolBar *bar)
{
    auto *speed = bar->findChild<QComboBox *>("replaySpeed");
    speed->setCurrentIndex(speed->findData(0.0));
}

} // namespace

class TestRecordReplay : public QObject
{
    Q_OBJECT

    QTemporaryDir workDir;

private slots:
    void initTestCase()
    {
        QVERIFY(workDir.isValid());
        QDir::setCurrent(workDir.path());
    }

    void recordedLineReplaysToTheSameScans_data()
    {
        QTest::addColumn<QString>("model");
        QTest::newRow("streaming") << QString("Alder");
        QTest::newRow("command protocol") << QString("Fir");
    }

    void recordedLineReplaysToTheSameScans()
    {
        QFETCH(QString, model);
        const QString folder = workDir.filePath("captures");
        const QStringList before = capturesIn(folder);
        SimProcess sim(
            {"--model", model, "--seed", "3", "--firmware", "2.3.12", "--hardware", "100"});
        QVERIFY(sim.started());
        Bench bench(sim.port());
        bench.choose(model);

        // Checked while disconnected: the file begins with the next Start.
        bench.record->setChecked(true);
        QVERIFY(capturesIn(folder) == before);
        ModalCatcher catcher;
        bench.start->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(bench.status->text(), QString("v2.3.12 hw:100"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(bench.scans.size() >= scansWanted, 20000);
        QVERIFY(bench.recordLabel->isVisible());
        QVERIFY(bench.recordLabel->text().startsWith("Recording " + model + "-"));
        bench.stop->trigger();
        QCOMPARE(bench.status->text(), QString("Disconnected"));
        QVERIFY(catcher.boxes.isEmpty());
        QVERIFY(bench.record->isChecked());
        const QVector<SensorScan> live = bench.scans;

        QStringList added = capturesIn(folder);
        for (const QString &name : before)
            added.removeOne(name);
        QCOMPARE(added.size(), 1);
        const QString name = added[0];
        QVERIFY2(QRegularExpression("^" + model + R"(-\d{8}-\d{6}(-\d+)?\.pcapng$)")
                     .match(name)
                     .hasMatch(),
                 qPrintable(name));
        QVERIFY(bench.recordLabel->text().startsWith("Recorded " + name));
        const QString path = QDir(folder).filePath(name);

        // Decoded on its own, the capture gives what the window showed.
        QVector<SensorScan> decoded;
        {
            CaptureReader reader;
            QVERIFY2(reader.open(path), qPrintable(reader.errorString()));
            SensorSession decoder;
            decoder.chooseModel(model);
            decoder.setCalibrateFromStream(findSimModel(model)->commandProtocol());
            connect(&decoder, &SensorSession::scanReady, this,
                    [&decoded](const SensorScan &scan) { decoded.append(scan); });
            CaptureRecord record;
            bool sawCommand = false;
            while (reader.readNext(record)) {
                if (record.direction == CaptureDirection::Inbound)
                    decoder.push(record.data);
                else
                    sawCommand = true;
            }
            QVERIFY(!reader.truncated() && !reader.damaged());
            QCOMPARE(reader.interfaces().value(0).metadata.model, model);
            QCOMPARE(reader.interfaces().value(0).metadata.portName, sim.port());
            QCOMPARE(reader.versionText(), QString("v2.3.12 hw:100"));
            // The information request at least went out on every line.
            QVERIFY(sawCommand);
            compareScans(decoded, live);
        }

        // Played back in the window that was just connected live: the
        // replay starts clean, with nothing of the live stream's tail (no
        // stitched first scan, no packet error for the seam).
        Bench &replay = bench;
        replay.scans.clear();
        setFastest(replay.bar);
        replay.w.openCapture(path);
        QVERIFY(catcher.boxes.isEmpty());
        QVERIFY(replay.bar->isVisible());
        QCOMPARE(replay.deviceBox->currentText(), model);
        QCOMPARE(replay.status->text(), "Replaying " + name);
        QVERIFY(!replay.start->isEnabled());
        QVERIFY(!replay.deviceBox->isEnabled());
        auto *engine = replay.w.findChild<ReplayEngine *>("replayEngine");
        QVERIFY(engine);
        QTRY_VERIFY_WITH_TIMEOUT(engine->atEnd() && !engine->isPlaying(), 20000);
        compareScans(replay.scans, decoded);
        if (live.first().streaming()) {
            // Timed on the recorded clock, which read the arrivals the live
            // clock read.
            QVERIFY(std::abs(meanRate(replay.scans) - meanRate(live)) <= 0.01 * meanRate(live));
        }

        // Back to the start and played again: the capture's end does not
        // stitch onto its beginning either.
        replay.scans.clear();
        engine->seek(0);
        engine->play();
        QTRY_VERIFY_WITH_TIMEOUT(engine->atEnd() && !engine->isPlaying(), 20000);
        compareScans(replay.scans, decoded);

        // Stop ends a replay as the bar's end button does.
        (live.first().streaming() ? replay.stop : replay.bar->findChild<QAction *>("replayEnd"))
            ->trigger();
        QCOMPARE(replay.status->text(), QString("Disconnected"));
        QVERIFY(!replay.bar->isVisible());
        QVERIFY(replay.start->isEnabled());
        QVERIFY(replay.deviceBox->isEnabled());
    }

    // Refused captures change nothing; a cut one replays up to the cut.
    void refusedAndCutCaptures()
    {
        const QString other = Edition::modelNames().value(1);
        QFile text(workDir.filePath("notes.txt"));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("not a capture\n");
        text.close();
        const QString nosuch = workDir.filePath("nosuch.pcapng");
        {
            CaptureWriter writer;
            CaptureMetadata metadata;
            metadata.model = "Nosuch";
            QVERIFY(writer.open(nosuch, metadata));
            QVERIFY(writer.append(CaptureDirection::Inbound, QByteArray(100, 'x'), 1'000'000));
            QVERIFY(writer.close());
        }

        Bench bench(QStringLiteral("/dev/null"));
        bench.choose(other);
        const QString status = bench.status->text();
        ModalCatcher catcher;
        bench.w.openCapture(text.fileName());
        QTRY_COMPARE_WITH_TIMEOUT(catcher.boxes.size(), 1, 5000);
        QVERIFY(catcher.boxes[0].text.contains("notes.txt"));
        bench.w.openCapture(nosuch);
        QTRY_COMPARE_WITH_TIMEOUT(catcher.boxes.size(), 2, 5000);
        QVERIFY(catcher.boxes[1].text.contains("Nosuch"));
        QCOMPARE(bench.deviceBox->currentText(), other);
        QCOMPARE(bench.status->text(), status);
        QVERIFY(!bench.bar->isVisible());
        QVERIFY(bench.start->isEnabled());
        QVERIFY(!bench.w.findChild<ReplayEngine *>("replayEngine"));

        const QStringList names = capturesIn(workDir.filePath("captures"));
        QVERIFY2(!names.isEmpty(), "needs a capture recorded above");
        QFile whole(QDir(workDir.filePath("captures")).filePath(names.first()));
        QVERIFY(whole.open(QIODevice::ReadOnly));
        QFile cut(workDir.filePath("cut.pcapng"));
        QVERIFY(cut.open(QIODevice::WriteOnly));
        cut.write(whole.readAll().chopped(7));
        cut.close();
        setFastest(bench.bar);
        bench.w.openCapture(cut.fileName());
        QCOMPARE(catcher.boxes.size(), 2);
        QCOMPARE(bench.status->text(),
                 QString("Replaying cut.pcapng (truncated: replayed to the last whole record)"));
        auto *engine = bench.w.findChild<ReplayEngine *>("replayEngine");
        QTRY_VERIFY_WITH_TIMEOUT(engine->atEnd() && !engine->isPlaying(), 20000);
        QVERIFY(!bench.scans.isEmpty());
        // The version text replaced the left of the status bar, as live; the
        // cut is still told on the right.
        CaptureReader reader;
        QVERIFY(reader.open(whole.fileName()));
        for (CaptureRecord record; reader.readNext(record);) {
        }
        QVERIFY(!reader.versionText().isEmpty());
        QCOMPARE(bench.status->text(), reader.versionText());
        QCOMPARE(bench.recordLabel->text(),
                 QString("Replaying cut.pcapng (truncated: replayed to the last whole record)"));
    }

    void unwritableFolderUnchecksRecordAndStaysConnected()
    {
        QFile blocker(workDir.filePath("in-the-way"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        {
            QSettings settings("Vantoscope.ini", QSettings::IniFormat);
            settings.setValue("Capture/Folder", blocker.fileName());
        }
        SimProcess sim({"--model", "Alder"});
        QVERIFY(sim.started());
        Bench bench(sim.port());
        bench.choose("Alder");
        bench.start->trigger();
        QVERIFY(bench.session->isOpen());
        ModalCatcher catcher;
        bench.record->setChecked(true);
        QTRY_COMPARE_WITH_TIMEOUT(catcher.boxes.size(), 1, 5000);
        QVERIFY(catcher.boxes[0].text.contains("in-the-way"));
        QVERIFY(!bench.record->isChecked());
        QVERIFY(bench.session->isOpen());
        const int seen = bench.scans.size();
        QTRY_VERIFY_WITH_TIMEOUT(bench.scans.size() > seen + 2, 10000);
        bench.stop->trigger();
        QSettings("Vantoscope.ini", QSettings::IniFormat).remove("Capture");
    }
};

QTEST_MAIN(TestRecordReplay)
#include "tst_recordreplay.moc"
