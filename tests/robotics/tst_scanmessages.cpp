// Known points in, known ranges and x/y out: the resampling to a grid, the
// robotics angle convention and the JSON the two channels carry.
#include "editions/modeltable.h"
#include "robotics/scanmessages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>
#include <cmath>
#include <cstring>

using namespace Robotics;

namespace {

constexpr double pi = 3.14159265358979323846;

struct Point
{
    double angle;
    uint16_t distance;
    uint8_t confidence;
};

SensorScan scanOf(const QVector<Point> &points)
{
    SensorScan scan;
    for (const Point &p : points)
        scan.points.append(PointData{p.angle, p.distance, p.confidence, 0, 0});
    return scan;
}

QJsonObject parsed(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        qWarning() << error.errorString() << json.left(200);
    return document.object();
}

// Four steps a quarter turn apart, ahead first, counter-clockwise: ahead,
// left, behind, right.
ScanGrid quarters()
{
    ScanGrid grid;
    grid.startDegrees = 0;
    grid.stepDegrees = 90;
    grid.count = 4;
    grid.fullCircle = true;
    return grid;
}

// A 90° field ahead in steps of 15°: -45° (right) to +45° (left).
ScanGrid field90()
{
    ScanGrid grid;
    grid.startDegrees = -45;
    grid.stepDegrees = 15;
    grid.count = 7;
    grid.fullCircle = false;
    return grid;
}

} // namespace

Q_DECLARE_METATYPE(QVector<Point>)
Q_DECLARE_METATYPE(ScanGrid)

class TestScanMessages : public QObject
{
    Q_OBJECT

private slots:
    void laserScanRanges_data()
    {
        QTest::addColumn<ScanGrid>("grid");
        QTest::addColumn<QVector<Point>>("points");
        QTest::addColumn<QVector<double>>("ranges");
        QTest::addColumn<QVector<int>>("intensities");

        QTest::newRow("ahead, left, behind, right: the map's clockwise degrees turned round")
            << quarters()
            << QVector<Point>{{0, 1500, 10}, {90, 2000, 20}, {180, 2500, 30}, {270, 3001, 40}}
            << QVector<double>{1.5, 3.001, 2.5, 2.0} << QVector<int>{10, 40, 30, 20};
        QTest::newRow("the nearest point within half a step wins")
            << quarters() << QVector<Point>{{-30, 1000, 1}, {5, 1234, 2}, {44, 1, 1}, {50, 999, 3}}
            << QVector<double>{1.234, 0, 0, 0.999} << QVector<int>{2, 0, 0, 3};
        QTest::newRow("just short of a full turn is ahead (-0.1° is 0.1° to the left)")
            << quarters() << QVector<Point>{{359.9, 700, 5}} << QVector<double>{0.7, 0, 0, 0}
            << QVector<int>{5, 0, 0, 0};
        QTest::newRow("the nearest with no return leaves the step empty")
            << quarters() << QVector<Point>{{0.5, 0, 0}, {30, 4000, 9}}
            << QVector<double>{noReturnRange, 0, 0, 0} << QVector<int>{0, 0, 0, 0};
        QTest::newRow("a narrow field runs right to left; points outside it are left out")
            << field90()
            << QVector<Point>{{45, 100, 1}, {0, 200, 2}, {315, 300, 3}, {90, 400, 4}, {60, 500, 5}}
            << QVector<double>{0.1, 0, 0, 0.2, 0, 0, 0.3} << QVector<int>{1, 0, 0, 2, 0, 0, 3};
    }
    void laserScanRanges()
    {
        QFETCH(ScanGrid, grid);
        QFETCH(QVector<Point>, points);
        QFETCH(QVector<double>, ranges);
        QFETCH(QVector<int>, intensities);

        ScanEncoder encoder(grid);
        SensorScan scan = scanOf(points);
        scan.utcNs = 1'765'000'000'123'456'789LL;
        QByteArray json;
        encoder.laserScan(scan, json);
        const QJsonObject message = parsed(json);
        QVector<double> gotRanges;
        for (const QJsonValue &v : message.value("ranges").toArray())
            gotRanges << v.toDouble();
        QVector<int> gotIntensities;
        for (const QJsonValue &v : message.value("intensities").toArray())
            gotIntensities << v.toInt();
        QCOMPARE(gotRanges, ranges);
        QCOMPARE(gotIntensities, intensities);
        QCOMPARE(message.value("start_angle").toDouble(), grid.startDegrees * pi / 180);
        QCOMPARE(message.value("end_angle").toDouble(),
                 (grid.startDegrees + (grid.count - 1) * grid.stepDegrees) * pi / 180);
        QVERIFY(noReturnRange < message.value("range_min").toDouble());
        QCOMPARE(message.value("range_max").toDouble(), 65.535);
        const QJsonObject time = message.value("timestamp").toObject();
        QCOMPARE(qint64(time.value("sec").toDouble()), 1'765'000'000LL);
        QCOMPARE(qint64(time.value("nsec").toDouble()), 123'456'789LL);
        QCOMPARE(message.value("frame_id").toString(), QString("laser"));
    }

    // Every point as measured, in metres: the map's right (90°) is -y.
    void pointCloudXY_data()
    {
        QTest::addColumn<double>("angle");
        QTest::addColumn<int>("distance");
        QTest::addColumn<double>("x");
        QTest::addColumn<double>("y");
        QTest::newRow("ahead") << 0.0 << 1000 << 1.0 << 0.0;
        QTest::newRow("right") << 90.0 << 2000 << 0.0 << -2.0;
        QTest::newRow("behind") << 180.0 << 500 << -0.5 << 0.0;
        QTest::newRow("left") << 270.0 << 3000 << 0.0 << 3.0;
        QTest::newRow("front right") << 30.0 << 4000 << 4 * std::sqrt(3.0) / 2 << -2.0;
        QTest::newRow("no return at the origin") << 45.0 << 0 << 0.0 << 0.0;
    }
    void pointCloudXY()
    {
        QFETCH(double, angle);
        QFETCH(int, distance);
        QFETCH(double, x);
        QFETCH(double, y);
        ScanEncoder encoder(quarters());
        // A second point after it shows the stride.
        const SensorScan scan = scanOf({{angle, uint16_t(distance), 77}, {0, 1, 200}});
        QByteArray json;
        encoder.pointCloud(scan, json);
        const QJsonObject message = parsed(json);
        QCOMPARE(message.value("point_stride").toInt(), 9);
        const QJsonArray fields = message.value("fields").toArray();
        QCOMPARE(fields.size(), 3);
        QCOMPARE(fields[2].toObject().value("name").toString(), QString("confidence"));
        const QByteArray data = QByteArray::fromBase64(message.value("data").toString().toLatin1());
        QCOMPARE(int(data.size()), 18);
        float fx = 0, fy = 0;
        std::memcpy(&fx, data.constData(), 4);
        std::memcpy(&fy, data.constData() + 4, 4);
        QVERIFY2(std::fabs(fx - x) < 1e-6 && std::fabs(fy - y) < 1e-6,
                 qPrintable(QString("%1 %2").arg(fx).arg(fy)));
        QCOMPARE(uint8_t(data[8]), uint8_t(77));
        QCOMPARE(uint8_t(data[17]), uint8_t(200));
    }

    // The grids the models get: all round, once round at the nominal step;
    // a narrow field from its right edge to its left, edges included.
    void modelGrids()
    {
        const ScanGrid alder = ScanGrid::forModel(*Models::find("Alder", Qt::CaseSensitive));
        QCOMPARE(alder.count, 2300 / 6);
        QCOMPARE(alder.count * alder.stepDegrees, 360.0);
        QCOMPARE(alder.start(), 0.0);
        const ScanGrid fir = ScanGrid::forModel(*Models::find("Fir", Qt::CaseSensitive));
        QCOMPARE(fir.count, 2400 / 15 + 1);
        QCOMPARE(fir.start(), -pi / 4);
        QCOMPARE(fir.end(), pi / 4);
        // A capture's angles at the edges fall into the edge steps.
        ScanEncoder encoder(fir);
        const std::vector<int> &chosen = encoder.resample(scanOf({{45, 1, 1}, {315, 1, 1}}).points);
        QCOMPARE(chosen.front(), 0);
        QCOMPARE(chosen.back(), 1);
    }
};

QTEST_APPLESS_MAIN(TestScanMessages)
#include "tst_scanmessages.moc"
