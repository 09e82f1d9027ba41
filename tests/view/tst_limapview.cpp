#include "commandframes.h"
#include "lipkg/lipkg.h"
#include "points/pointsearch.h"
#include "session/sensorsession.h"
#include "streamframes.h"
#include "syntheticscan.h"
#include "trnet/qtrnet.h"
#include "view/confidencepalette.h"
#include "view/limapview.h"

#include <QAction>
#include <QColorDialog>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>
#include <QSerialPort>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(Edition::DecoderKind)

namespace {

PointData point(double angle, uint16_t distance, uint8_t confidence = 0)
{
    PointData p;
    p.angle = angle;
    p.distance = distance;
    p.confidence = confidence;
    return p;
}

// Bounding box of the pixels that have exactly this opaque colour.
QRect boundsOf(const QImage &image, QColor color, const QRect &area = QRect())
{
    const QRect r = area.isNull() ? image.rect() : area & image.rect();
    QRect box;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (image.pixelColor(x, y) == color)
                box |= QRect(x, y, 1, 1);
    return box;
}

// Highest alpha in an area, and the (unpremultiplied) colour of the pixel
// that has it.
QColor strongestPixel(const QImage &image, const QRect &area)
{
    QColor best(0, 0, 0, 0);
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() > best.alpha())
                best = c;
        }
    return best;
}

int darkestGrey(const QImage &image, const QRect &area)
{
    int darkest = 255;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            darkest = qMin(darkest, image.pixelColor(x, y).red());
    return darkest;
}

bool isTransparent(const QImage &image, const QRect &area)
{
    return !strongestPixel(image, area).alpha();
}

// The status block as it should look: the lines in the status font on a
// transparent canvas.
QImage expectedStatus(const QSize &size, int left, const QList<QPair<QString, int>> &lines)
{
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setFont(QFont(QStringLiteral("Times"), 18, 0, false));
    painter.setPen(QColor(0, 255, 0));
    for (const auto &line : lines)
        painter.drawText(left, line.second, line.first);
    painter.end();
    return pixmap.toImage();
}

// The fonts the map draws its texts in; expected boxes are worked out from
// their metrics so that the checks hold whatever family "Times" resolves to.
QFont gridLabelFont()
{
    return QFont(QStringLiteral("Times"), 12, 0, false);
}

QFont pointLabelFont()
{
    return QFont(QStringLiteral("Times"), 24, 0, false);
}

// The strongest pixel of `text` drawn in `font` and `color` on `background`,
// so that an alpha or grey can be compared with what the glyphs really cover.
QColor strongestGlyphPixel(const QFont &font, const QString &text, QColor color, QColor background)
{
    const QFontMetrics metrics(font);
    QImage image(metrics.horizontalAdvance(text) + 8, metrics.height() + 8,
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(background);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(4, 4 + metrics.ascent(), text);
    painter.end();
    QColor best = background;
    int bestDistance = -1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            const int distance =
                qAbs(c.alpha() - background.alpha()) + qAbs(c.red() - background.red());
            if (distance > bestDistance) {
                bestDistance = distance;
                best = c;
            }
        }
    return best;
}

// Most pictures here are checked against a transparent canvas, where only
// what the view drew has any alpha; the default background is black.
void useTransparentBackground(LiMapView &view)
{
    const QString file = QStringLiteral("transparent-background.ini");
    {
        QSettings settings(file, QSettings::IniFormat);
        settings.clear();
        settings.setValue(QStringLiteral("Map/BackgroundColor"), QColor(Qt::transparent));
    }
    QSettings settings(file, QSettings::IniFormat);
    view.loadSettings(settings);
}

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

using StatusList = QList<QPair<QString, int>>;

class TestLiMapView : public QObject
{
    Q_OBJECT
private slots:
    void init();

    // Drawing
    void pointLiesWhereTheFrameSaysSo();
    void farPointsAreDrawnOnTheOrigin();
    void noStatusBeforeTheFirstScan();
    void statusBlock_data();
    void statusBlock();
    void gridIsTheInverseOfTheBackground_data();
    void gridIsTheInverseOfTheBackground();
    void originFollowsTheViewsPlaceInItsParent();
    void selectedPointLabel_data();
    void selectedPointLabel();
    void selectedIndexIsTheDecodersLookup_data();
    void selectedIndexIsTheDecodersLookup();
    void indicatrixLineAndLabelAreDrawnAtThePoint();
    void cachedRedrawEqualsAFreshOne_data();
    void cachedRedrawEqualsAFreshOne();
    void confidenceColours_data();
    void confidenceColours();
    void paletteRunsThroughItsAnchors();

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

void TestLiMapView::pointLiesWhereTheFrameSaysSo()
{
    // Height 600: R = 290, so 5000 mm is 72.5 units, 137.75 pixels at 1.9.
    LiMapView view;
    view.resize(800, 600);
    view.showScan(publishedScan({point(90.0, 5000)}));
    view.replot();
    const QImage image = view.canvasImage();
    const QPoint origin = view.drawingOrigin();
    QCOMPARE(origin, QPoint(399 + 5, 299 - 40));

    const QRect box = boundsOf(image, Qt::white);
    QVERIFY(!box.isNull());
    QVERIFY(box.width() <= 3 && box.height() <= 3);
    const QPointF centre(box.left() + box.width() / 2.0, box.top() + box.height() / 2.0);
    QVERIFY2(qAbs(centre.x() - (origin.x() + 137.75)) <= 0.5,
             qPrintable(QString::number(centre.x())));
    QVERIFY2(qAbs(centre.y() - origin.y()) <= 0.5, qPrintable(QString::number(centre.y())));
}

void TestLiMapView::farPointsAreDrawnOnTheOrigin()
{
    auto render = [](uint16_t distance) {
        LiMapView view;
        view.resize(800, 600);
        view.showScan(publishedScan({point(90.0, distance)}));
        view.setIndicatrixEnable(true);
        view.setSelectedAngle(90.0);
        view.replot();
        return view.canvasImage();
    };
    // Beyond 13000 mm the point, the line and the label are those of 0 mm.
    QCOMPARE(render(13001), render(0));
    QVERIFY(render(13000) != render(0));

    // 13000 mm itself is drawn at its place; the clamp writes only to the
    // view's own copy of the scan.
    const QList<PointData> source = {point(90.0, 13000), point(20.0, 13001)};
    LiMapView view;
    view.resize(800, 600);
    view.showScan(publishedScan(source));
    view.replot();
    const QRect box = boundsOf(view.canvasImage(), Qt::white,
                               QRect(view.drawingOrigin() + QPoint(10, -5), QSize(400, 10)));
    const double expected = view.drawingOrigin().x() + 13000 * 290 * 0.5 / 10000 * 1.9;
    QVERIFY(qAbs(box.left() + box.width() / 2.0 - expected) <= 0.5);
    QCOMPARE(view.scan().at(1).distance, uint16_t(0));
    QCOMPARE(source.at(1).distance, uint16_t(13001));
}

void TestLiMapView::noStatusBeforeTheFirstScan()
{
    LiMapView view;
    useTransparentBackground(view);
    view.resize(1600, 600);
    const QRect statusArea(view.statusLeft() - 10, 0, 250, 120);
    view.replot();
    QVERIFY(isTransparent(view.canvasImage(), statusArea));

    view.showScan(publishedScan({point(0.0, 1000)}));
    view.replot();
    QVERIFY(!isTransparent(view.canvasImage(), statusArea));
}

void TestLiMapView::statusBlock_data()
{
    QTest::addColumn<Edition::DecoderKind>("decoderKind");
    QTest::addColumn<bool>("showError");
    QTest::addColumn<StatusList>("expected");

    const StatusList streaming = {{QStringLiteral("Speed:  0.0"), 30},
                                  {QStringLiteral("Rate :  0.0"), 55},
                                  {QStringLiteral("Valid:  0/0"), 80}};
    StatusList streamingWithError = {{QStringLiteral("Error:  0"), 30}};
    for (const auto &line : streaming)
        streamingWithError.append({line.first, line.second + 25});
    const StatusList net = {{QStringLiteral("Rate : 0.0 hz"), 30},
                            {QStringLiteral("Valid:  0/0"), 55}};
    const StatusList netWithError = {{QStringLiteral("Error:  0"), 30},
                                     {QStringLiteral("Rate : 0.0 hz"), 55},
                                     {QStringLiteral("Valid:  0/0"), 80}};

    using Edition::DecoderKind;
    QTest::newRow("streaming") << DecoderKind::Stream << false << streaming;
    QTest::newRow("streaming, error shown") << DecoderKind::Stream << true << streamingWithError;
    QTest::newRow("streaming with confidence flag")
        << DecoderKind::StreamFlagInConfidence << false << streaming;
    QTest::newRow("command protocol") << DecoderKind::CommandProtocol << false << net;
    QTest::newRow("command protocol, error shown")
        << DecoderKind::CommandProtocol << true << netWithError;
}

void TestLiMapView::statusBlock()
{
    QFETCH(Edition::DecoderKind, decoderKind);
    QFETCH(bool, showError);
    QFETCH(StatusList, expected);

    LiMapView view;
    useTransparentBackground(view);
    view.setDecoderKind(decoderKind);
    view.findChild<QAction *>(QStringLiteral("showErrorAction"))->setChecked(showError);
    view.resize(1600, 600);
    // The figures come from the published scan, not from counting its points.
    view.showScan(publishedScan({point(0.0, 1000), point(90.0, 1000)}));
    view.replot();

    StatusList lines;
    for (const LiMapView::StatusLine &line : view.statusLines())
        lines.append({line.text, line.baseline});
    QCOMPARE(lines, expected);

    QCOMPARE(view.statusLeft(), 1600 - 240);
    const QRect statusArea(1300, 0, 300, 130);
    const QImage want = expectedStatus(view.size(), view.statusLeft(), expected);
    QCOMPARE(view.canvasImage().copy(statusArea), want.copy(statusArea));
}

void TestLiMapView::gridIsTheInverseOfTheBackground_data()
{
    QTest::addColumn<bool>("whiteBackground");
    QTest::newRow("transparent background: white grid") << false;
    QTest::newRow("white background: black grid") << true;
}

void TestLiMapView::gridIsTheInverseOfTheBackground()
{
    QFETCH(bool, whiteBackground);
    LiMapView view;
    writeColor(settingsFile(), "Map/BackgroundColor",
               whiteBackground ? QColor(Qt::white) : QColor(Qt::transparent));
    {
        QSettings settings(settingsFile(), QSettings::IniFormat);
        view.loadSettings(settings);
    }
    view.resize(800, 600);
    view.replot();
    const QImage image = view.canvasImage();
    const QPoint o = view.drawingOrigin();

    // Only the outer ring (275.5 px) crosses this patch; a spoke alone runs
    // through the second; the "90" label sits 285 px right of the origin.
    const QRect ring(o.x() + 246, o.y() + 96, 20, 9);
    const QRect spoke(o.x() + 32, o.y() - 2, 16, 5);
    const QFontMetrics labelMetrics(gridLabelFont());
    const QRect label(o.x() + 285, o.y() - labelMetrics.ascent() - 2,
                      labelMetrics.horizontalAdvance(QStringLiteral("90")) + 6,
                      labelMetrics.height() + 4);

    if (!whiteBackground) {
        for (const auto &[area, alpha] : {std::pair{ring, 80}, {spoke, 90}}) {
            const QColor c = strongestPixel(image, area);
            QVERIFY2(c.alpha() > 0 && c.alpha() <= alpha, qPrintable(QString::number(c.alpha())));
            QVERIFY(c.red() >= 250 && c.green() >= 250 && c.blue() >= 250);
        }
        // White at alpha 200, as the same glyphs cover it.
        const QColor text = strongestPixel(image, label);
        const QColor glyph = strongestGlyphPixel(gridLabelFont(), QStringLiteral("90"),
                                                 QColor(255, 255, 255, 200), Qt::transparent);
        QVERIFY(glyph.alpha() > 0);
        QCOMPARE(text.alpha(), glyph.alpha());
        QCOMPARE(text.rgb(), QColor(Qt::white).rgb());
    } else {
        // Black blended onto white: greys, darkest where the alpha is highest.
        const int ringGrey = darkestGrey(image, ring);
        QVERIFY2(ringGrey < 255 && ringGrey >= 255 - 80, qPrintable(QString::number(ringGrey)));
        const int spokeGrey = darkestGrey(image, spoke);
        QVERIFY(spokeGrey < 255 && spokeGrey >= 255 - 90);
        const QColor glyph = strongestGlyphPixel(gridLabelFont(), QStringLiteral("90"),
                                                 QColor(0, 0, 0, 200), Qt::white);
        QVERIFY(glyph.red() < 255);
        QVERIFY2(qAbs(darkestGrey(image, label) - glyph.red()) <= 1,
                 qPrintable(QString::number(darkestGrey(image, label))));
        for (const QRect &area : {ring, spoke, label})
            for (int y = area.top(); y <= area.bottom(); ++y)
                for (int x = area.left(); x <= area.right(); ++x) {
                    const QColor c = image.pixelColor(x, y);
                    QVERIFY(c.red() == c.green() && c.green() == c.blue() && c.alpha() == 255);
                }
    }
}

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
    QCOMPARE(below.selectedAngleValue(), 0.0);
    QTest::mouseClick(&below, Qt::LeftButton, {}, below.drawingOrigin() + QPoint(60, 0));
    QCOMPARE(below.selectedAngleValue(), 90.0);
}

void TestLiMapView::selectedPointLabel_data()
{
    QTest::addColumn<QList<PointData>>("scan");
    QTest::addColumn<double>("angle");
    QTest::addColumn<bool>("confidence");
    QTest::addColumn<bool>("indicatrix");
    QTest::addColumn<QString>("expected");

    const QList<PointData> scan = {point(30.0, 1500, 7), point(31.0, 1600, 9), endOfScanMarker()};
    QTest::newRow("nearest point")
        << scan << 30.4 << false << true << QString::fromUtf8("30.0°,1500mm");
    QTest::newRow("tie goes to the point above")
        << scan << 30.5 << false << true << QString::fromUtf8("31.0°,1600mm");
    QTest::newRow("confidence form")
        << scan << 30.4 << true << true << QStringLiteral("30.0,1500,7");
    QTest::newRow("3 degrees off: the marker, with the picked angle")
        << scan << 34.0 << false << true << QString::fromUtf8("34.0°,0mm");
    QTest::newRow("marker in confidence form")
        << scan << 27.0 << true << true << QStringLiteral("27.0,0,0");
    QTest::newRow("distance over 13000 shows 0")
        << QList<PointData>{point(30.0, 13001), endOfScanMarker()} << 30.0 << false << true
        << QString::fromUtf8("30.0°,0mm");
    QTest::newRow("13000 is kept") << QList<PointData>{point(30.0, 13000), endOfScanMarker()}
                                   << 30.0 << false << true << QString::fromUtf8("30.0°,13000mm");
    QTest::newRow("indicatrix off: no label") << scan << 30.0 << false << false << QString();
    QTest::newRow("no scan: no label") << QList<PointData>() << 30.0 << false << true << QString();
}

void TestLiMapView::selectedPointLabel()
{
    QFETCH(QList<PointData>, scan);
    QFETCH(double, angle);
    QFETCH(bool, confidence);
    QFETCH(bool, indicatrix);
    QFETCH(QString, expected);

    LiMapView view;
    view.showScan(publishedScan(scan));
    view.setSelectedAngle(angle);
    view.setConfidenceEnable(confidence);
    view.setIndicatrixEnable(indicatrix);
    QCOMPARE(view.selectedPointLabel(), expected);
}

void TestLiMapView::selectedIndexIsTheDecodersLookup_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QByteArray>("bytes");

    QByteArray stream;
    for (int turn = 0; turn < 3; ++turn)
        for (int i = 0; i < 33; ++i) {
            QVector<Wire::StreamPoint> points;
            for (int k = 0; k < 12; ++k)
                points.append({uint16_t(k == 5 ? 0 : 700 + 37 * i + k), uint8_t(9 * k)});
            // Frames with gaps between them, so some picks fall past 2 degrees.
            const auto start = uint16_t(i * 1090);
            stream += Wire::encodePkg47(3600, start, points, uint16_t(start + 700));
        }
    QVector<uint16_t> samples;
    for (int c = 0; c < 160; ++c)
        samples.append(Wire::firSample(uint16_t(c % 9 == 0 ? 0 : 150 + c), uint8_t(30 + c)));
    QTest::newRow("streaming") << "Alder" << stream;
    QTest::newRow("command protocol") << "Fir" << Wire::measuredSampleFrame(100, samples, 5);
}

void TestLiMapView::selectedIndexIsTheDecodersLookup()
{
    // The view picks among the points of the published scan; whatever the
    // angle, that is the point the decoder's own lookup finds in the scan it
    // published (its first entry where the lookup finds none).
    QFETCH(QString, model);
    QFETCH(QByteArray, bytes);
    SensorSession session;
    const Edition::ModelChoice choice = session.chooseModel(model);
    LiMapView view;
    view.setDecoderKind(choice.decoderKind);
    QSignalSpy published(&session, &SensorSession::scanReady);
    connect(&session, &SensorSession::scanReady, &view, &LiMapView::showScan);
    session.push(bytes);
    QVERIFY(!published.isEmpty());
    QVERIFY(!view.scan().isEmpty());

    const QList<PointData> scan = published.last().at(0).value<SensorScan>().points;
    auto decoderIndex = [&](double angle) {
        const int index = findNearestPoint(scan, static_cast<float>(angle));
        return index < 0 ? 0 : index;
    };
    QSet<int> picked;
    for (double angle = 0.0; angle < 360.0; angle += 0.173) {
        view.setSelectedAngle(angle);
        QCOMPARE(view.selectedIndex(), decoderIndex(angle));
        picked.insert(view.selectedIndex());
    }
    // The sweep went through several points, not only the fallback.
    QVERIFY(picked.size() >= 7);
}

void TestLiMapView::indicatrixLineAndLabelAreDrawnAtThePoint()
{
    LiMapView view;
    view.resize(800, 600);
    view.showScan(publishedScan({point(90.0, 5000)}));
    view.setSelectedAngle(90.0);
    const QPoint o = view.drawingOrigin();
    const QRect lineArea(o.x() + 10, o.y() - 1, 120, 2);
    const QFontMetrics metrics(pointLabelFont());
    const QString label = QString::fromUtf8("90.0°,5000mm");
    const QRect labelArea(o.x() + 130, o.y() - metrics.ascent() - 10,
                          metrics.horizontalAdvance(label) + 40, metrics.height() + 20);

    view.replot();
    QVERIFY(boundsOf(view.canvasImage(), Qt::white, lineArea).isNull());
    QVERIFY(boundsOf(view.canvasImage(), Qt::green, labelArea).isNull());

    view.setIndicatrixEnable(true);
    QCOMPARE(view.selectedPointLabel(), label);
    view.replot();
    const QImage image = view.canvasImage();
    // The dotted line, opaque in the inverse of the background.
    QVERIFY(!boundsOf(image, Qt::white, lineArea).isNull());
    // The label starts at the point, on its baseline.
    const QRect text = boundsOf(image, Qt::green, labelArea);
    QVERIFY(!text.isNull());
    // The point sits 137.5 px right of the origin; the glyphs start there
    // give or take the first glyph's bearing.
    const int bearing = metrics.leftBearing(label.at(0));
    QVERIFY2(text.left() >= o.x() + 137 + qMin(0, bearing) - 1 &&
                 text.left() <= o.x() + 139 + qMax(0, bearing),
             qPrintable(QString::number(text.left() - o.x())));
    QVERIFY2(
        text.bottom() <= o.y() + metrics.descent() && text.bottom() >= o.y() - 2 &&
            text.top() >= o.y() - metrics.ascent() - 1,
        qPrintable(QStringLiteral("%1..%2").arg(text.top() - o.y()).arg(text.bottom() - o.y())));
}

enum Change
{
    Offset,
    Scale,
    Background,
    PointColour,
    TextColour,
    ShowError,
    Kind,
    Confidence,
    Indicatrix,
    NewScan,
    Resize
};

void TestLiMapView::cachedRedrawEqualsAFreshOne_data()
{
    QTest::addColumn<int>("change");
    QTest::newRow("offset") << int(Offset);
    QTest::newRow("scale") << int(Scale);
    QTest::newRow("background") << int(Background);
    QTest::newRow("point colour") << int(PointColour);
    QTest::newRow("text colour") << int(TextColour);
    QTest::newRow("show error") << int(ShowError);
    QTest::newRow("decoder kind: three status lines become two") << int(Kind);
    QTest::newRow("confidence colouring") << int(Confidence);
    QTest::newRow("indicatrix and pick") << int(Indicatrix);
    QTest::newRow("new scan") << int(NewScan);
    QTest::newRow("resize") << int(Resize);
}

void TestLiMapView::cachedRedrawEqualsAFreshOne()
{
    // Redrawing skips what did not change; after any change the picture
    // must still be the one a new view draws in the same state.
    QFETCH(int, change);
    writeColor(settingsFile(), "Map/BackgroundColor", QColor(20, 40, 60));
    writeColor(settingsFile(), "Map/PointColor", QColor(200, 100, 0));
    writeColor(settingsFile(), "Map/TextColor", QColor(255, 255, 0));

    auto setUp = [&](LiMapView &view) {
        view.resize(640, 480);
        view.showScan(publishedScan(syntheticRoomScan(450)));
    };
    auto apply = [&](LiMapView &view) {
        switch (Change(change)) {
        case Offset:
            view.setOffset(QPoint(-20, 70));
            break;
        case Scale:
            view.setScale(3.1);
            break;
        case Background:
        case PointColour:
        case TextColour: {
            QSettings settings(settingsFile(), QSettings::IniFormat);
            view.loadSettings(settings);
            break;
        }
        case ShowError:
            view.findChild<QAction *>(QStringLiteral("showErrorAction"))->setChecked(true);
            break;
        case Kind:
            view.setDecoderKind(Edition::DecoderKind::CommandProtocol);
            break;
        case Confidence:
            view.setConfidenceEnable(true);
            break;
        case Indicatrix:
            view.setIndicatrixEnable(true);
            view.setSelectedAngle(100.0);
            break;
        case NewScan:
            view.showScan(publishedScan(syntheticRoomScan(300)));
            break;
        case Resize:
            view.resize(700, 500);
            break;
        }
    };

    LiMapView cached;
    setUp(cached);
    cached.replot();
    const QImage before = cached.canvasImage();
    apply(cached);
    cached.replot();

    LiMapView fresh;
    setUp(fresh);
    apply(fresh);
    fresh.replot();

    QVERIFY(cached.canvasImage() != before);
    QCOMPARE(cached.canvasImage(), fresh.canvasImage());
}

void TestLiMapView::confidenceColours_data()
{
    QTest::addColumn<Edition::DecoderKind>("decoderKind");
    QTest::addColumn<int>("confidence");
    QTest::addColumn<QColor>("expected");
    using Edition::DecoderKind;
    QTest::newRow("plain grey") << DecoderKind::Stream << 77 << QColor(77, 77, 77);
    QTest::newRow("flag kind, odd: red")
        << DecoderKind::StreamFlagInConfidence << 77 << QColor(Qt::red);
    QTest::newRow("flag kind, even: grey")
        << DecoderKind::StreamFlagInConfidence << 76 << QColor(76, 76, 76);
    QTest::newRow("command protocol: palette")
        << DecoderKind::CommandProtocol << 128 << QColor(199, 68, 151);
}

void TestLiMapView::confidenceColours()
{
    QFETCH(Edition::DecoderKind, decoderKind);
    QFETCH(int, confidence);
    QFETCH(QColor, expected);
    LiMapView view;
    useTransparentBackground(view);
    view.resize(800, 600);
    view.setDecoderKind(decoderKind);
    view.showScan(publishedScan({point(90.0, 5000, uint8_t(confidence))}));
    view.setConfidenceEnable(true);
    view.replot();
    const QRect box = boundsOf(view.canvasImage(), expected);
    QVERIFY(!box.isNull());
    QVERIFY(qAbs(box.center().x() - (view.drawingOrigin().x() + 137)) <= 1);
    QVERIFY(boundsOf(view.canvasImage(), Qt::white).isNull());
}

void TestLiMapView::paletteRunsThroughItsAnchors()
{
    const QList<QPair<int, QColor>> anchors = {
        {0, {16, 0, 2}},       {16, {27, 7, 73}},     {32, {43, 17, 163}},   {48, {60, 32, 214}},
        {64, {76, 53, 217}},   {80, {93, 76, 217}},   {96, {113, 93, 217}},  {112, {149, 92, 199}},
        {128, {199, 68, 151}}, {144, {233, 64, 112}}, {160, {248, 88, 84}},  {176, {255, 120, 63}},
        {192, {255, 147, 46}}, {208, {255, 177, 40}}, {224, {255, 204, 40}}, {240, {255, 234, 124}},
        {255, {255, 254, 251}}};
    for (const auto &anchor : anchors)
        QCOMPARE(ConfidencePalette::intensityColor(anchor.first), anchor.second);
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
    QVERIFY2(qAbs(view.selectedAngleValue() - expected) < 1e-9,
             qPrintable(QString::number(view.selectedAngleValue(), 'f', 6)));
    QCOMPARE(view.offsetValue(), QPoint(40, 5));
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

    QCOMPARE(view.offsetValue(), QPoint(40 - 10, 5 + 30));
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
    QCOMPARE(view.offsetValue(), QPoint(40, 5));
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
    QVERIFY2(qFuzzyCompare(view.scaleValue(), expected),
             qPrintable(QString::number(view.scaleValue(), 'g', 17)));
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
    QCOMPARE(view.selectedAngleValue(), 90.0);

    const QPoint below = view.drawingOrigin() + QPoint(0, 50);
    QMouseEvent dbl(QEvent::MouseButtonDblClick, below, view.mapToGlobal(below), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &dbl);
    QCOMPARE(spy.count(), 1);
    QVERIFY(dbl.isAccepted());
    QCOMPARE(view.selectedAngleValue(), 90.0);
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
            return view.backgroundColorValue();
        if (action.startsWith(QLatin1String("text")))
            return view.textColorValue();
        return view.pointColorValue();
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
    QCOMPARE(second.textColorValue(), QColor(255, 0, 0));
    QCOMPARE(second.backgroundColorValue(), QColor(255, 255, 255));
    QCOMPARE(second.pointColorValue(), QColor(0, 0, 255, 128));
    QVERIFY(second.indicatrixEnabled());
    QVERIFY(second.confidenceEnabled());
    QVERIFY(second.findChild<QAction *>(QStringLiteral("showIndicatrixAction"))->isChecked());
    QVERIFY(second.findChild<QAction *>(QStringLiteral("showConfidenceAction"))->isChecked());
}

void TestLiMapView::emptySettingsKeepColoursAndClearFlags()
{
    LiMapView view;
    view.setIndicatrixEnable(true);
    view.setConfidenceEnable(true);
    QSettings settings(settingsFile(), QSettings::IniFormat);
    view.loadSettings(settings);
    QCOMPARE(view.textColorValue(), QColor(0, 255, 0, 255));
    QCOMPARE(view.backgroundColorValue(), QColor(0, 0, 0, 255));
    QCOMPARE(view.pointColorValue(), QColor(255, 255, 255, 255));
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
    QCOMPARE(view.textColorValue(), expected);
}

QTEST_MAIN(TestLiMapView)
#include "tst_limapview.moc"
