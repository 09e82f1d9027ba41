// The window against a real serial port on a pseudo-terminal: open, close,
// status texts and colours, open errors and a device that goes away.
#include "lipkg.h"
#include "cpuusage.h"
#include "mainwindow.h"
#include "modalcatcher.h"
#include "ptydevice.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QSerialPort>
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
        QSerialPort *serial;

        explicit Window(PortEnumerator ports) : w(std::move(ports))
        {
            deviceBox = w.findChild<QComboBox *>("deviceBox");
            portBox = w.findChild<QComboBox *>("portBox");
            status = w.findChild<QLabel *>("statusLabel");
            start = w.findChild<QAction *>("actionStart");
            stop = w.findChild<QAction *>("actionStop");
            serial = w.findChild<QSerialPort *>("serial");
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
        QVERIFY(win.serial->isOpen());
        QCOMPARE(win.status->text(),
                 QString("Connected to %1 : 230400, 8, 0, 1, 0").arg(pty.slavePath()));
        QCOMPARE(win.statusColor(), QColor(Qt::darkBlue));
        QVERIFY(!win.deviceBox->isEnabled());
        QVERIFY(!win.portBox->isEnabled());
        QVERIFY(!win.start->isEnabled());
        QCOMPARE(win.serial->baudRate(), 230400);

        win.stop->trigger();
        QVERIFY(!win.serial->isOpen());
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
        QTest::qWait(100);
        QVERIFY(pty.readAvailable().isEmpty());
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
        QVERIFY(!win.serial->isOpen());
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

    void lostDeviceDisconnectsWithoutSpinning()
    {
        auto pty = std::make_unique<Pty>();
        fakePorts = {{pty->slavePath(), true, 0x10C4}};
        Window win(fakeEnumerator());
        win.start->trigger();
        QVERIFY(win.serial->isOpen());

        pty.reset(); // the far end goes away
        QTRY_COMPARE_WITH_TIMEOUT(win.status->text(), QString("Disconnected"), 2000);
        QCOMPARE(win.statusColor(), QColor(Qt::darkRed));
        QVERIFY(win.selectorsEnabled());
        QVERIFY(!win.serial->isOpen());

        // With the port closed, nothing keeps the event loop busy.
        const double before = processCpuSeconds();
        QTest::qWait(1000);
        QVERIFY2(processCpuSeconds() - before < 0.5, "event loop spins after the device was lost");
    }

    void everyChunkReachesTheStreamDecoder()
    {
        Pty pty;
        fakePorts = {{pty.slavePath(), true, 0x10C4}};
        Window win(fakeEnumerator());
        auto *pkg = win.w.findChild<LiPkg *>("pkg");
        win.start->trigger();
        QVERIFY(win.serial->isOpen());
        // Bytes that hold no frame header cost the streaming decoder one error
        // once enough of them are buffered; they must arrive there at all.
        QVERIFY(pty.write(QByteArray(200, '\x01')));
        QTRY_VERIFY_WITH_TIMEOUT(pkg->errorCount() > 0, 2000);
        win.stop->trigger();
    }
};

QTEST_MAIN(TestSerialConnection)
#include "tst_serialconnection.moc"
