// The window without a sensor: model table, port list, full screen,
// version text, settings, help, scan export, captures and the replay bar.
#include "app/appsetup.h"
#include "app/mainwindow.h"
#include "app/portwatch.h"
#include "app/replaybar.h"
#include "capture/capturewriter.h"
#include "modalcatcher.h"
#include "serviceframes.h"
#include "session/sensorsession.h"
#include "streamframes.h"
#include "view/limapview.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QProcess>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QSlider>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

#include <algorithm>

Q_DECLARE_METATYPE(Edition::DecoderKind)

namespace {

PortEntry bridgePort(const QString &name)
{
    return {name, true, 0x10C4};
}

// Three turns of Pkg47 frames, which complete one scan (the second turn);
// the interpolated angles are not short decimals, distances and confidences
// differ from point to point and turn to turn.
// `far` is added to every fourth distance.
QByteArray threeTurns(int far = 0)
{
    QByteArray stream;
    for (int turn = 0; turn < 3; ++turn)
        for (int i = 0; i < 33; ++i) {
            QVector<Wire::StreamPoint> points;
            for (int k = 0; k < 12; ++k)
                points.append({uint16_t(500 + 400 * turn + 7 * i + k + (k % 4 == 0 ? far : 0)),
                               uint8_t(13 * i + 5 * k)});
            const auto start = uint16_t(i * 1090);
            stream += Wire::encodePkg47(3600, start, points, uint16_t(start + 1000));
        }
    return stream;
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
                 QStringList({"actionStart", "actionStop", "actionFullScreen", "actionHelp",
                              "actionRecord", "actionOpenCapture", "actionBench"}));
        auto *record = w.findChild<QAction *>("actionRecord");
        QVERIFY(record->isCheckable());
        for (int side : {16, 24, 64}) {
            const QImage icon = record->icon().pixmap(side).toImage();
            QCOMPARE(icon.size(), QSize(side, side));
            const QColor centre = icon.pixelColor(side / 2, side / 2);
            QVERIFY2(centre.red() > 180 && centre.green() < 80, qPrintable(centre.name()));
            QCOMPARE(icon.pixelColor(0, 0).alpha(), 0);
        }
        QCOMPARE(w.findChild<LiMapView *>("mapView"), w.centralWidget());
    }

    void modelChoiceSetsEverything_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("baud");
        QTest::addColumn<Edition::DecoderKind>("decoderKind");
        QTest::addColumn<double>("scale");
        using Edition::DecoderKind;
        QTest::newRow("Birch") << "Birch"
                               << "115200" << DecoderKind::Stream << 1.9;
        QTest::newRow("Dogwood") << "Dogwood"
                                 << "230400" << DecoderKind::Stream << 1.9;
        QTest::newRow("Elder") << "Elder"
                               << "230400" << DecoderKind::Stream << 1.9;
        QTest::newRow("Fir") << "Fir"
                             << "921600" << DecoderKind::CommandProtocol << 10.0;
        QTest::newRow("Ginkgo") << "Ginkgo"
                                << "115200" << DecoderKind::StreamFlagInConfidence << 1.9;
        QTest::newRow("Hazel") << "Hazel"
                               << "115200" << DecoderKind::StreamFlagInConfidence << 1.9;
        QTest::newRow("Ironwood") << "Ironwood"
                                  << "115200" << DecoderKind::Stream << 1.9;
        QTest::newRow("Kauri") << "Kauri"
                               << "153600" << DecoderKind::Stream << 1.9;
        QTest::newRow("Larch") << "Larch"
                               << "230400" << DecoderKind::Stream << 1.9;
        QTest::newRow("Maple") << "Maple"
                               << "921600" << DecoderKind::CommandProtocol << 10.0;
    }

    void modelChoiceSetsEverything()
    {
        QFETCH(QString, model);
        QFETCH(QString, baud);
        QFETCH(Edition::DecoderKind, decoderKind);
        QFETCH(double, scale);
        MainWindow w(fakeEnumerator());
        chooseModel(w, model);
        QCOMPARE(w.windowTitle(), "Tarsel " + model + " Tool");
        QCOMPARE(w.findChild<QComboBox *>("baudBox")->currentText(), baud);
        auto *view = w.findChild<LiMapView *>("mapView");
        QCOMPARE(view->decoderKind(), decoderKind);
        QCOMPARE(view->scale(), scale);
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
        w.findChild<SensorSession *>("session")->push(Wire::informationReply(w0, w1));
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
        QCOMPARE(view->offset(), QPoint(40, 5));

        fullScreen->trigger();
        QVERIFY(w.isFullScreen());
        QVERIFY(!w.statusBar()->isVisible());
        QVERIFY(!w.findChild<QToolBar *>("ToolBar")->isVisible());
        QCOMPARE(view->offset(), QPoint(0, 5));
        view->setOffset(QPoint(7, 7));
        fullScreen->trigger(); // already full screen: nothing happens
        QVERIFY(w.isFullScreen());
        QCOMPARE(view->offset(), QPoint(7, 7));

        emit escape->activated();
        QVERIFY(!w.isFullScreen());
        QVERIFY(w.statusBar()->isVisible());
        QVERIFY(w.findChild<QToolBar *>("ToolBar")->isVisible());
        QVERIFY(!w.menuBar()->isVisible());
        QCOMPARE(view->offset(), QPoint(40, 5));
    }

    void firstStartUsesDefaultSizeAndCloseSavesIt()
    {
        {
            MainWindow w(fakeEnumerator());
            // The screen the window is on, as the window picks it.
            const QSize available = w.screen()->availableGeometry().size();
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

    // The points as measured, also beyond the view's 13 m range (which
    // the picture clamps), in the decoder tool's rows; the picture as shown.
    void saveScanWritesTheScanOnScreen()
    {
        MainWindow w(fakeEnumerator());
        w.show();
        auto *save = w.findChild<QAction *>("actionSaveScan");
        QVERIFY(!save->isEnabled());
        auto *session = w.findChild<SensorSession *>("session");
        auto *view = w.findChild<LiMapView *>("mapView");
        QSignalSpy published(session, &SensorSession::scanReady);
        view->replot();
        const QImage empty = view->canvasImage().convertToFormat(QImage::Format_ARGB32);
        // No event is processed from here to the saving: the view's own
        // tick has not drawn the scan yet.
        const QByteArray stream = threeTurns(14000);
        const QDateTime before = QDateTime::currentDateTimeUtc();
        session->push(stream);
        const QDateTime after = QDateTime::currentDateTimeUtc();
        QCOMPARE(published.count(), 1);
        QVERIFY(save->isEnabled());
        const PointList points = published.last().at(0).value<SensorScan>().points;
        QVERIFY(!points.isEmpty() && !isEndOfScanMarker(points.last()));
        QVERIFY(std::any_of(points.begin(), points.end(),
                            [](const PointData &p) { return p.distance > 13000; }));

        QTemporaryDir dir;
        QVERIFY(w.saveScan(dir.filePath("scan.csv")));
        QFile csv(dir.filePath("scan.csv"));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        QList<QByteArray> lines = csv.readAll().split('\n');
        QCOMPARE(lines.takeFirst(), QByteArray("scan,time,angle,distance,confidence"));
        QCOMPARE(lines.takeLast(), QByteArray()); // the last row ends its line
        QCOMPARE(lines.size(), points.size());
        QList<QByteArray> withoutTime;
        for (int i = 0; i < points.size(); ++i) {
            QList<QByteArray> cells = lines.at(i).split(',');
            QCOMPARE(cells.size(), 5);
            QCOMPARE(cells[0], QByteArray("1"));
            // Published live: the system's UTC time of the publication.
            const QDateTime time = QDateTime::fromString(QString(cells[1]), Qt::ISODateWithMs);
            QVERIFY2(cells[1].endsWith('Z') && time.isValid(), cells[1].constData());
            QVERIFY(time >= before.addMSecs(-1) && time <= after);
            // Exactly the same double, not just close to it.
            QVERIFY2(cells[2].toDouble() == points[i].angle, cells[2].constData());
            QCOMPARE(cells[3].toInt(), int(points[i].distance));
            QCOMPARE(cells[4].toInt(), int(points[i].confidence));
            cells.removeAt(1);
            withoutTime << cells.join(',');
        }

#ifdef VANTOSCOPE_DECODE_PATH
        // The decoder tool writes the same rows for the same bytes; a raw
        // file has no wall-clock time, so its time cells stay empty.
        QProcess tool;
        tool.start(QStringLiteral(VANTOSCOPE_DECODE_PATH),
                   {"--model", w.findChild<QComboBox *>("deviceBox")->currentText(), "--format",
                    "csv", "-"});
        QVERIFY(tool.waitForStarted(10000));
        tool.write(stream);
        tool.closeWriteChannel();
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitCode(), 0);
        QList<QByteArray> toolLines = tool.readAllStandardOutput().split('\n');
        QCOMPARE(toolLines.takeFirst(), QByteArray("scan,time,angle,distance,confidence"));
        QCOMPARE(toolLines.takeLast(), QByteArray());
        QList<QByteArray> toolRows;
        for (const QByteArray &line : toolLines) {
            QVERIFY2(line.startsWith("1,,"), line.constData());
            toolRows << "1," + line.mid(3);
        }
        QCOMPARE(toolRows, withoutTime);
#endif

        QVERIFY(w.saveScan(dir.filePath("map.PNG")));
        const QImage png(dir.filePath("map.PNG"), "png");
        QCOMPARE(png.size(), view->size());
        const QImage canvas = view->canvasImage();
        QCOMPARE(png.convertToFormat(QImage::Format_ARGB32),
                 canvas.convertToFormat(QImage::Format_ARGB32));
        QVERIFY(png.convertToFormat(QImage::Format_ARGB32) != empty);

        ModalCatcher catcher;
        const QString nowhere = dir.filePath("missing/scan.csv");
        QVERIFY(!w.saveScan(nowhere));
        QCOMPARE(catcher.boxes.size(), 1);
        QCOMPARE(catcher.boxes[0].icon, QMessageBox::Warning);
        QVERIFY(catcher.boxes[0].text.contains(nowhere));
        QVERIFY(!QFileInfo::exists(dir.filePath("missing")));
    }

    void mapMenuReachesTheStreamDecoder()
    {
        // The view's status follows the stream decoder's counters between
        // scans: damaged bytes count at once, and a clear shows at once.
        MainWindow w(fakeEnumerator());
        auto *session = w.findChild<SensorSession *>("session");
        auto *view = w.findChild<LiMapView *>("mapView");
        view->findChild<QAction *>("showErrorAction")->setChecked(true);
        session->push(threeTurns());
        QCOMPARE(view->statusLines().first().text, QString("Error:  0"));
        QCOMPARE(view->statusLines().at(1).text, QString("Speed:  10.0"));
        QByteArray damaged = Wire::encodePkg47(7200, 0, {}, 1000);
        damaged[damaged.size() - 1] = char(damaged.at(damaged.size() - 1) ^ 0x5A);
        session->push(damaged + damaged);
        QVERIFY(session->streamErrorCount() > 0);
        QCOMPARE(view->statusLines().first().text,
                 QStringLiteral("Error:  %1").arg(session->streamErrorCount()));
        view->findChild<QAction *>("clearErrorAction")->trigger();
        QCOMPARE(session->streamErrorCount(), 0);
        QCOMPARE(view->statusLines().first().text, QString("Error:  0"));

        auto *filter = view->findChild<QAction *>("enableFilterAction");
        QVERIFY(filter->isChecked());
        QVERIFY(session->filterEnabled());
        filter->trigger();
        QVERIFY(!session->filterEnabled());
        filter->trigger();
        QVERIFY(session->filterEnabled());
    }

    void capturesComeFromTheDialogDropsAndCommandLine()
    {
        MainWindow w(fakeEnumerator());
        QSignalSpy chosen(&w, &MainWindow::captureChosen);
        ModalCatcher catcher;
        const QString missing = workDir.filePath("gone.pcapng");
        w.openCapture(missing);
        QCOMPARE(catcher.boxes.size(), 1);
        QCOMPARE(catcher.boxes[0].icon, QMessageBox::Warning);
        QVERIFY(catcher.boxes[0].text.contains(missing));
        w.openCapture(workDir.path());
        QCOMPARE(catcher.boxes.size(), 2);

        QMimeData dropped;
        dropped.setUrls({QUrl("https://example.invalid/a.pcapng"), QUrl::fromLocalFile(missing)});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &dropped, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(&w, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&w, &drop);
        QVERIFY(drop.isAccepted());
        QTRY_COMPARE(catcher.boxes.size(), 3);
        QVERIFY(catcher.boxes[2].text.contains(missing));

        QMimeData text;
        text.setText("gone.pcapng");
        QDragEnterEvent notAFile(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton,
                                 Qt::NoModifier);
        QApplication::sendEvent(&w, &notAFile);
        QVERIFY(!notAFile.isAccepted());
        QVERIFY(chosen.isEmpty());

        QFile capture("capture.pcapng");
        QVERIFY(capture.open(QIODevice::WriteOnly));
        capture.close();
        w.openCapture("capture.pcapng");
        QCOMPARE(chosen.count(), 1);
        QCOMPARE(chosen[0][0].toString(), QFileInfo(capture).absoluteFilePath());
        // Handed on, the empty file is then refused by the replay: not a capture.
        QTRY_COMPARE(catcher.boxes.size(), 4);
        QVERIFY(catcher.boxes[3].text.contains("capture.pcapng"));

        QCOMPARE(captureArgument({"Viewer", "capture.pcapng"}), QString("capture.pcapng"));
        QCOMPARE(captureArgument({"Viewer"}), QString());
    }

    void replayBarOnlyReportsRequests()
    {
        MainWindow w(fakeEnumerator());
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        auto *bar = w.findChild<ReplayBar *>("replayBar");
        QVERIFY(bar);
        QVERIFY(!bar->isVisible());
        QSignalSpy play(bar, &ReplayBar::playToggled);
        QSignalSpy step(bar, &ReplayBar::stepRequested);
        QSignalSpy speed(bar, &ReplayBar::speedChanged);
        QSignalSpy loop(bar, &ReplayBar::loopChanged);
        QSignalSpy seek(bar, &ReplayBar::seekRequested);
        QSignalSpy end(bar, &ReplayBar::endRequested);

        // Hidden, its keys are not taken.
        QTest::keyClick(&w, Qt::Key_Space);
        QTest::keyClick(&w, Qt::Key_Right);
        QCOMPARE(play.count() + step.count(), 0);

        bar->show();
        QTest::keyClick(&w, Qt::Key_Space);
        QTest::keyClick(&w, Qt::Key_Right);
        QTest::keyClick(&w, Qt::Key_Space);
        QCOMPARE(play.count(), 2);
        QCOMPARE(play[0][0].toBool(), true);
        QCOMPARE(play[1][0].toBool(), false);
        QCOMPARE(step.count(), 1);
        bar->setPlaying(true);
        QCOMPARE(play.count(), 2);
        QVERIFY(bar->playing());
        QCOMPARE(bar->findChild<QAction *>("replayPlay")->text(), QString("Pause"));

        auto *speeds = bar->findChild<QComboBox *>("replaySpeed");
        QStringList factors;
        for (int i = 0; i < speeds->count(); ++i)
            factors << speeds->itemText(i) + "=" + speeds->itemData(i).toString();
        QCOMPARE(factors, QStringList({"1/4x=0.25", "1/2x=0.5", "1x=1", "2x=2", "4x=4", "8x=8",
                                       "As fast as possible=0"}));
        QCOMPARE(speeds->currentData().toDouble(), 1.0);
        speeds->setCurrentIndex(speeds->count() - 1);
        speeds->setCurrentIndex(0);
        QCOMPARE(speed.count(), 2);
        QCOMPARE(speed[0][0].toDouble(), 0.0);
        QCOMPARE(speed[1][0].toDouble(), 0.25);

        bar->findChild<QAction *>("replayLoop")->trigger();
        QCOMPARE(loop.count(), 1);
        QCOMPARE(loop[0][0].toBool(), true);

        auto *slider = bar->findChild<QSlider *>("replayPosition");
        auto *elapsed = bar->findChild<QLabel *>("replayElapsed");
        bar->setDuration(725'360'000'000); // 12:05.36
        QCOMPARE(bar->findChild<QLabel *>("replayTotal")->text(), QString("12:05.3"));
        bar->setPosition(61'050'000'000);
        QCOMPARE(elapsed->text(), QString("01:01.0"));
        QCOMPARE(slider->value(), 61050);
        QVERIFY(seek.isEmpty());
        slider->setValue(90'000); // a click or a key on the slider
        QCOMPARE(seek.count(), 1);
        QCOMPARE(seek[0][0].toLongLong(), 90'000'000'000);
        // A drag seeks once, where it ends, and the replay's reports wait.
        slider->setSliderDown(true);
        slider->setValue(100'000);
        slider->setValue(slider->maximum());
        bar->setPosition(5'000'000'000);
        QCOMPARE(elapsed->text(), QString("12:05.3"));
        QCOMPARE(seek.count(), 1);
        slider->setSliderDown(false);
        QCOMPARE(seek.count(), 2);
        QCOMPARE(seek[1][0].toLongLong(), 725'360'000'000);

        bar->findChild<QAction *>("replayEnd")->trigger();
        QCOMPARE(end.count(), 1);
        for (QObject *child : bar->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            QVERIFY2(!child->objectName().isEmpty(), child->metaObject()->className());
    }

    // A seek replays up to its position unseen: the map keeps its scan while
    // the figures go on, and draws the last scan decoded once it is done.
    void seekKeepsTheMapUntilItIsDone()
    {
        const QString path = workDir.filePath("turns.pcapng");
        {
            CaptureWriter writer;
            CaptureMetadata metadata;
            metadata.model = "Alder";
            QVERIFY(writer.open(path, metadata));
            // One turn of 33 frames every 100 ms, each turn 100 mm farther.
            for (int turn = 0; turn < 12; ++turn) {
                QByteArray bytes;
                for (int i = 0; i < 33; ++i) {
                    const QVector<Wire::StreamPoint> points(
                        12, {uint16_t(700 + 100 * turn), uint8_t(200)});
                    const auto start = uint16_t(i * 1090);
                    bytes += Wire::encodePkg47(3600, start, points, uint16_t(start + 1000));
                }
                QVERIFY(writer.append(CaptureDirection::Inbound, bytes,
                                      1'000'000 + qint64(turn) * 100'000'000));
            }
            QVERIFY(writer.close());
        }
        MainWindow w(fakeEnumerator());
        auto *bar = w.findChild<ReplayBar *>("replayBar");
        auto *view = w.findChild<LiMapView *>("mapView");
        w.openCapture(path);
        QVERIFY(w.replaying());
        QTRY_VERIFY(!view->scan().isEmpty());
        emit bar->playToggled(false);
        auto distances = [](const PointList &points) {
            QList<int> d;
            for (const PointData &p : points)
                d.append(p.distance);
            return d;
        };
        const QList<int> before = distances(view->scan());

        int scansWhileFrozen = 0;
        connect(&w, &MainWindow::scanPublished, this, [&](const SensorScan &scan) {
            if (!view->isFrozen())
                return;
            ++scansWhileFrozen;
            QCOMPARE(distances(view->scan()), before);
            QCOMPARE(view->statusLines(), StatusBlock(scan, view->decoderKind(), false).lines());
        });
        SensorScan last;
        connect(&w, &MainWindow::scanPublished, this, [&](const SensorScan &scan) { last = scan; });
        emit bar->seekRequested(1'050'000'000);
        QTRY_VERIFY(!view->isFrozen() && scansWhileFrozen > 0);
        QVERIFY(distances(view->scan()) != before);
        // The view draws a streaming scan with its end-of-scan marker.
        QCOMPARE(distances(view->scan()), distances(last.points) << 0);
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
