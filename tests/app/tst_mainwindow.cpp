// The window without a sensor: model table, port list, full screen,
// version text, settings and help.
#include "debugpkg.h"
#include "devicetable.h"
#include "limapview.h"
#include "mainwindow.h"
#include "modalcatcher.h"
#include "portwatch.h"

#include <QAction>
#include <QComboBox>
#include <QDesktopWidget>
#include <QLabel>
#include <QMenuBar>
#include <QSettings>
#include <QShortcut>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

namespace {

PortEntry bridgePort(const QString &name)
{
    return {name, true, 0x10C4};
}

QStringList comboTexts(const QComboBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir workDir;
    QList<PortEntry> fakePorts;

    PortEnumerator fakeEnumerator()
    {
        return [this] { return fakePorts; };
    }

    static void chooseModel(MainWindow &w, const QString &name)
    {
        auto *box = w.findChild<QComboBox *>("deviceBox");
        box->setCurrentIndex(box->findText(name));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(workDir.isValid());
        QDir::setCurrent(workDir.path());
    }

    void init()
    {
        QFile::remove("Vantoscope.ini");
        fakePorts.clear();
    }

    void startsWithFirstModel()
    {
        MainWindow w(fakeEnumerator());
        w.show();
        QCOMPARE(w.windowTitle(), QString("Tarsel Alder Tool"));
        auto *baud = w.findChild<QComboBox *>("baudBox");
        QCOMPARE(baud->currentText(), QString("115200"));
        QVERIFY(!baud->isEnabled());
        QCOMPARE(comboTexts(baud), QStringList({"115200", "153600", "230400", "921600"}));
        QCOMPARE(baud->itemData(1).toInt(), 153600);
        auto *devices = w.findChild<QComboBox *>("deviceBox");
        QCOMPARE(comboTexts(devices),
                 QStringList({"Alder", "Birch", "Cedar", "Dogwood", "Elder", "Fir", "Ginkgo",
                              "Hazel", "Ironwood", "Juniper", "Kauri", "Larch", "Maple"}));
        QCOMPARE(w.findChild<QLabel *>("versionLabel")->text(), QString("V2.3.12"));
        QVERIFY(w.findChild<QLabel *>("versionLabel")->isVisible());
        QVERIFY(w.findChild<QLabel *>("statusLabel")->text().isEmpty());
        QVERIFY(!w.menuBar()->isVisible());
        QStringList menus;
        for (QAction *a : w.menuBar()->actions())
            menus << a->text();
        QCOMPARE(menus, QStringList({"&File", "&Settings", "&Help"}));
        auto *toolBar = w.findChild<QToolBar *>("ToolBar");
        QStringList actions;
        for (QAction *a : toolBar->actions())
            if (!a->text().isEmpty())
                actions << a->objectName();
        QCOMPARE(actions,
                 QStringList({"actionStart", "actionStop", "actionFullScreen", "actionHelp"}));
        QCOMPARE(w.findChild<LiMapView *>("mapView"), w.centralWidget());
    }

    void modelChoiceSetsEverything_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("baud");
        QTest::addColumn<int>("decoderKind");
        QTest::addColumn<double>("scale");
        QTest::newRow("Birch") << "Birch"
                               << "115200" << 1 << 1.9;
        QTest::newRow("Dogwood") << "Dogwood"
                                 << "230400" << 1 << 1.9;
        QTest::newRow("Elder") << "Elder"
                               << "230400" << 1 << 1.9;
        QTest::newRow("Fir") << "Fir"
                             << "921600" << 0 << 10.0;
        QTest::newRow("Ginkgo") << "Ginkgo"
                                << "115200" << 2 << 1.9;
        QTest::newRow("Hazel") << "Hazel"
                               << "115200" << 2 << 1.9;
        QTest::newRow("Ironwood") << "Ironwood"
                                  << "115200" << 1 << 1.9;
        QTest::newRow("Kauri") << "Kauri"
                               << "153600" << 1 << 1.9;
        QTest::newRow("Larch") << "Larch"
                               << "230400" << 1 << 1.9;
        QTest::newRow("Maple") << "Maple"
                               << "921600" << 0 << 10.0;
    }

    void modelChoiceSetsEverything()
    {
        QFETCH(QString, model);
        QFETCH(QString, baud);
        QFETCH(int, decoderKind);
        QFETCH(double, scale);
        MainWindow w(fakeEnumerator());
        chooseModel(w, model);
        QCOMPARE(w.windowTitle(), "Tarsel " + model + " Tool");
        QCOMPARE(w.findChild<QComboBox *>("baudBox")->currentText(), baud);
        auto *view = w.findChild<LiMapView *>("mapView");
        QCOMPARE(view->decoderKindValue(), decoderKind);
        QCOMPARE(view->scaleValue(), scale);
    }

    void deviceTableGivesTypeCodes()
    {
        const auto table = buildDeviceTable();
        QCOMPARE(table.size(), 13);
        QCOMPARE(table.value("Elder").modelType, 0x1006);
        QCOMPARE(table.value("Ironwood").modelType, 18);
        QCOMPARE(table.value("Kauri").modelType, 24);
        QCOMPARE(table.value("Maple").modelType, 32);
        QCOMPARE(table.value("Fir").filterVariant, 2);
        const LidarParamTypedef unknown = table.value("Oak");
        QCOMPARE(unknown.baudrate + unknown.filterVariant + unknown.modelType + unknown.decoderKind,
                 0);
    }

    void onlyBridgePortsAreListed()
    {
        fakePorts = {{"ttyS0", false, 0},
                     bridgePort("ttyUSB0"),
                     {"ttyACM0", true, 0x2341},
                     bridgePort("ttyUSB1")};
        MainWindow w(fakeEnumerator());
        auto *ports = w.findChild<QComboBox *>("portBox");
        QCOMPARE(comboTexts(ports), QStringList({"ttyUSB0", "ttyUSB1"}));

        fakePorts = {{"ttyACM0", true, 0x2341}};
        MainWindow other(fakeEnumerator());
        QCOMPARE(other.findChild<QComboBox *>("portBox")->count(), 0);
    }

    void refreshKeepsOrderAndCurrentEntry()
    {
        fakePorts = {bridgePort("ttyUSB0"), bridgePort("ttyUSB1"), bridgePort("ttyUSB2")};
        MainWindow w(fakeEnumerator());
        auto *ports = w.findChild<QComboBox *>("portBox");
        ports->setCurrentIndex(2);

        fakePorts = {bridgePort("ttyUSB3"), bridgePort("ttyUSB2"), bridgePort("ttyUSB0")};
        QMetaObject::invokeMethod(&w, "refreshPorts");
        QCOMPARE(comboTexts(ports), QStringList({"ttyUSB0", "ttyUSB2", "ttyUSB3"}));
        QCOMPARE(ports->currentText(), QString("ttyUSB2"));

        // Names compare case-sensitively.
        fakePorts = {bridgePort("TTYUSB0"), bridgePort("ttyUSB2")};
        QMetaObject::invokeMethod(&w, "refreshPorts");
        QCOMPARE(comboTexts(ports), QStringList({"ttyUSB2", "TTYUSB0"}));

        fakePorts.clear();
        QMetaObject::invokeMethod(&w, "refreshPorts");
        QCOMPARE(ports->count(), 0);
    }

    void extraPortsFollowTheEnvironment()
    {
        QFile simulated(workDir.filePath("fake-tty"));
        QVERIFY(simulated.open(QIODevice::WriteOnly));
        simulated.close();
        const QString missing = workDir.filePath("gone-tty");
        qputenv("VANTOSCOPE_EXTRA_PORTS", (simulated.fileName() + "::" + missing).toLocal8Bit());
        MainWindow w; // the system's own enumeration
        auto *ports = w.findChild<QComboBox *>("portBox");
        QVERIFY(comboTexts(ports).contains(simulated.fileName()));
        QVERIFY(!comboTexts(ports).contains(missing));

        // The same refresh rules: a simulator that goes away leaves the list.
        QFile::remove(simulated.fileName());
        QMetaObject::invokeMethod(&w, "refreshPorts");
        QVERIFY(!comboTexts(ports).contains(simulated.fileName()));
        qunsetenv("VANTOSCOPE_EXTRA_PORTS");

        const QList<PortEntry> extras = extraPorts(QString());
        QVERIFY(extras.isEmpty());
    }

    void refreshIsFrozenWhilePortBoxDisabled()
    {
        fakePorts = {bridgePort("ttyUSB0")};
        MainWindow w(fakeEnumerator());
        auto *ports = w.findChild<QComboBox *>("portBox");
        ports->setEnabled(false);
        fakePorts = {bridgePort("ttyUSB9")};
        QMetaObject::invokeMethod(&w, "refreshPorts");
        QCOMPARE(comboTexts(ports), QStringList({"ttyUSB0"}));
    }

    // The system's list follows a watched folder instead of polling it.
    void systemPortsFollowTheirFolder()
    {
        QTemporaryDir dir;
        const QString port = dir.filePath("sim-tty");
        qputenv("VANTOSCOPE_EXTRA_PORTS", port.toLocal8Bit());
        const auto unset = qScopeGuard([] { qunsetenv("VANTOSCOPE_EXTRA_PORTS"); });
        MainWindow w;
        auto *watch = w.findChild<PortWatch *>("portWatch");
        QVERIFY(watch->watching());
        QVERIFY(watch->watchedFolders().contains(QFileInfo(dir.path()).absoluteFilePath()));
        auto *ports = w.findChild<QComboBox *>("portBox");
        QVERIFY(!comboTexts(ports).contains(port));

        QFile file(port);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QTRY_VERIFY(comboTexts(ports).contains(port));
        QFile::remove(port);
        QTRY_VERIFY(!comboTexts(ports).contains(port));
    }

    void portTimerRefreshesEverySecond()
    {
        MainWindow w(fakeEnumerator());
        auto *ports = w.findChild<QComboBox *>("portBox");
        QCOMPARE(ports->count(), 0);
        fakePorts = {bridgePort("ttyUSB4")};
        QTRY_COMPARE_WITH_TIMEOUT(ports->count(), 1, 3000);
    }

    void versionDisplay_data()
    {
        QTest::addColumn<uint>("w0");
        QTest::addColumn<uint>("w1");
        QTest::addColumn<QString>("text");
        QTest::newRow("example") << 0x0102000Au << 0x1Fu << "v1.2.10 hw:1f";
        QTest::newRow("hex without zeros") << 0x0203000Cu << 0x100u << "v2.3.12 hw:100";
        QTest::newRow("wide patch") << 0xFFFFFFFFu << 0xDEADBEEFu << "v255.255.65535 hw:deadbeef";
        QTest::newRow("zero") << 0u << 0u << "v0.0.0 hw:0";
    }

    void versionDisplay()
    {
        QFETCH(uint, w0);
        QFETCH(uint, w1);
        QFETCH(QString, text);
        MainWindow w(fakeEnumerator());
        auto *debugPkg = w.findChild<DebugPkg *>("debugPkg");
        QVERIFY(debugPkg);
        LidarInfoTypedef info;
        info.firmwareVersion = w0;
        info.hardwareVersion = w1;
        emit debugPkg->lidarInfoReady(info);
        QCOMPARE(w.findChild<QLabel *>("statusLabel")->text(), text);
    }

    void fullScreenMovesOriginOnlyWhenClosed()
    {
        MainWindow w(fakeEnumerator());
        w.show();
        auto *view = w.findChild<LiMapView *>("mapView");
        auto *escape = w.findChild<QShortcut *>("escapeShortcut");
        auto *fullScreen = w.findChild<QAction *>("actionFullScreen");

        emit escape->activated(); // not full screen: nothing happens
        QVERIFY(!w.isFullScreen());
        QCOMPARE(view->offsetValue(), QPoint(40, 5));

        fullScreen->trigger();
        QVERIFY(w.isFullScreen());
        QVERIFY(!w.statusBar()->isVisible());
        QVERIFY(!w.findChild<QToolBar *>("ToolBar")->isVisible());
        QCOMPARE(view->offsetValue(), QPoint(0, 5));
        view->setOffset(QPoint(7, 7));
        fullScreen->trigger(); // already full screen: nothing happens
        QVERIFY(w.isFullScreen());
        QCOMPARE(view->offsetValue(), QPoint(7, 7));

        emit escape->activated();
        QVERIFY(!w.isFullScreen());
        QVERIFY(w.statusBar()->isVisible());
        QVERIFY(w.findChild<QToolBar *>("ToolBar")->isVisible());
        QVERIFY(!w.menuBar()->isVisible());
        QCOMPARE(view->offsetValue(), QPoint(40, 5));
    }

    void firstStartUsesDefaultSizeAndCloseSavesIt()
    {
        {
            MainWindow w(fakeEnumerator());
            // The screen the window is on, as the window picks it.
            const QSize available = QApplication::desktop()->availableGeometry(&w).size();
            const QSize expected(qRound(qRound(available.width() * 0.25) * 3.0),
                                 qRound(qRound(available.height() * 0.25) * 3.0));
            QCOMPARE(w.size(), expected);
            w.resize(812, 611);
            w.close();
        }
        QSettings settings("Vantoscope.ini", QSettings::IniFormat);
        QCOMPARE(settings.value("Window/Size").toSize(), QSize(812, 611));

        MainWindow again(fakeEnumerator());
        QCOMPARE(again.size(), QSize(812, 611));
    }

    void settingsFileFollowsWorkingDirectory()
    {
        QTemporaryDir other;
        const QString previous = QDir::currentPath();
        QDir::setCurrent(other.path());
        {
            MainWindow w(fakeEnumerator());
            w.close();
        }
        QDir::setCurrent(previous);
        QVERIFY(QFile::exists(other.filePath("Vantoscope.ini")));
        QVERIFY(!QFile::exists("Vantoscope.ini"));
    }

    void helpBoxExplainsUse()
    {
        MainWindow w(fakeEnumerator());
        ModalCatcher catcher;
        w.findChild<QAction *>("actionHelp")->trigger();
        QCOMPARE(catcher.boxes.size(), 1);
        QCOMPARE(catcher.boxes[0].title, QString("How to use"));
        const QString text = catcher.boxes[0].text;
        QVERIFY(text.startsWith("<ul>1. Install cp2102 driver <a href="));
        QVERIFY(text.contains("<ul>2. Select specified device and port.</ul>"));
        QVERIFY(text.endsWith("<ul>3. Click <b>Start</b> button.</ul>"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
