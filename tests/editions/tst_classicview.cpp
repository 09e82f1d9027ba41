// The earlier edition's map view: everything that depends on the model is
// decided by what the model's name means (its decoder kind); the status block
// sits further right and shows the pixel sum for Fir.
#include "commandframes.h"
#include "editions/modelrules.h"
#include "session/sensorsession.h"
#include "trnet/qtrnet.h"
#include "view/limapview.h"

#include <QAction>
#include <QSettings>
#include <QtTest>

namespace {

PointData point(double angle, uint16_t distance, uint8_t confidence = 0)
{
    PointData p;
    p.angle = angle;
    p.distance = distance;
    p.confidence = confidence;
    return p;
}

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

// Pixels drawn mostly in the (green) text colour.
QRect textBounds(const QImage &image, const QRect &area)
{
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() > 128 && c.green() > 128 && c.red() < 64 && c.blue() < 64)
                box |= QRect(x, y, 1, 1);
        }
    return box;
}

SensorScan publishedScan(PointList points,
                         SensorScan::Family family = SensorScan::Family::Streaming)
{
    SensorScan scan;
    scan.family = family;
    scan.points = std::move(points);
    return scan;
}

// What the window tells the view when `model` is chosen.
void chooseModel(LiMapView &view, const QString &model)
{
    view.setDecoderKind(Edition::modelChoice(model).decoderKind);
}

using StatusList = QVector<LiMapView::StatusLine>;

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

} // namespace

Q_DECLARE_METATYPE(StatusList)

class TestClassicView : public QObject
{
    Q_OBJECT
private slots:
    void statusBlockByName_data();
    void statusBlockByName();
    void statusTextStartsAtWidthLess220();
    void colouringByName_data();
    void colouringByName();
};

void TestClassicView::statusBlockByName_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("showError");
    QTest::addColumn<StatusList>("expected");

    const StatusList stream = {{"Speed:  0.0", 30}, {"Rate :  0.0", 55}, {"Valid:  0/0", 80}};
    const StatusList fir = {{"Rate : 10.0 hz", 30}, {"Valid:  %1/160", 55}, {"PixSum:  4321", 80}};
    auto withError = [](StatusList lines) {
        for (auto &line : lines)
            line.baseline += 25;
        lines.prepend({"Error:  0", 30});
        return lines;
    };
    QTest::newRow("Alder") << "Alder" << false << stream;
    QTest::newRow("Ginkgo, error shown") << "Ginkgo" << true << withError(stream);
    QTest::newRow("no name yet") << "" << false << stream;
    QTest::newRow("Fir") << "Fir" << false << fir;
    QTest::newRow("Fir, error shown") << "Fir" << true << withError(fir);
}

void TestClassicView::statusBlockByName()
{
    QFETCH(QString, model);
    QFETCH(bool, showError);
    QFETCH(StatusList, expected);

    // Fir's frames went through the session before; a stream scan without
    // figures is shown last.
    SensorSession session;
    LiMapView view;
    connect(&session, &SensorSession::scanReady, &view, &LiMapView::showScan);
    int frameValid = -1;
    connect(&session, &SensorSession::scanReady, this, [&frameValid](const SensorScan &scan) {
        if (!scan.streaming())
            frameValid = scan.valid;
    });
    session.chooseModel("Fir");
    const QVector<uint16_t> samples(160, Wire::firSample(300, 100));
    session.push(Wire::measuredSampleFrame(100, samples, 1));
    session.push(Wire::measuredSampleFrame(200, samples, 4321));
    chooseModel(view, model);
    view.findChild<QAction *>(QStringLiteral("showErrorAction"))->setChecked(showError);
    view.resize(1600, 600);
    view.showScan(publishedScan({point(0.0, 1000), point(90.0, 1000)}));

    for (auto &line : expected)
        if (line.text.contains("%1"))
            line.text = line.text.arg(frameValid);
    QCOMPARE(view.statusLines(), expected);
    QCOMPARE(view.statusLeft(), 1600 - 220);
}

void TestClassicView::statusTextStartsAtWidthLess220()
{
    // The figures of one Fir frame with 160 empty samples.
    SensorScan scan = publishedScan({point(0.0, 1000)}, SensorScan::Family::CommandProtocol);
    scan.rate = 10.0;
    scan.total = 160;
    scan.pixelSum = 65535;
    LiMapView view;
    chooseModel(view, "Fir");
    view.resize(1000, 600);
    view.showScan(scan);
    view.replot();
    const QImage image = view.canvasImage();
    const QRect text = textBounds(image, QRect(700, 0, 300, 120));
    QVERIFY(!text.isNull());
    // Bounds from the metrics of the status font, whatever family it resolves to.
    const QFontMetrics metrics(QFont(QStringLiteral("Times"), 18, 0, false));
    const int bearing = metrics.minLeftBearing();
    QVERIFY2(text.left() >= 780 + qMin(0, bearing) &&
                 text.left() < 780 + metrics.averageCharWidth(),
             qPrintable(QString::number(text.left())));
    // Three lines: the last one, the pixel sum, ends at its baseline of 80.
    QVERIFY2(text.bottom() > 80 - metrics.ascent() / 2 && text.bottom() <= 80 + metrics.descent(),
             qPrintable(QString::number(text.bottom())));
}

void TestClassicView::colouringByName_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("confidence");
    QTest::addColumn<QColor>("expected");
    QTest::newRow("Ginkgo, odd: red") << "Ginkgo" << 77 << QColor(Qt::red);
    QTest::newRow("Hazel, odd: red") << "Hazel" << 201 << QColor(Qt::red);
    QTest::newRow("Hazel, even: grey") << "Hazel" << 76 << QColor(76, 76, 76);
    QTest::newRow("Fir: palette") << "Fir" << 128 << QColor(199, 68, 151);
    QTest::newRow("Alder, odd: grey") << "Alder" << 77 << QColor(77, 77, 77);
    QTest::newRow("Larch, odd: grey") << "Larch" << 201 << QColor(201, 201, 201);
}

void TestClassicView::colouringByName()
{
    QFETCH(QString, model);
    QFETCH(int, confidence);
    QFETCH(QColor, expected);
    LiMapView view;
    useTransparentBackground(view);
    view.resize(800, 600);
    chooseModel(view, model);
    view.showScan(publishedScan({point(90.0, 5000, uint8_t(confidence))}));
    view.setConfidenceEnabled(true);
    view.replot();
    const QRect box = boundsOf(view.canvasImage(), expected);
    QVERIFY(!box.isNull());
    QVERIFY(qAbs(box.center().x() - (view.drawingOrigin().x() + 137)) <= 1);
    QVERIFY(boundsOf(view.canvasImage(), Qt::white).isNull());
}

QTEST_MAIN(TestClassicView)
#include "tst_classicview.moc"
