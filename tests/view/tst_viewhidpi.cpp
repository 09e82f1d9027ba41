// The map on a high-density screen. CTest runs this test at the scale
// factors 1, 1.5 and 2 (QT_SCALE_FACTOR); every check holds at each of them:
// the canvas has the screen's resolution, a known scan lands where the
// ratio-1 layout puts it times the ratio, and clicks and the status block
// keep their logical positions.
#include "editions/edition.h"
#include "points/pointdata.h"
#include "syntheticscan.h"
#include "view/limapview.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QtMath>
#include <QtTest>
#include <cmath>

namespace {

const QSize viewSize(800, 600);
const double viewScale = 1.9;
const QPoint viewOffset(40, 5);
const QColor pointColour(0, 255, 0);
const QColor statusColour(255, 0, 0);

// The factor this run was started with, as CTest sets it.
double requestedFactor()
{
    const QByteArray value = qgetenv("QT_SCALE_FACTOR");
    return value.isEmpty() ? 1.0 : value.toDouble();
}

bool isPoint(QRgb c)
{
    return qRed(c) < 40 && qGreen(c) > 200 && qBlue(c) < 40;
}

bool isStatusText(QRgb c)
{
    return qRed(c) > 100 && qGreen(c) < 60 && qBlue(c) < 60;
}

// Centre of the point-coloured pixels within `radius` of `around`, in device
// pixels; (-1, -1) when there are none.
QPointF pointCentre(const QImage &image, const QPointF &around, double radius)
{
    double sx = 0, sy = 0;
    int n = 0;
    for (int y = int(around.y() - radius); y <= int(around.y() + radius); ++y)
        for (int x = int(around.x() - radius); x <= int(around.x() + radius); ++x)
            if (image.rect().contains(x, y) && isPoint(image.pixel(x, y))) {
                sx += x + 0.5;
                sy += y + 0.5;
                ++n;
            }
    return n == 0 ? QPointF(-1, -1) : QPointF(sx / n, sy / n);
}

} // namespace

class TestViewHiDpi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void canvasHasTheScreensResolution();
    void scanIsDrawnAtTheLogicalLayout();
    void clicksPickTheSameAngle();
    void statusBlockKeepsItsLogicalPlace();

private:
    void prepare(LiMapView &view) const;
    double ratio = 1.0;
};

void TestViewHiDpi::initTestCase()
{
    // A run that did not get its factor would pass without testing anything.
    ratio = QGuiApplication::primaryScreen()->devicePixelRatio();
    QCOMPARE(ratio, requestedFactor());
}

void TestViewHiDpi::prepare(LiMapView &view) const
{
    QSettings settings(QStringLiteral("view.ini"), QSettings::IniFormat);
    settings.clear();
    settings.setValue(QStringLiteral("Map/BackgroundColor"), QColor(Qt::black));
    settings.setValue(QStringLiteral("Map/PointColor"), pointColour);
    settings.setValue(QStringLiteral("Map/TextColor"), statusColour);
    view.loadSettings(settings);
    view.resize(viewSize);
    view.setScale(viewScale);
    view.setOffset(viewOffset);
    view.setDecoderKind(Edition::DecoderKind::Stream);
}

void TestViewHiDpi::canvasHasTheScreensResolution()
{
    LiMapView view;
    prepare(view);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.showScan(publishedScan(syntheticRoomScan(360)));
    view.replot();
    const QImage canvas = view.canvasImage();
    QCOMPARE(canvas.devicePixelRatio(), view.screen()->devicePixelRatio());
    QCOMPARE(canvas.size(),
             QSize(qRound(viewSize.width() * ratio), qRound(viewSize.height() * ratio)));
    // The window copies the canvas one to one: what it shows is as sharp.
    const QImage shown = view.grab().toImage();
    QCOMPARE(shown.size(), canvas.size());
    QCOMPARE(shown.convertToFormat(QImage::Format_RGB32),
             canvas.convertToFormat(QImage::Format_RGB32));
}

void TestViewHiDpi::scanIsDrawnAtTheLogicalLayout()
{
    LiMapView view;
    prepare(view);
    // Up, to the right at the last plausible distance, and two beyond it
    // that are drawn at the origin.
    view.showScan(
        publishedScan({point(0, 4000), point(90, 13000), point(180, 13001), point(270, 65535)}));
    view.replot();
    const QImage canvas = view.canvasImage().convertToFormat(QImage::Format_RGB32);

    // Where the ratio-1 layout puts the points, in logical pixels.
    const QPointF origin = view.drawingOrigin();
    const double perMillimetre = viewScale * (viewSize.height() / 2 - 10) * 0.5 / 10000;
    const QPointF up = origin + QPointF(0, -4000 * perMillimetre);
    const QPointF right = origin + QPointF(13000 * perMillimetre, 0);

    int found = 0;
    for (const QPointF &logical : {origin, up, right}) {
        const QPointF expected = logical * ratio;
        const QPointF centre = pointCentre(canvas, expected, 6 * ratio);
        QVERIFY2(centre.x() >= 0,
                 qPrintable(
                     QStringLiteral("no point near (%1, %2)").arg(expected.x()).arg(expected.y())));
        QVERIFY2(std::hypot(centre.x() - expected.x(), centre.y() - expected.y()) <= ratio,
                 qPrintable(QStringLiteral("point at (%1, %2), expected (%3, %4)")
                                .arg(centre.x())
                                .arg(centre.y())
                                .arg(expected.x())
                                .arg(expected.y())));
        ++found;
    }
    QCOMPARE(found, 3);

    // Each point covers its 2 x 2 logical pixels in device pixels, and
    // nothing else is drawn in its colour.
    int pointPixels = 0;
    for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x)
            pointPixels += isPoint(canvas.pixel(x, y));
    const double perPoint = 4 * ratio * ratio;
    QVERIFY2(pointPixels >= 2 * perPoint && pointPixels <= 3 * 2 * perPoint,
             qPrintable(QString::number(pointPixels)));
}

void TestViewHiDpi::clicksPickTheSameAngle()
{
    LiMapView view;
    prepare(view);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const QPoint origin = view.drawingOrigin();
    struct Click
    {
        QPoint offset;
        double angle;
    };
    for (const Click &click :
         {Click{{30, -40}, qRadiansToDegrees(std::atan2(30.0, 40.0))}, Click{{-50, 0}, 270.0},
          Click{{-60, 80}, 180.0 + qRadiansToDegrees(std::atan2(60.0, 80.0))}}) {
        QTest::mouseClick(&view, Qt::LeftButton, Qt::NoModifier, origin + click.offset);
        QVERIFY2(qAbs(view.selectedAngle() - click.angle) < 1e-9,
                 qPrintable(QString::number(view.selectedAngle())));
    }
}

void TestViewHiDpi::statusBlockKeepsItsLogicalPlace()
{
    LiMapView view;
    prepare(view);
    view.showScan(publishedScan(syntheticRoomScan(360)));
    view.replot();
    const QImage canvas = view.canvasImage().convertToFormat(QImage::Format_RGB32);
    const QVector<LiMapView::StatusLine> lines = view.statusLines();
    QVERIFY(!lines.isEmpty());

    // The text in its colour starts at the block's left edge (give or take a
    // glyph's side bearing, whatever the font) and lies above the last
    // baseline plus a descent.
    int left = canvas.width(), bottom = -1;
    for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x)
            if (isStatusText(canvas.pixel(x, y))) {
                left = qMin(left, x);
                bottom = qMax(bottom, y);
            }
    QVERIFY2(bottom >= 0, "no status text drawn");
    const double leftLogical = left / ratio;
    QVERIFY2(leftLogical >= view.statusLeft() - 2 && leftLogical <= view.statusLeft() + 8,
             qPrintable(QStringLiteral("text starts at %1, block at %2")
                            .arg(leftLogical)
                            .arg(view.statusLeft())));
    QVERIFY2(bottom / ratio <= lines.last().baseline + 12,
             qPrintable(QStringLiteral("text reaches %1, last baseline %2")
                            .arg(bottom / ratio)
                            .arg(lines.last().baseline)));
}

QTEST_MAIN(TestViewHiDpi)
#include "tst_viewhidpi.moc"
