// The earlier edition's window: its eight models and three speeds, what
// choosing a model sets, and the decisions taken by the model's name when
// bytes arrive and the port opens and closes.
#include "app/mainwindow.h"
#include "commandframes.h"
#include "modalcatcher.h"
#include "ptydevice.h"
#include "scriptedsensor.h"
#include "streamframes.h"
#include "trnet/qtrnet.h"
#include "view/limapview.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

namespace {

QStringList comboTexts(const QComboBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

QByteArray pkg47Rotation()
{
    QByteArray stream;
    for (int i = 0; i < 60; ++i) {
        const uint16_t start = uint16_t((i * 1200) % 36000);
        stream += Wire::encodePkg47(3600, start, QVector<Wire::StreamPoint>(12, {1000, 200}),
                                    uint16_t(start + 1100));
    }
    return stream;
}

// The points a command-protocol decoder makes of `sampleFrame` after taking
// `calibrationReply` (none: the calibration it starts with).
PointList firPoints(const QByteArray &calibrationReply, const QByteArray &sampleFrame)
{
    QTRNet reference;
    if (!calibrationReply.isEmpty()) {
        reference.pushData(calibrationReply);
        reference.applyCalibrationReply(reference.lastDecodedFrame());
    }
    reference.enterStartedMode();
    PointList points;
    QObject::connect(&reference, &QTRNet::mapReady, &reference,
                     [&points](const PointList &scan) { points = scan; });
    reference.pushData(sampleFrame);
    return points;
}

QStringList pointTexts(const PointList &points)
{
    QStringList texts;
    for (const PointData &p : points)
        texts << QStringLiteral("%1:%2").arg(p.angle, 0, 'g', 12).arg(p.distance);
    return texts;
}

} // namespace

class TestClassicWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir workDir;
    QList<PortEntry> fakePorts;

    PortEnumerator fakeEnumerator()
    {
        return [this] { return fakePorts; };
    }

    struct Window
    {
        MainWindow w;
        QComboBox *deviceBox;
        QComboBox *baudBox;
        QAction *start;
        QAction *stop;
        SensorSession *session;
        LiMapView *view;

        explicit Window(PortEnumerator ports) : w(std::move(ports))
        {
            deviceBox = w.findChild<QComboBox *>("deviceBox");
            baudBox = w.findChild<QComboBox *>("baudBox");
            start = w.findChild<QAction *>("actionStart");
            stop = w.findChild<QAction *>("actionStop");
            session = w.findChild<SensorSession *>("session");
            view = w.findChild<LiMapView *>("mapView");
        }
        void choose(const QString &model)
        {
            const int index = deviceBox->findText(model);
            QVERIFY(index >= 0);
            deviceBox->setCurrentIndex(index);
        }
    };

private slots:
    void initTestCase()
    {
        QVERIFY(workDir.isValid());
        QDir::setCurrent(workDir.path());
    }

    void init() { fakePorts.clear(); }

    void startsWithEightModelsAndThreeSpeeds()
    {
        Window win(fakeEnumerator());
        win.w.show();
        QCOMPARE(comboTexts(win.deviceBox), QStringList({"Alder", "Birch", "Cedar", "Dogwood",
                                                         "Fir", "Ginkgo", "Hazel", "Larch"}));
        QCOMPARE(win.deviceBox->findText("Kauri"), -1);
        QCOMPARE(comboTexts(win.baudBox), QStringList({"115200", "230400", "921600"}));
        QCOMPARE(win.baudBox->findText("153600"), -1);
        QCOMPARE(win.baudBox->itemData(1).toInt(), 230400);
        QCOMPARE(win.baudBox->currentText(), QString("115200"));
        QVERIFY(!win.baudBox->isEnabled());
        QCOMPARE(win.w.windowTitle(), QString("Tarsel Alder Tool"));
        QCOMPARE(win.w.findChild<QLabel *>("versionLabel")->text(), QString("V2.3.11"));
        // The first model is in force from the start.
        QCOMPARE(win.session->modelType(), 0);
        QCOMPARE(win.session->filterVariant(), 0);
        QCOMPARE(win.view->decoderKind(), Edition::modelChoice("Alder").decoderKind);
        QCOMPARE(win.view->scale(), 1.9);
        // The same capture controls as the full edition.
        QStringList actions;
        for (QAction *a : win.w.findChild<QToolBar *>("ToolBar")->actions())
            if (!a->text().isEmpty())
                actions << a->objectName();
        QCOMPARE(actions,
                 QStringList({"actionStart", "actionStop", "actionFullScreen", "actionHelp",
                              "actionRecord", "actionOpenCapture", "actionBench"}));
        QVERIFY(win.w.findChild<QToolBar *>("replayBar")->isHidden());
        QVERIFY(!win.w.findChild<QAction *>("actionSaveScan")->isEnabled());
    }

    void modelChoiceByName_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("baud");
        QTest::addColumn<int>("filterVariant");
        QTest::addColumn<int>("typeCode");
        QTest::addColumn<double>("scale");

        QTest::newRow("Alder") << QStringList{"Hazel"} << "Alder"
                               << "115200" << 0 << 0 << 1.9;
        QTest::newRow("Birch") << QStringList{"Hazel"} << "Birch"
                               << "115200" << 0 << 1 << 1.9;
        QTest::newRow("Ginkgo") << QStringList{"Hazel"} << "Ginkgo"
                                << "115200" << 0 << 2 << 1.9;
        QTest::newRow("Hazel") << QStringList{"Birch"} << "Hazel"
                               << "115200" << 0 << 3 << 1.9;
        QTest::newRow("Cedar keeps Hazel's code") << QStringList{"Hazel"} << "Cedar"
                                                  << "115200" << 0 << 3 << 1.9;
        QTest::newRow("Cedar keeps Birch's code") << QStringList{"Birch"} << "Cedar"
                                                  << "115200" << 0 << 1 << 1.9;
        QTest::newRow("Dogwood keeps Ginkgo's code") << QStringList{"Ginkgo"} << "Dogwood"
                                                     << "230400" << 1 << 2 << 1.9;
        QTest::newRow("Fir keeps variant and code") << QStringList{"Birch", "Larch"} << "Fir"
                                                    << "921600" << 1 << 1 << 10.0;
        QTest::newRow("Larch after Fir keeps Hazel's code")
            << QStringList{"Hazel", "Fir"} << "Larch"
            << "230400" << 1 << 3 << 1.9;
    }

    void modelChoiceByName()
    {
        QFETCH(QStringList, before);
        QFETCH(QString, model);
        QFETCH(QString, baud);
        QFETCH(int, filterVariant);
        QFETCH(int, typeCode);
        QFETCH(double, scale);

        Window win(fakeEnumerator());
        for (const QString &earlier : before)
            win.choose(earlier);
        win.view->setScale(3.0);
        win.choose(model);
        QCOMPARE(win.w.windowTitle(), "Tarsel " + model + " Tool");
        QCOMPARE(win.baudBox->currentText(), baud);
        QCOMPARE(win.session->filterVariant(), filterVariant);
        QCOMPARE(win.session->modelType(), typeCode);
        QCOMPARE(win.view->decoderKind(), Edition::modelChoice(model).decoderKind);
        QCOMPARE(win.view->scale(), scale);
    }

    void firIsStartedFedAndStoppedByName()
    {
        Pty pty;
        QVERIFY(pty.isValid());
        fakePorts = {{pty.slavePath(), true, 0x10C4}};
        Window win(fakeEnumerator());
        win.choose("Fir");
        ScriptedSensor sensor(pty);
        const QByteArray calibration = Wire::firCalibrationReply(100, 200, 300, 400);
        sensor.answer(QTRNet::Calibration, calibration);
        ModalCatcher catcher;
        QSignalSpy connected(win.session, &SensorSession::handshakeFinished);
        QSignalSpy streamCounters(win.session, &SensorSession::streamCountersChanged);
        QList<SensorScan> scans;
        connect(&win.w, &MainWindow::scanPublished, this,
                [&scans](const SensorScan &scan) { scans << scan; });

        win.start->trigger();
        QVERIFY(win.session->isOpen());
        QCOMPARE(win.session->baudRate(), 921600);
        QTRY_COMPARE(connected.count(), 1);
        QCOMPARE(sensor.commands, QVector<int>({15, 18, 2}));
        QVERIFY(catcher.boxes.isEmpty());
        // Opening starts the stream counters afresh; nothing may move them after.
        streamCounters.clear();

        const QVector<uint16_t> samples(160, Wire::firSample(300, 100));
        const QByteArray sampleFrame = Wire::measuredSampleFrame(100, samples, 777);
        QVERIFY(pty.write(sampleFrame));
        QTRY_COMPARE(scans.size(), 1);
        QCOMPARE(scans[0].pixelSum, uint16_t(777));
        // The points show that the sensor's calibration reply was taken.
        const QStringList calibrated = pointTexts(firPoints(calibration, sampleFrame));
        QVERIFY(calibrated != pointTexts(firPoints(QByteArray(), sampleFrame)));
        QCOMPARE(pointTexts(scans[0].points), calibrated);
        // Streaming frames, then a Fir frame behind them: once that one is
        // published, the streaming frames have been read and went nowhere.
        QVERIFY(pty.write(pkg47Rotation().left(47 * 3)));
        QVERIFY(pty.write(Wire::measuredSampleFrame(200, samples, 778)));
        QTRY_COMPARE(scans.size(), 2);
        QCOMPARE(scans[1].pixelSum, uint16_t(778));
        QCOMPARE(streamCounters.count(), 0);
        QCOMPARE(win.session->streamErrorCount(), 0);

        win.stop->trigger();
        QVERIFY(!win.session->isOpen());
        QTRY_COMPARE(sensor.commands, QVector<int>({15, 18, 2, 15}));
    }

    void firWithoutReplyShowsErrorBox()
    {
        Pty pty;
        fakePorts = {{pty.slavePath(), true, 0x10C4}};
        Window win(fakeEnumerator());
        win.choose("Fir");
        ScriptedSensor sensor(pty);
        ModalCatcher catcher;
        win.start->trigger();
        QTRY_COMPARE(catcher.boxes.size(), 1);
        QCOMPARE(catcher.boxes[0].title, QString("error"));
        QCOMPARE(catcher.boxes[0].text, QString("connect failed"));
        QVERIFY(win.session->isOpen());
        QCOMPARE(sensor.commands, QVector<int>({15, 18}));
        win.stop->trigger();
    }

    void otherModelsFeedTheStreamDecoder_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("speed");
        QTest::newRow("Alder") << "Alder" << 115200;
        QTest::newRow("Hazel") << "Hazel" << 115200;
        QTest::newRow("Larch") << "Larch" << 230400;
    }

    void otherModelsFeedTheStreamDecoder()
    {
        QFETCH(QString, model);
        QFETCH(int, speed);
        Pty pty;
        fakePorts = {{pty.slavePath(), true, 0x10C4}};
        Window win(fakeEnumerator());
        win.choose("Fir");
        win.choose(model);
        ScriptedSensor sensor(pty);

        win.start->trigger();
        QVERIFY(win.session->isOpen());
        QCOMPARE(win.session->baudRate(), speed);
        const QByteArray stream = pkg47Rotation();
        QVERIFY(pty.write(stream));
        // Every packet reaches the stream decoder.
        QTRY_COMPARE(win.session->acceptedFrames(), qint64(stream.size() / 47));
        QCOMPARE(win.session->streamErrorCount(), 0);

        win.stop->trigger();
        // No handshake on open and no stop command on close: the first
        // command the sensor sees is one written after the close.
        QVERIFY(pty.writeAsProgram(Wire::command(QTRNet::Calibration, 1)));
        QTRY_VERIFY(!sensor.commands.isEmpty());
        QCOMPARE(sensor.commands, QVector<int>({QTRNet::Calibration}));
    }
};

QTEST_MAIN(TestClassicWindow)
#include "tst_classicwindow.moc"
