#include "syntheticscan.h"
#include "view/limapview.h"

#include <QAction>
#include <QColorDialog>
#include <QContextMenuEvent>
#include <QMenu>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

void writeColor(const QString &file, const char *key, const QVariant &value)
{
    QSettings settings(file, QSettings::IniFormat);
    settings.setValue(QLatin1String(key), value);
}

// Runs `handle` on the next modal widget or popup that opens.
void onNextModal(std::function<void(QWidget *)> handle)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, handle] {
        QWidget *w = QApplication::activePopupWidget();
        if (!w)
            w = QApplication::activeModalWidget();
        if (!w)
            return;
        timer->stop();
        timer->deleteLater();
        handle(w);
    });
    timer->start();
}

} // namespace

class TestLiMapView : public QObject
{
    Q_OBJECT
private slots:
    void init();

    // Drawing in its place
    void originFollowsTheViewsPlaceInItsParent();
    void menuChecksReachThePicture();
    void redrawsFollowChangesAtMostOnceAnInterval();

    // Interaction
    void leftClickPicksTheAngle_data();
    void leftClickPicksTheAngle();
    void rightDragPansWithoutMenu();
    void rightClickOpensTheMenu_data();
    void rightClickOpensTheMenu();
    void wheelZooms_data();
    void wheelZooms();
    void doubleClickEmitsAndDoesNotPick();
    void decoderCommandsAreSignalled();
    void colourDialogs_data();
    void colourDialogs();

    // Settings
    void settingsRoundTrip();
    void emptySettingsKeepColoursAndClearFlags();
    void saveWritesEveryKeyEvenUnchanged();
    void storedColourValues_data();
    void storedColourValues();

private:
    QTemporaryDir dir;
    QString settingsFile() const { return dir.filePath(QStringLiteral("view.ini")); }
};

void TestLiMapView::init()
{
    QVERIFY(dir.isValid());
    QFile::remove(settingsFile());
}

// --- Drawing ----------------------------------------------------------------

void TestLiMapView::originFollowsTheViewsPlaceInItsParent()
{
    // Under a 30 px tool bar the drawn origin is 30 px lower than in a view
    // at the parent's top edge, and clicks are measured from it.
    QWidget parent;
    parent.resize(800, 640);
    LiMapView top(&parent), below(&parent);
    top.setGeometry(0, 0, 800, 600);
    below.setGeometry(0, 30, 800, 600);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    QCOMPARE(below.drawingOrigin(), top.drawingOrigin() + QPoint(0, 30));

    for (LiMapView *view : {&top, &below}) {
        view->showScan(publishedScan({point(0.0, 5000)}));
        view->replot();
    }
    const QRect a = boundsOf(top.canvasImage(), Qt::white);
    QVERIFY(!a.isNull());
    QCOMPARE(boundsOf(below.canvasImage(), Qt::white), a.translated(0, 30));

    QTest::mouseClick(&below, Qt::LeftButton, {}, below.drawingOrigin() + QPoint(0, -60));
    QCOMPARE(below.selectedAngle(), 0.0);
    QTest::mouseClick(&below, Qt::LeftButton, {}, below.drawingOrigin() + QPoint(60, 0));
    QCOMPARE(below.selectedAngle(), 90.0);
}

void TestLiMapView::menuChecksReachThePicture()
{
    LiMapView view;
    view.resize(800, 600);
    view.showScan(publishedScan({point(90.0, 5000)}));
    view.setSelectedAngle(90.0);
    QSignalSpy redrawn(&view, &LiMapView::redrawn);
    view.replot();
    QCOMPARE(redrawn.count(), 1);
    const QImage plain = view.canvasImage();
    QVERIFY(view.statusLines().first().text.startsWith(QStringLiteral("Speed")));

    view.findChild<QAction *>(QStringLiteral("showErrorAction"))->setChecked(true);
    QCOMPARE(view.statusLines().first().text, QStringLiteral("Error:  0"));
    view.findChild<QAction *>(QStringLiteral("showIndicatrixAction"))->setChecked(true);
    QCOMPARE(view.selectedPointLabel(), QString::fromUtf8("90.0°,5000mm"));
    view.findChild<QAction *>(QStringLiteral("showConfidenceAction"))->setChecked(true);
    QCOMPARE(view.selectedPointLabel(), QStringLiteral("90.0,5000,0"));

    view.replot();
    QCOMPARE(redrawn.count(), 2);
    QVERIFY(view.canvasImage() != plain);
    // Nothing changed since: no new picture.
    view.replot();
    QCOMPARE(redrawn.count(), 2);
}

void TestLiMapView::redrawsFollowChangesAtMostOnceAnInterval()
{
    // The view's clock is the test's: the interval since the last redraw is
    // what the test says it is, whatever the machine's load.
    qint64 now = 1000;
    LiMapView view;
    view.setClock([&now] { return now; });
    view.resize(640, 480);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QSignalSpy redrawn(&view, &LiMapView::redrawn);
    QSignalSpy painted(&view, &LiMapView::painted);
    QTRY_VERIFY(!view.findChild<QTimer *>(QStringLiteral("redrawTimer"))->isActive());
    const auto timer = view.findChild<QTimer *>(QStringLiteral("redrawTimer"));

    // Long after the last redraw, a scan is drawn at once and put on screen.
    now += 10000;
    const SensorScan a = publishedScan(syntheticRoomScan(450));
    view.showScan(a);
    redrawn.clear();
    painted.clear();
    QCoreApplication::processEvents();
    QCOMPARE(redrawn.count(), 1);
    QTRY_VERIFY(painted.count() >= 1);

    // A scan 1 ms after that redraw waits for the rest of the interval, and
    // three more in it are drawn together with it: one redraw, the latest.
    now += 1;
    view.showScan(publishedScan({point(90.0, 5000)}));
    QVERIFY(timer->isActive());
    QVERIFY(timer->remainingTime() <= 33);
    for (int i = 0; i < 3; ++i)
        view.showScan(publishedScan({point(10.0 * i, 4000)}));
    QCOMPARE(redrawn.count(), 1);
    QTRY_COMPARE(redrawn.count(), 2);
    QCOMPARE(view.scan().first().angle, 20.0f);

    // Nothing changes: no timer runs and nothing is drawn or painted.
    painted.clear();
    now += 10000;
    QTest::qWait(150);
    QVERIFY(!timer->isActive());
    QCOMPARE(redrawn.count(), 2);
    QCOMPARE(painted.count(), 0);

    // A change of view is a change too.
    view.setScale(3.0);
    QTRY_COMPARE(redrawn.count(), 3);
}

// --- Interaction ------------------------------------------------------------

void TestLiMapView::leftClickPicksTheAngle_data()
{
    QTest::addColumn<QPoint>("fromOrigin");
    QTest::addColumn<double>("expected");
    QTest::newRow("up") << QPoint(0, -50) << 0.0;
    QTest::newRow("right") << QPoint(50, 0) << 90.0;
    QTest::newRow("down") << QPoint(0, 50) << 180.0;
    QTest::newRow("left") << QPoint(-50, 0) << 270.0;
    QTest::newRow("on the origin") << QPoint(0, 0) << 90.0;
    QTest::newRow("up-left at 45") << QPoint(-40, -40) << 315.0;
    QTest::newRow("down-right at 45") << QPoint(40, 40) << 135.0;
    QTest::newRow("just left of up")
        << QPoint(-1, -100) << 360.0 - qRadiansToDegrees(std::atan(0.01));
}

void TestLiMapView::leftClickPicksTheAngle()
{
    QFETCH(QPoint, fromOrigin);
    QFETCH(double, expected);
    LiMapView view;
    view.resize(800, 600);
    view.setOffset(QPoint(40, 5));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QTest::mouseClick(&view, Qt::LeftButton, {}, view.drawingOrigin() + fromOrigin);
    QVERIFY2(qAbs(view.selectedAngle() - expected) < 1e-9,
             qPrintable(QString::number(view.selectedAngle(), 'f', 6)));
    QCOMPARE(view.offset(), QPoint(40, 5));
}

void TestLiMapView::rightDragPansWithoutMenu()
{
    LiMapView view;
    view.resize(800, 600);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QSignalSpy shown(view.findChild<QMenu *>(QStringLiteral("menu")), &QMenu::aboutToShow);

    const QPoint from(300, 200), to(330, 210);
    QTest::mousePress(&view, Qt::RightButton, {}, from);
    // This platform asks for the context menu at the press.
    QContextMenuEvent request(QContextMenuEvent::Mouse, from, view.mapToGlobal(from));
    QApplication::sendEvent(&view, &request);
    QTest::mouseRelease(&view, Qt::RightButton, {}, to);

    QCOMPARE(view.offset(), QPoint(40 - 10, 5 + 30));
    QCOMPARE(shown.count(), 0);

    // A later request after the release does not open it either.
    QContextMenuEvent late(QContextMenuEvent::Mouse, to, view.mapToGlobal(to));
    QApplication::sendEvent(&view, &late);
    QCOMPARE(shown.count(), 0);
}

void TestLiMapView::rightClickOpensTheMenu_data()
{
    QTest::addColumn<bool>("requestAtPress");
    QTest::newRow("request at the press") << true;
    QTest::newRow("request after the release") << false;
}

void TestLiMapView::rightClickOpensTheMenu()
{
    QFETCH(bool, requestAtPress);
    LiMapView view;
    view.resize(800, 600);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    QStringList entries;
    onNextModal([&entries](QWidget *w) {
        if (auto *menu = qobject_cast<QMenu *>(w))
            for (QAction *action : menu->actions())
                entries << action->text();
        w->close();
    });
    const QPoint at(300, 200);
    QContextMenuEvent request(QContextMenuEvent::Mouse, at, view.mapToGlobal(at));
    QTest::mousePress(&view, Qt::RightButton, {}, at);
    if (requestAtPress)
        QApplication::sendEvent(&view, &request);
    QTest::mouseRelease(&view, Qt::RightButton, {}, at);
    if (!requestAtPress)
        QApplication::sendEvent(&view, &request);

    QCOMPARE(entries, QStringList({"Set text color", "Set background color", "Set point color",
                                   "Enable filter", "Show confidence", "Show indicatrix line", "",
                                   "Show error", "Clear error"}));
    QCOMPARE(view.offset(), QPoint(40, 5));
}

void TestLiMapView::wheelZooms_data()
{
    QTest::addColumn<double>("start");
    QTest::addColumn<int>("delta");
    QTest::addColumn<double>("expected");
    QTest::newRow("one notch up") << 1.9 << 120 << 2.375;
    QTest::newRow("one notch down") << 1.9 << -120 << 1.52;
    QTest::newRow("down just above the limit") << 0.26 << -120 << 0.208;
    QTest::newRow("down below the limit") << 0.208 << -120 << 0.208;
    QTest::newRow("down exactly at the limit") << 0.25 << -120 << 0.25;
    QTest::newRow("two notches up at once") << 1.9 << 240 << 1.9;
    QTest::newRow("two notches down at once") << 1.9 << -240 << 1.9;
    QTest::newRow("fine-grained delta") << 1.9 << 60 << 1.9;
}

void TestLiMapView::wheelZooms()
{
    QFETCH(double, start);
    QFETCH(int, delta);
    QFETCH(double, expected);
    LiMapView view;
    view.resize(400, 300);
    view.setScale(start);
    const QPointF pos(100, 100);
    QWheelEvent wheel(pos, view.mapToGlobal(pos.toPoint()), QPoint(), QPoint(0, delta),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&view, &wheel);
    QVERIFY2(qFuzzyCompare(view.scale(), expected),
             qPrintable(QString::number(view.scale(), 'g', 17)));
}

void TestLiMapView::doubleClickEmitsAndDoesNotPick()
{
    LiMapView view;
    view.resize(800, 600);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QSignalSpy spy(&view, &LiMapView::doubleClicked);
    const QPoint right = view.drawingOrigin() + QPoint(50, 0);
    QTest::mouseClick(&view, Qt::LeftButton, {}, right);
    QCOMPARE(view.selectedAngle(), 90.0);

    const QPoint below = view.drawingOrigin() + QPoint(0, 50);
    QMouseEvent dbl(QEvent::MouseButtonDblClick, below, view.mapToGlobal(below), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &dbl);
    QCOMPARE(spy.count(), 1);
    QVERIFY(dbl.isAccepted());
    QCOMPARE(view.selectedAngle(), 90.0);
}

void TestLiMapView::decoderCommandsAreSignalled()
{
    LiMapView view;
    QSignalSpy filter(&view, &LiMapView::filterSwitched);
    QSignalSpy clear(&view, &LiMapView::clearErrorRequested);
    auto *filterAction = view.findChild<QAction *>(QStringLiteral("enableFilterAction"));
    QVERIFY(filterAction->isChecked());
    filterAction->trigger();
    filterAction->trigger();
    QCOMPARE(filter.count(), 2);
    QCOMPARE(filter.at(0).at(0).toBool(), false);
    QCOMPARE(filter.at(1).at(0).toBool(), true);
    QCOMPARE(clear.count(), 0);
    view.findChild<QAction *>(QStringLiteral("clearErrorAction"))->trigger();
    QCOMPARE(clear.count(), 1);
    QCOMPARE(filter.count(), 2);
}

void TestLiMapView::colourDialogs_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("accept");
    for (const char *name : {"backgroundColorAction", "textColorAction", "pointColorAction"}) {
        QTest::addRow("%s chosen", name) << QString::fromLatin1(name) << true;
        QTest::addRow("%s cancelled", name) << QString::fromLatin1(name) << false;
    }
}

void TestLiMapView::colourDialogs()
{
    QFETCH(QString, action);
    QFETCH(bool, accept);
    LiMapView view;
    auto current = [&view, &action] {
        if (action.startsWith(QLatin1String("background")))
            return view.backgroundColor();
        if (action.startsWith(QLatin1String("text")))
            return view.textColor();
        return view.pointColor();
    };
    const QColor before = current();
    const QColor chosen(12, 34, 56);

    QString title;
    QColor initial;
    onNextModal([&](QWidget *w) {
        auto *dialog = qobject_cast<QColorDialog *>(w);
        if (!dialog) {
            w->close();
            return;
        }
        title = dialog->windowTitle();
        initial = dialog->currentColor();
        if (accept) {
            dialog->setCurrentColor(chosen);
            dialog->accept();
        } else {
            dialog->reject();
        }
    });
    view.findChild<QAction *>(action)->trigger();

    QCOMPARE(title, QStringLiteral("select color"));
    QCOMPARE(initial, QColor(Qt::white));
    QCOMPARE(current(), accept ? chosen : before);
}

// --- Settings ---------------------------------------------------------------

void TestLiMapView::settingsRoundTrip()
{
    {
        QSettings settings(settingsFile(), QSettings::IniFormat);
        settings.setValue(QStringLiteral("Map/TextColor"), QColor(255, 0, 0));
        settings.setValue(QStringLiteral("Map/BackgroundColor"), QColor(255, 255, 255));
        settings.setValue(QStringLiteral("Map/PointColor"), QColor(0, 0, 255, 128));
        settings.setValue(QStringLiteral("Map/IndicatrixEnable"), true);
        settings.setValue(QStringLiteral("Map/ConfidenceEnable"), true);
    }
    LiMapView first;
    {
        QSettings settings(settingsFile(), QSettings::IniFormat);
        first.loadSettings(settings);
    }
    const QString copy = dir.filePath(QStringLiteral("copy.ini"));
    {
        QSettings settings(copy, QSettings::IniFormat);
        first.saveSettings(settings);
    }
    LiMapView second;
    QSettings settings(copy, QSettings::IniFormat);
    second.loadSettings(settings);
    QCOMPARE(second.textColor(), QColor(255, 0, 0));
    QCOMPARE(second.backgroundColor(), QColor(255, 255, 255));
    QCOMPARE(second.pointColor(), QColor(0, 0, 255, 128));
    QVERIFY(second.indicatrixEnabled());
    QVERIFY(second.confidenceEnabled());
    QVERIFY(second.findChild<QAction *>(QStringLiteral("showIndicatrixAction"))->isChecked());
    QVERIFY(second.findChild<QAction *>(QStringLiteral("showConfidenceAction"))->isChecked());
}

void TestLiMapView::emptySettingsKeepColoursAndClearFlags()
{
    LiMapView view;
    view.setIndicatrixEnabled(true);
    view.setConfidenceEnabled(true);
    QSettings settings(settingsFile(), QSettings::IniFormat);
    view.loadSettings(settings);
    QCOMPARE(view.textColor(), QColor(0, 255, 0, 255));
    QCOMPARE(view.backgroundColor(), QColor(0, 0, 0, 255));
    QCOMPARE(view.pointColor(), QColor(255, 255, 255, 255));
    QVERIFY(!view.indicatrixEnabled());
    QVERIFY(!view.confidenceEnabled());
    QVERIFY(!view.findChild<QAction *>(QStringLiteral("showIndicatrixAction"))->isChecked());
}

void TestLiMapView::saveWritesEveryKeyEvenUnchanged()
{
    LiMapView view;
    {
        QSettings settings(settingsFile(), QSettings::IniFormat);
        view.saveSettings(settings);
    }
    QSettings settings(settingsFile(), QSettings::IniFormat);
    QStringList keys = settings.allKeys();
    keys.sort();
    QCOMPARE(keys, QStringList({"Map/BackgroundColor", "Map/ConfidenceEnable",
                                "Map/IndicatrixEnable", "Map/PointColor", "Map/TextColor"}));
    QCOMPARE(settings.value("Map/BackgroundColor").value<QColor>(), QColor(0, 0, 0, 255));
    QCOMPARE(settings.value("Map/IndicatrixEnable").toBool(), false);
}

void TestLiMapView::storedColourValues_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QColor>("expected");
    QTest::newRow("colour") << QVariant(QColor(1, 2, 3)) << QColor(1, 2, 3);
    QTest::newRow("hexadecimal name") << QVariant(QStringLiteral("#ff8000")) << QColor(255, 128, 0);
    // Not a colour: the colour stays as it was instead of turning black.
    QTest::newRow("not a colour") << QVariant(QStringLiteral("no colour")) << QColor(0, 255, 0);
    QTest::newRow("a number") << QVariant(12) << QColor(0, 255, 0);
}

void TestLiMapView::storedColourValues()
{
    QFETCH(QVariant, stored);
    QFETCH(QColor, expected);
    writeColor(settingsFile(), "Map/TextColor", stored);
    LiMapView view;
    QSettings settings(settingsFile(), QSettings::IniFormat);
    view.loadSettings(settings);
    QCOMPARE(view.textColor(), expected);
}

QTEST_MAIN(TestLiMapView)
#include "tst_limapview.moc"
