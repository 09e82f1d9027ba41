// The earlier edition's window: its eight models and three speeds, what
// choosing a model sets, and the decisions taken by the model's name when
// bytes arrive and the port opens and closes.
#include "app/mainwindow.h"
#include "commandframes.h"
#include "lipkg/lipkg.h"
#include "modalcatcher.h"
#include "ptydevice.h"
#include "scriptedsensor.h"
#include "streamframes.h"
#include "trnet/qtrnet.h"
#include "view/limapview.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QSerialPort>
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
        QSerialPort *serial;
        LiPkg *pkg;
        QTRNet *trNet;
        LiMapView *view;

        explicit Window(PortEnumerator ports) : w(std::move(ports))
        {
            deviceBox = w.findChild<QComboBox *>("deviceBox");
            baudBox = w.findChild<QComboBox *>("baudBox");
            start = w.findChild<QAction *>("actionStart");
            stop = w.findChild<QAction *>("actionStop");
            serial = w.findChild<QSerialPort *>("serial");
            pkg = w.findChild<LiPkg *>("pkg");
            trNet = w.findChild<QTRNet *>("trNet");
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
        QCOMPARE(win.pkg->modelType(), 0);
        QCOMPARE(win.pkg->filterVariant(), 0);
        QCOMPARE(win.view->decoderKind(), Edition::modelChoice("Alder").decoderKind);
        QCOMPARE(win.view->scale(), 1.9);
        // The same capture controls as the full edition.
        QStringList actions;
        for (QAction *a : win.w.findChild<QToolBar *>("ToolBar")->actions())
            if (!a->text().isEmpty())
                actions << a->objectName();
        QCOMPARE(actions, QStringList({"actionStart", "actionStop", "actionFullScreen",
                                       "actionHelp", "actionRecord", "actionOpenCapture"}));
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
        QCOMPARE(win.pkg->filterVariant(), filterVariant);
        QCOMPARE(win.pkg->modelType(), typeCode);
        // The command protocol serves one model and gets no type code.
        QCOMPARE(win.trNet->modelType(), 0);
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
        sensor.answer(QTRNet::Calibration, Wire::firCalibrationReply(100, 200, 300, 400));
        ModalCatcher catcher;
        QSignalSpy connected(win.w.findChild<SensorSession *>("session"),
                             &SensorSession::handshakeFinished);

        win.start->trigger();
        QVERIFY(win.serial->isOpen());
        QCOMPARE(win.serial->baudRate(), 921600);
        QTRY_COMPARE(connected.count(), 1);
        QCOMPARE(sensor.commands, QVector<int>({15, 18, 2}));
        QVERIFY(catcher.boxes.isEmpty());
        QCOMPARE(win.trNet->deviceParams().halfIntercept[DeviceParams::Left], 400u);

        QSignalSpy frames(win.pkg, &LiPkg::pkgReady);
        const QVector<uint16_t> samples(160, Wire::firSample(300, 100));
        QVERIFY(pty.write(Wire::measuredSampleFrame(100, samples, 777)));
        QTRY_COMPARE(win.trNet->pixelSum(), uint16_t(777));
        // Streaming frames, then a Fir frame behind them: once that one is
        // decoded, the streaming frames have been read and went nowhere.
        QVERIFY(pty.write(pkg47Rotation().left(47 * 3)));
        QVERIFY(pty.write(Wire::measuredSampleFrame(200, samples, 778)));
        QTRY_COMPARE(win.trNet->pixelSum(), uint16_t(778));
        QCOMPARE(frames.count(), 0);
        QCOMPARE(win.pkg->errorCount(), 0);

        win.stop->trigger();
        QVERIFY(!win.serial->isOpen());
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
        QVERIFY(win.serial->isOpen());
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
        QSignalSpy frames(win.pkg, &LiPkg::pkgReady);

        win.start->trigger();
        QVERIFY(win.serial->isOpen());
        QCOMPARE(win.serial->baudRate(), speed);
        const QByteArray stream = pkg47Rotation();
        QVERIFY(pty.write(stream));
        QTRY_COMPARE(frames.count(), stream.size() / 47);
        QVERIFY(!win.trNet->currentScan().size());
        QCOMPARE(win.trNet->rxBufferSize(), 0);

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
