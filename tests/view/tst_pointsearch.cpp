#include "points/pointsearch.h"

#include <QtTest>

namespace {

PointData at(double angle, uint16_t distance = 1000)
{
    PointData p;
    p.angle = angle;
    p.distance = distance;
    return p;
}

PointList scanOf(std::initializer_list<double> angles, bool marker)
{
    PointList scan;
    for (double a : angles)
        scan.append(at(a));
    if (marker)
        scan.append(endOfScanMarker());
    return scan;
}

} // namespace

class TestPointSearch : public QObject
{
    Q_OBJECT
private slots:
    void nearestPoint_data();
    void nearestPoint();
    void equalFloatAnglesKeepFirstIndex();
    void differencesAreTakenInFloat();
};

void TestPointSearch::nearestPoint_data()
{
    QTest::addColumn<PointList>("scan");
    QTest::addColumn<double>("angle");
    QTest::addColumn<int>("expected");

    // A streaming scan: points, then the end-of-scan marker (index 4).
    const PointList streaming = scanOf({10.0, 11.0, 13.0, 20.0}, true);
    QTest::newRow("exact hit") << streaming << 11.0 << 1;
    QTest::newRow("nearer below") << streaming << 11.4 << 1;
    QTest::newRow("nearer above") << streaming << 12.6 << 2;
    QTest::newRow("tie goes above") << streaming << 12.0 << 2;
    QTest::newRow("next above over 2 degrees picks the marker although below is close")
        << streaming << 13.5 << 4;
    QTest::newRow("next above exactly 2 degrees away is taken") << streaming << 18.0 << 3;
    QTest::newRow("before the first point, within 2 degrees") << streaming << 8.5 << 0;
    QTest::newRow("before the first point, over 2 degrees") << streaming << 7.5 << 4;
    QTest::newRow("past the last point, within 2 degrees") << streaming << 21.9 << 3;
    QTest::newRow("past the last point, 2 degrees or more") << streaming << 22.0 << 4;
    QTest::newRow("marker ends the walk, so a click near 720 is not near it")
        << streaming << 719.5 << 4;

    // A command-protocol scan has no marker: the fallback is its last point.
    const PointList noMarker = scanOf({10.0, 20.0, 30.0}, false);
    QTest::newRow("no marker: far click falls back to the last point") << noMarker << 25.0 << 2;
    QTest::newRow("no marker: near click") << noMarker << 19.0 << 1;

    // The list order does not matter, only the angles.
    const PointList unordered = scanOf({30.0, 10.0, 20.0, 21.0}, true);
    QTest::newRow("unordered list") << unordered << 20.9 << 3;
    QTest::newRow("unordered list, tie") << unordered << 20.5 << 3;

    // Points beyond the marker's angle are never reached.
    PointList beyondMarker = scanOf({10.0}, false);
    beyondMarker << endOfScanMarker() << at(721.0);
    QTest::newRow("points above the marker are ignored") << beyondMarker << 720.2 << 2;

    QTest::newRow("empty scan") << PointList() << 10.0 << -1;
    QTest::newRow("only the marker") << scanOf({}, true) << 10.0 << -1;
    QTest::newRow("nothing at or below, nothing above") << scanOf({}, true) << 800.0 << -1;
}

void TestPointSearch::nearestPoint()
{
    QFETCH(PointList, scan);
    QFETCH(double, angle);
    QFETCH(int, expected);
    QCOMPARE(findNearestPoint(scan, angle), expected);
}

void TestPointSearch::equalFloatAnglesKeepFirstIndex()
{
    // 10.0 and 10.0000000001 are the same float: the first of them stands
    // for both, whichever way the click approaches.
    const PointList scan = {at(5.0), at(10.0000000001), at(10.0), at(11.0)};
    QCOMPARE(findNearestPoint(scan, 10.0), 1);
    QCOMPARE(findNearestPoint(scan, 10.2), 1);
    QCOMPARE(findNearestPoint(scan, 9.8), 1);
}

void TestPointSearch::differencesAreTakenInFloat()
{
    // 2.0000001 degrees in double, exactly 2 in float: still within reach.
    const PointList scan = {at(12.0000001), endOfScanMarker()};
    QCOMPARE(findNearestPoint(scan, 10.0), 0);
    QCOMPARE(findNearestPoint(scan, 9.99), 1);
}

QTEST_APPLESS_MAIN(TestPointSearch)
#include "tst_pointsearch.moc"
