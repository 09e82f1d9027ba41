// The map's picture without a widget: a renderer, the state it draws and
// the canvas it fills.
#include "syntheticscan.h"
#include "view/maprenderer.h"

#include <QPainter>
#include <QtTest>

Q_DECLARE_METATYPE(Edition::DecoderKind)

namespace {

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

// The status block as it should look: the lines as QPainter::drawText puts
// them in the status font, on a transparent canvas of the ratio.
QImage expectedStatus(const QSize &size, qreal ratio, int left,
                      const QList<QPair<QString, int>> &lines)
{
    QPixmap pixmap(size * ratio);
    pixmap.setDevicePixelRatio(ratio);
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

// A renderer and the state it draws, with the view's default look.
struct Map
{
    explicit Map(int width = 800, int height = 600) { state.geometry = QRect(0, 0, width, height); }
    QImage draw()
    {
        renderer.render(state);
        return renderer.image();
    }
    QPoint origin() const { return MapRenderer::drawingOrigin(state); }

    MapViewState state;
    MapRenderer renderer;
};

} // namespace

using StatusList = QList<QPair<QString, int>>;

class TestMapRenderer : public QObject
{
    Q_OBJECT
private slots:
    void pointLiesWhereTheFrameSaysSo();
    void farPointsAreDrawnOnTheOrigin();
    void noStatusBeforeTheFirstScan();
    void statusBlock_data();
    void statusBlock();
    void gridIsTheInverseOfTheBackground_data();
    void gridIsTheInverseOfTheBackground();
    void selectedPointLabel_data();
    void selectedPointLabel();
    void indicatrixLineAndLabelAreDrawnAtThePoint();
    void cachedRedrawEqualsAFreshOne_data();
    void cachedRedrawEqualsAFreshOne();
    void confidenceColours_data();
    void confidenceColours();
};

void TestMapRenderer::pointLiesWhereTheFrameSaysSo()
{
    // Height 600: R = 290, so 5000 mm is 72.5 units, 137.75 pixels at 1.9.
    // A sample frame, so no end-of-scan marker is drawn at the origin.
    Map view(800, 600);
    view.renderer.showScan(publishedScan({point(90.0, 5000)}, SensorScan::Family::CommandProtocol));
    const QImage image = view.draw();
    const QPoint origin = view.origin();
    QCOMPARE(origin, QPoint(399 + 5, 299 - 40));

    const QRect box = boundsOf(image, Qt::white);
    QVERIFY(!box.isNull());
    QVERIFY(box.width() <= 3 && box.height() <= 3);
    const QPointF centre(box.left() + box.width() / 2.0, box.top() + box.height() / 2.0);
    QVERIFY2(qAbs(centre.x() - (origin.x() + 137.75)) <= 0.5,
             qPrintable(QString::number(centre.x())));
    QVERIFY2(qAbs(centre.y() - origin.y()) <= 0.5, qPrintable(QString::number(centre.y())));
}

void TestMapRenderer::farPointsAreDrawnOnTheOrigin()
{
    auto render = [](uint16_t distance) {
        Map view(800, 600);
        view.renderer.showScan(publishedScan({point(90.0, distance)}));
        view.state.indicatrixEnabled = true;
        view.state.selectedAngle = 90.0;
        return view.draw();
    };
    // Beyond 13000 mm the point, the line and the label are those of 0 mm.
    QCOMPARE(render(13001), render(0));
    QVERIFY(render(13000) != render(0));

    // 13000 mm itself is drawn at its place; the clamp writes only to the
    // view's own copy of the scan.
    const PointList source = {point(90.0, 13000), point(20.0, 13001)};
    Map view(800, 600);
    view.renderer.showScan(publishedScan(source));
    view.draw();
    const QRect box = boundsOf(view.renderer.image(), Qt::white,
                               QRect(view.origin() + QPoint(10, -5), QSize(400, 10)));
    const double expected = view.origin().x() + 13000 * 290 * 0.5 / 10000 * 1.9;
    QVERIFY(qAbs(box.left() + box.width() / 2.0 - expected) <= 0.5);
    QCOMPARE(view.renderer.scan().at(1).distance, uint16_t(0));
    QCOMPARE(source.at(1).distance, uint16_t(13001));
}

void TestMapRenderer::noStatusBeforeTheFirstScan()
{
    Map view(1600, 600);
    view.state.backgroundColor = Qt::transparent;
    const QRect statusArea(MapRenderer::statusLeft(view.state) - 10, 0, 250, 120);
    view.draw();
    QVERIFY(isTransparent(view.renderer.image(), statusArea));

    view.renderer.showScan(publishedScan({point(0.0, 1000)}));
    view.draw();
    QVERIFY(!isTransparent(view.renderer.image(), statusArea));
}

void TestMapRenderer::statusBlock_data()
{
    QTest::addColumn<Edition::DecoderKind>("decoderKind");
    QTest::addColumn<bool>("showError");
    QTest::addColumn<StatusList>("expected");
    QTest::addColumn<qreal>("ratio");

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
    QTest::newRow("streaming") << DecoderKind::Stream << false << streaming << 1.0;
    QTest::newRow("streaming, error shown")
        << DecoderKind::Stream << true << streamingWithError << 1.0;
    QTest::newRow("streaming with confidence flag")
        << DecoderKind::StreamFlagInConfidence << false << streaming << 1.0;
    QTest::newRow("command protocol") << DecoderKind::CommandProtocol << false << net << 1.0;
    QTest::newRow("command protocol, error shown")
        << DecoderKind::CommandProtocol << true << netWithError << 1.0;
    QTest::newRow("streaming at 1.5") << DecoderKind::Stream << false << streaming << 1.5;
    QTest::newRow("command protocol at 2")
        << DecoderKind::CommandProtocol << true << netWithError << 2.0;
}

void TestMapRenderer::statusBlock()
{
    QFETCH(Edition::DecoderKind, decoderKind);
    QFETCH(bool, showError);
    QFETCH(StatusList, expected);
    QFETCH(qreal, ratio);

    Map view(1600, 600);
    view.state.backgroundColor = Qt::transparent;
    view.state.devicePixelRatio = ratio;
    view.state.decoderKind = decoderKind;
    view.state.errorShown = showError;
    // The figures come from the published scan, not from counting its points.
    view.renderer.showScan(publishedScan({point(0.0, 1000), point(90.0, 1000)}));
    view.draw();
    // Lines shaped once are drawn the same when they come again.
    view.renderer.showScan(publishedScan({point(0.0, 1000), point(90.0, 1000)}));
    view.draw();

    StatusList lines;
    for (const MapRenderer::StatusLine &line : view.renderer.statusLines(view.state))
        lines.append({line.text, line.baseline});
    QCOMPARE(lines, expected);

    QCOMPARE(MapRenderer::statusLeft(view.state), 1600 - 240);
    const QRect statusArea(1300, 0, 300, 130);
    const QRect pixels(statusArea.topLeft() * ratio, statusArea.size() * ratio);
    const QImage want = expectedStatus(view.state.geometry.size(), ratio,
                                       MapRenderer::statusLeft(view.state), expected);
    QImage got = view.renderer.image().copy(pixels);
    QImage expectedPixels = want.copy(pixels);
    got.setDevicePixelRatio(1);
    expectedPixels.setDevicePixelRatio(1);
    QCOMPARE(got, expectedPixels);
}

void TestMapRenderer::gridIsTheInverseOfTheBackground_data()
{
    QTest::addColumn<bool>("whiteBackground");
    QTest::newRow("transparent background: white grid") << false;
    QTest::newRow("white background: black grid") << true;
}

void TestMapRenderer::gridIsTheInverseOfTheBackground()
{
    QFETCH(bool, whiteBackground);
    Map view(800, 600);
    view.state.backgroundColor = whiteBackground ? QColor(Qt::white) : QColor(Qt::transparent);
    const QImage image = view.draw();
    const QPoint o = view.origin();

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

void TestMapRenderer::selectedPointLabel_data()
{
    QTest::addColumn<PointList>("scan");
    QTest::addColumn<double>("angle");
    QTest::addColumn<bool>("confidence");
    QTest::addColumn<bool>("indicatrix");
    QTest::addColumn<QString>("expected");

    const PointList scan = {point(30.0, 1500, 7), point(31.0, 1600, 9)};
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
        << PointList{point(30.0, 13001)} << 30.0 << false << true << QString::fromUtf8("30.0°,0mm");
    QTest::newRow("13000 is kept") << PointList{point(30.0, 13000)} << 30.0 << false << true
                                   << QString::fromUtf8("30.0°,13000mm");
    QTest::newRow("indicatrix off: no label") << scan << 30.0 << false << false << QString();
    QTest::newRow("no scan: no label") << PointList() << 30.0 << false << true << QString();
}

void TestMapRenderer::selectedPointLabel()
{
    QFETCH(PointList, scan);
    QFETCH(double, angle);
    QFETCH(bool, confidence);
    QFETCH(bool, indicatrix);
    QFETCH(QString, expected);

    MapRenderer renderer;
    if (!scan.isEmpty())
        renderer.showScan(publishedScan(scan));
    MapViewState state;
    state.selectedAngle = angle;
    state.confidenceEnabled = confidence;
    state.indicatrixEnabled = indicatrix;
    QCOMPARE(renderer.selectedPointLabel(state), expected);
}

void TestMapRenderer::indicatrixLineAndLabelAreDrawnAtThePoint()
{
    Map view(800, 600);
    view.renderer.showScan(publishedScan({point(90.0, 5000)}));
    view.state.selectedAngle = 90.0;
    const QPoint o = view.origin();
    const QRect lineArea(o.x() + 10, o.y() - 1, 120, 2);
    const QFontMetrics metrics(pointLabelFont());
    const QString label = QString::fromUtf8("90.0°,5000mm");
    const QRect labelArea(o.x() + 130, o.y() - metrics.ascent() - 10,
                          metrics.horizontalAdvance(label) + 40, metrics.height() + 20);

    view.draw();
    QVERIFY(boundsOf(view.renderer.image(), Qt::white, lineArea).isNull());
    QVERIFY(boundsOf(view.renderer.image(), Qt::green, labelArea).isNull());

    view.state.indicatrixEnabled = true;
    QCOMPARE(view.renderer.selectedPointLabel(view.state), label);
    const QImage image = view.draw();
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
    IndicatrixOff,
    PickMoves,
    NewScan,
    SmallerScan,
    FarPoints,
    Figures,
    Resize
};

void TestMapRenderer::cachedRedrawEqualsAFreshOne_data()
{
    QTest::addColumn<int>("change");
    QTest::addColumn<qreal>("ratio");
    const QList<QPair<const char *, Change>> changes{
        {"offset", Offset},
        {"scale", Scale},
        {"background", Background},
        {"point colour", PointColour},
        {"text colour", TextColour},
        {"show error", ShowError},
        {"decoder kind: three status lines become two", Kind},
        {"confidence colouring", Confidence},
        {"indicatrix off", IndicatrixOff},
        {"pick moves", PickMoves},
        {"new scan", NewScan},
        {"smaller scan", SmallerScan},
        {"two far points", FarPoints},
        {"figures change", Figures},
        {"resize", Resize},
    };
    for (qreal ratio : {1.0, 1.5, 2.0})
        for (const auto &change : changes)
            QTest::addRow("%s at %g", change.first, ratio) << int(change.second) << ratio;
}

void TestMapRenderer::cachedRedrawEqualsAFreshOne()
{
    // A redraw puts the grid back only where the last scan was drawn; after
    // any change the picture must still be the one a new view draws in the
    // same state, and every pixel that changed must lie in the area the
    // renderer reports, which is all a window repaints.
    QFETCH(int, change);
    QFETCH(qreal, ratio);
    auto setUp = [&](Map &view) {
        view.state.geometry = QRect(0, 0, 640, 480);
        view.state.devicePixelRatio = ratio;
        view.state.indicatrixEnabled = true;
        view.state.selectedAngle = 31.0;
        view.renderer.showScan(publishedScan(syntheticRoomScan(450)));
        view.renderer.setStreamCounters(6.1, 3);
    };
    auto apply = [&](Map &view) {
        switch (Change(change)) {
        case Offset:
            view.state.offset = QPoint(-20, 70);
            break;
        case Scale:
            view.state.scale = 3.1;
            break;
        case Background:
            view.state.backgroundColor = QColor(20, 40, 60);
            break;
        case PointColour:
            view.state.pointColor = QColor(200, 100, 0);
            break;
        case TextColour:
            view.state.textColor = QColor(255, 255, 0);
            break;
        case ShowError:
            view.state.errorShown = true;
            break;
        case Kind:
            view.state.decoderKind = Edition::DecoderKind::CommandProtocol;
            break;
        case Confidence:
            view.state.confidenceEnabled = true;
            break;
        case IndicatrixOff:
            view.state.indicatrixEnabled = false;
            break;
        case PickMoves:
            view.state.selectedAngle = 200.0;
            break;
        case NewScan:
            view.renderer.showScan(publishedScan(syntheticRoomScan(300)));
            break;
        case SmallerScan: {
            PointList near;
            for (int i = 0; i < 24; ++i)
                near.append(point(15.0 * i, 600));
            view.renderer.showScan(publishedScan(near));
            break;
        }
        case FarPoints:
            view.state.pointColor = QColor(255, 0, 0);
            view.renderer.showScan(publishedScan({point(0, 8000), point(90, 8000)}));
            break;
        case Figures:
            view.renderer.setStreamCounters(12.75, 1234567);
            view.state.errorShown = true;
            break;
        case Resize:
            view.state.geometry = QRect(0, 0, 700, 500);
            break;
        }
    };

    Map cached;
    setUp(cached);
    const QImage before = cached.draw();
    apply(cached);
    QVERIFY(cached.renderer.render(cached.state));
    const QImage after = cached.renderer.image();

    Map fresh;
    setUp(fresh);
    apply(fresh);

    QVERIFY(after != before);
    QCOMPARE(after, fresh.draw());
    if (after.size() == before.size()) {
        const QRegion changed = cached.renderer.changedArea();
        int outside = 0;
        for (int y = 0; y < after.height(); ++y)
            for (int x = 0; x < after.width(); ++x)
                if (after.pixel(x, y) != before.pixel(x, y) &&
                    !changed.contains(QPoint(int(x / ratio), int(y / ratio))))
                    ++outside;
        QCOMPARE(outside, 0);
        // A new scan on the same grid repaints only around the scans.
        if (change == SmallerScan) {
            const QRect whole(0, 0, 640, 480);
            QVERIFY(changed != QRegion(whole));
        }
        // Points far apart: the grid between them is left as it is.
        if (change == FarPoints) {
            QRect red;
            for (int y = 0; y < after.height(); ++y)
                for (int x = 0; x < after.width(); ++x)
                    if (after.pixel(x, y) == qRgb(255, 0, 0))
                        red |= QRect(x, y, 1, 1);
            QVERIFY(red.width() > 100 && red.height() > 100);
            QVERIFY(!changed.contains(red.center() / ratio));
        }
    }
    // Nothing changed since: the picture is kept.
    QVERIFY(!cached.renderer.render(cached.state));
}

void TestMapRenderer::confidenceColours_data()
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

void TestMapRenderer::confidenceColours()
{
    QFETCH(Edition::DecoderKind, decoderKind);
    QFETCH(int, confidence);
    QFETCH(QColor, expected);
    Map view(800, 600);
    view.state.backgroundColor = Qt::transparent;
    view.state.decoderKind = decoderKind;
    view.renderer.showScan(publishedScan({point(90.0, 5000, uint8_t(confidence))}));
    view.state.confidenceEnabled = true;
    view.draw();
    const QRect box = boundsOf(view.renderer.image(), expected);
    QVERIFY(!box.isNull());
    QVERIFY(qAbs(box.center().x() - (view.origin().x() + 137)) <= 1);
    QVERIFY(boundsOf(view.renderer.image(), Qt::white).isNull());
}

QTEST_MAIN(TestMapRenderer)
#include "tst_maprenderer.moc"
