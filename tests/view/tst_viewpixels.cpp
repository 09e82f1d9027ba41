// The map view's picture, frozen: every case draws a fixed scan in a fixed
// state and compares the canvas with a golden image made by an earlier build
// of the view. Text is drawn in whatever font the machine resolves, so the
// areas that hold text (the status block, the grid's angle labels and the
// selected point's label) are left out of the pixel comparison; the status
// lines and the label are compared as values instead.
//
// VANTOSCOPE_WRITE_GOLDENS=1 writes the goldens of the cases instead of
// checking them (into the source tree), for a deliberate change of picture.
#include "commandframes.h"
#include "editions/edition.h"
#include "editions/modelrules.h"
#include "lipkg/lipkg.h"
#include "points/pointsearch.h"
#include "session/sensorsession.h"
#include "streamframes.h"
#include "syntheticscan.h"
#include "view/limapview.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTextStream>
#include <QtMath>
#include <QtTest>
#include <algorithm>
#include <cmath>
#include <memory>

namespace {

using Kind = Edition::DecoderKind;

QString goldenDir()
{
    return QStringLiteral(VANTOSCOPE_GOLDEN_DIR "/") +
           (Edition::classic ? QStringLiteral("classic") : QStringLiteral("full"));
}

bool writingGoldens()
{
    return qEnvironmentVariableIntValue("VANTOSCOPE_WRITE_GOLDENS") != 0;
}

// Twenty-four points 15 degrees apart: a pick between two of them is more
// than 2 degrees from the one above and falls on the end-of-scan marker the
// view adds to a streaming scan.
PointList sparseScan()
{
    PointList scan;
    for (int i = 0; i < 24; ++i)
        scan.append(point(15.0 * i, uint16_t(1500 + 250 * i), uint8_t(11 * i)));
    return scan;
}

// The room with points beyond the plausible range among its walls, where
// the canvas shows them if they were drawn where they claim to be (13000 mm
// is still plausible).
PointList scanWithFarPoints()
{
    PointList scan = syntheticRoomScan(360);
    scan[100].distance = 13000;
    scan[250].distance = 13001;
    scan[260].distance = 14000;
    scan[90].distance = 65535;
    return scan;
}

// Four turns of the streaming sensor with a few damaged bytes in front
// (counted as packet errors) and distances that differ from turn to turn.
QByteArray streamTurns()
{
    QByteArray stream("\x54\x2C\x00\x01\x54\x11\x54", 7);
    for (int turn = 0; turn < 4; ++turn)
        for (int i = 0; i < 33; ++i) {
            QVector<Wire::StreamPoint> points;
            for (int k = 0; k < 12; ++k)
                points.append(
                    {uint16_t(900 + 300 * turn + 40 * i + 3 * k), uint8_t(13 * i + 5 * k)});
            const auto start = uint16_t(i * 1090);
            stream += Wire::encodePkg47(3600, start, points, uint16_t(start + 1000));
        }
    return stream;
}

QByteArray firFrames()
{
    QVector<uint16_t> samples;
    for (int c = 0; c < 160; ++c)
        samples.append(Wire::firSample(uint16_t(120 + (c * 7) % 200), uint8_t(40 + c)));
    return Wire::measuredSampleFrame(100, samples, 17) +
           Wire::measuredSampleFrame(225, samples, 4321);
}

// A state of the view and how it gets its scan.
struct Case
{
    Kind kind = Kind::Stream;
    PointList points;
    // A model and bytes to run through a session instead of `points`: the
    // view then shows what the session published last.
    QString model;
    QByteArray bytes;
    bool confidence = false;
    bool indicatrix = false;
    bool showError = false;
    double selectedAngle = 0.0;
    double scale = 1.9;
    QPoint offset{40, 5};
    // Colours through the settings (invalid: the view's defaults).
    QColor background, text, pointColour;
};

// Puts the view in the case's state and hands it the scan as the window
// does; `keepAlive` holds the session until the picture is taken.
void present(LiMapView &view, const Case &c, std::unique_ptr<SensorSession> &keepAlive)
{
    QSettings settings(QStringLiteral("view.ini"), QSettings::IniFormat);
    settings.clear();
    if (c.background.isValid())
        settings.setValue(QStringLiteral("Map/BackgroundColor"), c.background);
    if (c.text.isValid())
        settings.setValue(QStringLiteral("Map/TextColor"), c.text);
    if (c.pointColour.isValid())
        settings.setValue(QStringLiteral("Map/PointColor"), c.pointColour);
    settings.setValue(QStringLiteral("Map/ConfidenceEnable"), c.confidence);
    settings.setValue(QStringLiteral("Map/IndicatrixEnable"), c.indicatrix);
    view.loadSettings(settings);
    view.findChild<QAction *>(QStringLiteral("showErrorAction"))->setChecked(c.showError);
    view.setScale(c.scale);
    view.setOffset(c.offset);
    view.setSelectedAngle(c.selectedAngle);

    if (c.model.isEmpty()) {
        view.setDecoderKind(c.kind);
        view.showScan(publishedScan(c.points, c.kind == Kind::CommandProtocol
                                                  ? SensorScan::Family::CommandProtocol
                                                  : SensorScan::Family::Streaming));
        return;
    }
    keepAlive = std::make_unique<SensorSession>();
    SensorSession &session = *keepAlive;
    // Scans 100 ms apart, whatever the speed of the machine.
    qint64 now = 0;
    session.setTimeSource([now]() mutable { return now += 100000000; });
    view.setDecoderKind(session.chooseModel(c.model).decoderKind);
    QObject::connect(&session, &SensorSession::scanReady, &view, &LiMapView::showScan);
    QObject::connect(&session, &SensorSession::streamCountersChanged, &view,
                     &LiMapView::setStreamCounters);
    session.push(c.bytes);
}

// Areas whose pixels depend on the font: generous boxes around where each
// text starts, worked out from the geometry alone.
QVector<QRect> textAreas(const LiMapView &view, const Case &c, const PointList &shown)
{
    QVector<QRect> areas;
    const QVector<LiMapView::StatusLine> status = view.statusLines();
    const int lastBaseline = status.isEmpty() ? 0 : status.last().baseline;
    areas.append(
        QRect(QPoint(view.statusLeft() - 8, 0), QPoint(view.width() - 1, lastBaseline + 16)));

    if (c.indicatrix && !shown.isEmpty()) {
        // The label starts where the line from the origin ends.
        const int index = qMax(0, findNearestPoint(shown, float(c.selectedAngle)));
        const PointData &p = shown.at(index);
        const double angle = p.angle > 360.0 ? c.selectedAngle : p.angle;
        const uint16_t distance = p.distance > 13000 ? 0 : p.distance;
        const int diameter = view.height() / 2 - 10;
        const double length = c.scale * distance * diameter * 0.5 / 10000;
        const double theta = qDegreesToRadians(angle);
        const QPoint origin = view.drawingOrigin();
        const QPoint anchor(int(origin.x() + length * std::sin(theta)),
                            int(origin.y() - length * std::cos(theta)));
        areas.append(QRect(anchor.x() - 8, anchor.y() - 48, 460, 66));
    }
    return areas;
}

// The grid's angle labels sit on a ring 10 pixels outside the outer ring.
bool inLabelRing(const LiMapView &view, const Case &c, const QPoint &p)
{
    const int diameter = view.height() / 2 - 10;
    const int labelDistance = int(diameter / 2 * c.scale + 10);
    const QPoint d = p - view.drawingOrigin();
    const double r = std::hypot(d.x(), d.y());
    return r >= labelDistance - 6 && r <= labelDistance + 64;
}

QString statusText(const LiMapView &view)
{
    QString text;
    QTextStream out(&text);
    for (const LiMapView::StatusLine &line : view.statusLines())
        out << line.baseline << '\t' << line.text << '\n';
    out << "label\t" << view.selectedPointLabel() << '\n';
    return text;
}

} // namespace

Q_DECLARE_METATYPE(Case)

class TestViewPixels : public QObject
{
    Q_OBJECT
private slots:
    void pictureIsFrozen_data();
    void pictureIsFrozen();
};

void TestViewPixels::pictureIsFrozen_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<Case>("state");
    auto add = [](const char *name, const Case &c) { QTest::newRow(name) << QString(name) << c; };

    Case stream;
    stream.points = syntheticRoomScan(450);
    add("stream", stream);

    Case confidence = stream;
    confidence.confidence = true;
    add("stream-confidence", confidence);

    Case flag = confidence;
    flag.kind = Kind::StreamFlagInConfidence;
    flag.showError = true;
    add("flag-in-confidence", flag);

    Case command;
    command.kind = Kind::CommandProtocol;
    command.points = syntheticRoomScan(300);
    command.confidence = true;
    command.scale = 10.0;
    command.offset = QPoint(-20, 30);
    add("command-protocol", command);

    Case indicatrix = stream;
    indicatrix.indicatrix = true;
    indicatrix.selectedAngle = 40.0;
    add("indicatrix", indicatrix);

    Case pickedWithConfidence = command;
    pickedWithConfidence.scale = 1.9;
    pickedWithConfidence.offset = QPoint(40, 5);
    pickedWithConfidence.indicatrix = true;
    pickedWithConfidence.selectedAngle = 123.6;
    add("indicatrix-confidence", pickedWithConfidence);

    Case zoomed = indicatrix;
    zoomed.scale = 3.5;
    zoomed.offset = QPoint(-80, 150);
    zoomed.selectedAngle = 300.0;
    add("zoom-offset", zoomed);

    Case far = stream;
    far.points = scanWithFarPoints();
    far.indicatrix = true;
    far.selectedAngle = 250.0;
    add("beyond-the-clamp", far);

    Case marker;
    marker.points = sparseScan();
    marker.indicatrix = true;
    marker.confidence = true;
    marker.selectedAngle = 7.0;
    add("end-marker-picked", marker);

    Case colours = indicatrix;
    colours.background = QColor(240, 240, 230);
    colours.text = QColor(200, 20, 20);
    colours.pointColour = QColor(20, 40, 200);
    colours.selectedAngle = 200.0;
    add("light-colours", colours);

    Case streamSession;
    streamSession.model = QStringLiteral("Alder");
    streamSession.bytes = streamTurns();
    streamSession.showError = true;
    streamSession.indicatrix = true;
    streamSession.selectedAngle = 100.0;
    add("session-stream", streamSession);

    Case firSession;
    firSession.model = QStringLiteral("Fir");
    firSession.bytes = firFrames();
    firSession.showError = true;
    firSession.confidence = true;
    firSession.indicatrix = true;
    firSession.selectedAngle = 0.0;
    firSession.scale = 10.0;
    add("session-fir", firSession);
}

void TestViewPixels::pictureIsFrozen()
{
    QFETCH(QString, name);
    QFETCH(Case, state);

    LiMapView view;
    view.resize(900, 640);
    std::unique_ptr<SensorSession> session;
    present(view, state, session);
    view.replot();
    const QImage canvas = view.canvasImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(canvas.size(), QSize(900, 640));
    const QString status = statusText(view);
    const QVector<QRect> areas = textAreas(view, state, view.scan());

    const QString base = goldenDir() + QLatin1Char('/') + name;
    if (writingGoldens()) {
        QVERIFY(QDir().mkpath(goldenDir()));
        QVERIFY(canvas.save(base + QStringLiteral(".png"), "png"));
        QFile file(base + QStringLiteral(".txt"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(status.toUtf8());
        QSKIP("golden written");
    }

    QFile file(base + QStringLiteral(".txt"));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
    QCOMPARE(status, QString::fromUtf8(file.readAll()));

    const QImage golden =
        QImage(base + QStringLiteral(".png"), "png").convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(golden.size(), canvas.size());
    int compared = 0, differing = 0;
    QPoint first(-1, -1);
    for (int y = 0; y < canvas.height(); ++y) {
        const auto *now = reinterpret_cast<const QRgb *>(canvas.constScanLine(y));
        const auto *then = reinterpret_cast<const QRgb *>(golden.constScanLine(y));
        for (int x = 0; x < canvas.width(); ++x) {
            const QPoint p(x, y);
            if (inLabelRing(view, state, p) ||
                std::any_of(areas.begin(), areas.end(),
                            [&p](const QRect &r) { return r.contains(p); }))
                continue;
            ++compared;
            if (now[x] != then[x]) {
                if (!differing)
                    first = p;
                ++differing;
            }
        }
    }
    if (differing)
        canvas.save(name + QStringLiteral("-actual.png"), "png");
    QVERIFY2(!differing, qPrintable(QStringLiteral("%1 pixels differ, the first at (%2, %3)")
                                        .arg(differing)
                                        .arg(first.x())
                                        .arg(first.y())));
    // The masks must leave most of the picture to compare.
    QVERIFY2(compared > canvas.width() * canvas.height() * 3 / 5,
             qPrintable(QString::number(compared)));
}

QTEST_MAIN(TestViewPixels)
#include "tst_viewpixels.moc"
