// The window against a real serial port on a pseudo-terminal: open, close,
// status texts and colours, open errors and a device that goes away.
#include "app/mainwindow.h"
#include "cpuusage.h"
#include "modalcatcher.h"
#include "ptydevice.h"
#include "scriptedsensor.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class TestSerialConnection : public QObject
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
        QComboBox *portBox;
        QLabel *status;
        QAction *start;
        QAction *stop;
        SensorSession *session;

        explicit Window(PortEnumerator ports) : w(std::move(ports))
        {
            deviceBox = w.findChild<QComboBox *>("deviceBox");
            portBox = w.findChild<QComboBox *>("portBox");
            status = w.findChild<QLabel *>("statusLabel");
            start = w.findChild<QAction *>("actionStart");
            stop = w.findChild<QAction *>("actionStop");
            session = w.findChild<SensorSession *>("session");
        }

        QColor statusColor() const { return status->palette().color(QPalette::WindowText); }
        bool selectorsEnabled() const
        {
            return deviceBox->isEnabled() && portBox->isEnabled() && start->isEnabled();
        }
    };

private slots:
    void initTestCase()
    {
        QVERIFY(workDir.isValid());
        QDir::setCurrent(workDir.path());
    }

    void openAndCloseShowState()
    {
        Pty pty;
        QVERIFY(pty.isValid());
        fakePorts = {{pty.slavePath(), true, 0x10C4}};
        Window win(fakeEnumerator());
        win.deviceBox->setCurrentIndex(win.deviceBox->findText("Dogwood"));

        win.start->trigger();
        QVERIFY(win.session->isOpen());
        QCOMPARE(win.status->text(),
                 QString("Connected to %1 : 230400, 8, 0, 1, 0").arg(pty.slavePath()));
        QCOMPARE(win.statusColor(), QColor(Qt::darkBlue));
        QVERIFY(!win.deviceBox->isEnabled());
        QVERIFY(!win.portBox->isEnabled());
        QVERIFY(!win.start->isEnabled());
        QCOMPARE(win.session->baudRate(), 230400);

        win.stop->trigger();
        QVERIFY(!win.session->isOpen());
        QCOMPARE(win.status->text(), QString("Disconnected"));
        QCOMPARE(win.statusColor(), QColor(Qt::darkRed));
        QVERIFY(win.selectorsEnabled());
    }

    void stopWhileClosedOnlyRewritesStatus()
    {
        Pty pty;
        fakePorts = {{pty.slavePath(), true, 0x10C4}};
        Window win(fakeEnumerator());
        win.deviceBox->setCurrentIndex(win.deviceBox->findText("Fir"));
        win.stop->trigger();
        QCOMPARE(win.status->text(), QString("Disconnected"));
        QCOMPARE(win.statusColor(), QColor(Qt::darkRed));
        const QByteArray sentinel("\xEE end of test \xEE");
        QVERIFY(pty.writeAsProgram(sentinel));
        QCOMPARE(pty.readThrough(sentinel), sentinel);
    }

    void missingPortShowsOpenError()
    {
        fakePorts = {{"/dev/vantoscope-no-such-port", true, 0x10C4}};
        Window win(fakeEnumerator());
        ModalCatcher catcher;
        win.start->trigger();
        QCOMPARE(catcher.boxes.size(), 1);
        QCOMPARE(catcher.boxes[0].title, QString("Error"));
        QCOMPARE(catcher.boxes[0].icon, QMessageBox::Critical);
        QVERIFY(!catcher.boxes[0].text.isEmpty());
        QCOMPARE(win.status->text(), QString("Open error"));
        QCOMPARE(win.statusColor(), QColor(Qt::darkBlue));
        QVERIFY(win.selectorsEnabled());
        QVERIFY(!win.session->isOpen());
    }

    void emptyPortListFailsToOpen()
    {
        fakePorts.clear();
        Window win(fakeEnumerator());
        ModalCatcher catcher;
        win.start->trigger();
        QCOMPARE(catcher.boxes.size(), 1);
        QCOMPARE(win.status->text(), QString("Open error"));
    }

    // While the handshake waits for a reply that comes too late, the user
    // presses Start again, presses Stop, or the device goes away.
    void actionsDuringTheHandshake_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QVector<int>>("commands");
        QTest::addColumn<bool>("open");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QString>("text");
        const QVector<int> handshake{15, 18};
        QTest::newRow("second Start is refused")
            << "start" << handshake << true << QStringList{"connect failed"} << QString();
        QTest::newRow("Stop sends the stop command and ends it")
            << "stop" << QVector<int>{15, 18, 15} << false << QStringList{} << "Disconnected";
        QTest::newRow("lost device ends it")
            << "unplug" << handshake << false << QStringList{} << "Disconnected";
    }

    void actionsDuringTheHandshake()
    {
        QFETCH(QString, action);
        QFETCH(QVector<int>, commands);
        QFETCH(bool, open);
        QFETCH(QStringList, boxes);
        QFETCH(QString, text);

        auto pty = std::make_unique<Pty>();
        auto sensor = std::make_unique<ScriptedSensor>(*pty);
        sensor->answer(18, QByteArray(8, '\0'), 60000);
        fakePorts = {{pty->slavePath(), true, 0x10C4}};
        Window win(fakeEnumerator());
        win.deviceBox->setCurrentText("Fir");
        ModalCatcher catcher;

        // Acts once the calibration request, the last step, has arrived.
        bool disabledDuringWait = false;
        bool acted = false;
        QVector<int> seen;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            if (acted || !sensor->commands.contains(18))
                return;
            acted = true;
            // Past the pause after the request, inside the wait for the reply.
            QTimer::singleShot(150, this, [&] {
                disabledDuringWait = !win.start->isEnabled() && !win.deviceBox->isEnabled() &&
                                     !win.portBox->isEnabled();
                if (action == "start") {
                    win.start->trigger();
                } else if (action == "stop") {
                    win.stop->trigger();
                } else {
                    seen = sensor->commands;
                    sensor.reset();
                    pty.reset();
                }
            });
        });
        watch.start(5);
        win.start->trigger();

        QTRY_VERIFY(acted);
        QTRY_VERIFY(disabledDuringWait);
        if (sensor)
            QTRY_COMPARE_WITH_TIMEOUT(sensor->commands, commands, 5000);
        else
            QCOMPARE(seen, commands);
        QCOMPARE(win.session->isOpen(), open);
        QCOMPARE(win.selectorsEnabled(), !open);
        QTRY_COMPARE_WITH_TIMEOUT(catcher.boxes.size(), boxes.size(), 5000);
        QStringList texts;
        for (const auto &box : catcher.boxes)
            texts << box.text;
        QCOMPARE(texts, boxes);
        if (!text.isEmpty()) {
            QCOMPARE(win.status->text(), text);
            QCOMPARE(win.statusColor(), QColor(Qt::darkRed));
        }
    }

    void lostDeviceDisconnectsWithoutSpinning()
    {
        auto pty = std::make_unique<Pty>();
        fakePorts = {{pty->slavePath(), true, 0x10C4}};
        Window win(fakeEnumerator());
        win.start->trigger();
        QVERIFY(win.session->isOpen());

        pty.reset(); // the far end goes away
        QTRY_COMPARE_WITH_TIMEOUT(win.status->text(), QString("Disconnected"), 10000);
        QCOMPARE(win.statusColor(), QColor(Qt::darkRed));
        QVERIFY(win.selectorsEnabled());
        QVERIFY(!win.session->isOpen());

        // With the port closed, nothing keeps the event loop busy.
        const double before = processCpuSeconds();
        QTest::qWait(1000);
        QVERIFY2(processCpuSeconds() - before < 0.5, "event loop spins after the device was lost");
    }

    void reconnectChoiceIsASetting()
    {
        QSettings("Vantoscope.ini", QSettings::IniFormat).setValue("Connection/Reconnect", false);
        {
            Window win(fakeEnumerator());
            auto *reconnect = win.w.findChild<QAction *>("actionReconnect");
            QVERIFY(reconnect->isCheckable());
            QVERIFY(!reconnect->isChecked());
            reconnect->setChecked(true);
            win.w.close();
        }
        QSettings settings("Vantoscope.ini", QSettings::IniFormat);
        QCOMPARE(settings.value("Connection/Reconnect").toBool(), true);
        settings.remove("Connection");
    }

    void everyChunkReachesTheStreamDecoder()
    {
        Pty pty;
        fakePorts = {{pty.slavePath(), true, 0x10C4}};
        Window win(fakeEnumerator());
        win.start->trigger();
        QVERIFY(win.session->isOpen());
        // Bytes that hold no frame header cost the streaming decoder one error
        // once enough of them are buffered; they must arrive there at all.
        QVERIFY(pty.write(QByteArray(200, '\x01')));
        QTRY_VERIFY_WITH_TIMEOUT(win.session->streamErrorCount() > 0, 10000);
        win.stop->trigger();
    }
};

QTEST_MAIN(TestSerialConnection)
#include "tst_serialconnection.moc"
