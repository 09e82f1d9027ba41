#include "filter/clusterfilters.h"
#include "filter/scanfilter.h"

#include <QtTest>

// The two cluster filters, their judging rules and thresholds, the wrap
// join and the smoothing pass.
class TestClusterFilters : public QObject
{
    Q_OBJECT

private slots:
    void correctionByTypeCode_data();
    void correctionByTypeCode();
    void correctionSaturatesDistance();
    void farPointsPassInOrder_data();
    void farPointsPassInOrder();
    void correctingJudgesClusters_data();
    void correctingJudgesClusters();
    void correctingClusterBoundaries_data();
    void correctingClusterBoundaries();
    void relativeJudgesClusters_data();
    void relativeJudgesClusters();
    void relativeClusterBoundaries_data();
    void relativeClusterBoundaries();
    void resultIsFarThenKeptClusters();
    void speedZeroSplitsEveryAngleChange();
    void smoothing_data();
    void smoothing();
    void stageChoosesFilterByVariant();
};

using Points = std::vector<PointData>;
Q_DECLARE_METATYPE(Points)

static PointData pt(double angle, uint16_t distance, uint8_t confidence)
{
    PointData p;
    p.angle = angle;
    p.distance = distance;
    p.confidence = confidence;
    return p;
}

// `count` points from `angle` in steps of `step` degrees.
static Points cluster(double angle, int count, double step, uint16_t distance,
                      QVector<uint8_t> confidences)
{
    Points result;
    for (int i = 0; i < count; ++i)
        result.push_back(pt(angle + i * step, distance, confidences[i % confidences.size()]));
    return result;
}

static QVector<uint16_t> distances(const Points &points)
{
    QVector<uint16_t> result;
    for (const PointData &p : points)
        result.append(p.distance);
    return result;
}

// Type code 5 has no correction constants, so points pass the correction unchanged.
constexpr int uncorrected = 5;
// At 2300 deg/s the correcting filter's gap is 1.5 degrees and its minimum
// mean step 0.8; at 4500 the relative filter's gap is 2 degrees.
constexpr int correctingSpeed = 2300;
constexpr int relativeSpeed = 4500;

void TestClusterFilters::correctionByTypeCode_data()
{
    QTest::addColumn<int>("typeCode");
    QTest::addColumn<double>("angle");
    QTest::addColumn<uint16_t>("distance");
    QTest::addColumn<double>("expectedAngle");
    QTest::addColumn<uint16_t>("expectedDistance");
    // m = 508.1, l = 37.0994: sqrt(l^2 + m^2) = 509.45, atan(l / m) = 4.1761 degrees.
    QTest::newRow("type 0") << 0 << 10.0 << uint16_t(500) << 5.823902028 << uint16_t(509);
    QTest::newRow("type 9") << 9 << 10.0 << uint16_t(500) << 5.823902028 << uint16_t(509);
    QTest::newRow("type 3") << 3 << 10.0 << uint16_t(500) << 5.538289727 << uint16_t(507);
    QTest::newRow("type 20") << 20 << 10.0 << uint16_t(500) << 5.770038338 << uint16_t(507);
    QTest::newRow("below 0 wraps up")
        << 0 << 2.0 << uint16_t(500) << 357.823902028 << uint16_t(509);
    QTest::newRow("type 5 unchanged") << 5 << 10.0 << uint16_t(500) << 10.0 << uint16_t(500);
    QTest::newRow("type 24 unchanged") << 24 << 10.0 << uint16_t(500) << 10.0 << uint16_t(500);
    QTest::newRow("exactly 360 stays") << 5 << 360.0 << uint16_t(500) << 360.0 << uint16_t(500);
    QTest::newRow("above 360 wraps down") << 5 << 360.5 << uint16_t(500) << 0.5 << uint16_t(500);
}

void TestClusterFilters::correctionByTypeCode()
{
    QFETCH(int, typeCode);
    QFETCH(double, angle);
    QFETCH(uint16_t, distance);
    QFETCH(double, expectedAngle);
    QFETCH(uint16_t, expectedDistance);
    const Points out = CorrectingClusterFilter(typeCode, correctingSpeed)
                           .correct({pt(angle, distance, 7), pt(1, 0, 9)});
    QCOMPARE(int(out.size()), 1); // the point without a return is dropped
    QVERIFY2(std::abs(out[0].angle - expectedAngle) < 1e-8,
             qPrintable(QString::number(out[0].angle, 'f', 9)));
    QCOMPARE(out[0].distance, expectedDistance);
    QCOMPARE(out[0].confidence, uint8_t(7));
}

void TestClusterFilters::correctionSaturatesDistance()
{
    // The corrected length of 65535 is about 66004; it must not wrap round to
    // a near distance of 468.
    const Points out = CorrectingClusterFilter(0, correctingSpeed).correct({pt(90, 65535, 100)});
    QCOMPARE(out[0].distance, uint16_t(65535));
}

void TestClusterFilters::farPointsPassInOrder_data()
{
    QTest::addColumn<int>("variant");
    QTest::addColumn<uint16_t>("far");
    QTest::newRow("correcting, 1000 is far") << 0 << uint16_t(1000);
    QTest::newRow("relative, 5000 is far") << 1 << uint16_t(5000);
}

void TestClusterFilters::farPointsPassInOrder()
{
    QFETCH(int, variant);
    QFETCH(uint16_t, far);
    // Isolated points of low, odd confidence: dropped whenever they are near.
    Points in;
    for (int i = 0; i < 20; ++i)
        in.push_back(pt(350 - i * 17, uint16_t(far + (i % 3) * 1000), 1));
    const Points out = variant == 0
                           ? CorrectingClusterFilter(uncorrected, correctingSpeed).apply(in)
                           : RelativeClusterFilter(relativeSpeed).apply(in);
    QCOMPARE(distances(out), distances(in));
    QCOMPARE(out.front().angle, 350.0);

    Points nearIn = in;
    for (PointData &p : nearIn)
        p.distance = uint16_t(far - 1);
    const Points nearOut = variant == 0
                               ? CorrectingClusterFilter(uncorrected, correctingSpeed).apply(nearIn)
                               : RelativeClusterFilter(relativeSpeed).apply(nearIn);
    QVERIFY(nearOut.empty());
    QVERIFY(CorrectingClusterFilter(0, correctingSpeed).apply({}).empty());
    QVERIFY(RelativeClusterFilter(relativeSpeed).apply({}).empty());
}

void TestClusterFilters::correctingJudgesClusters_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("step");
    QTest::addColumn<int>("distance");
    QTest::addColumn<QVector<uint8_t>>("confidences");
    QTest::addColumn<bool>("kept");
    const QVector<uint8_t> odd{1};
    QTest::newRow("16 points always kept") << 16 << 0.1 << 200 << odd << true;
    QTest::newRow("15 weak odd points dropped") << 15 << 0.1 << 200 << odd << false;
    QTest::newRow("single even 94 kept") << 1 << 0.0 << 500 << QVector<uint8_t>{94} << true;
    QTest::newRow("single even 92 dropped") << 1 << 0.0 << 500 << QVector<uint8_t>{92} << false;
    QTest::newRow("single odd 201 dropped") << 1 << 0.0 << 500 << QVector<uint8_t>{201} << false;
    // a: few odd confidences and a high mean.
    QTest::newRow("a: E below 0.2, M above 92")
        << 6 << 0.1 << 500 << QVector<uint8_t>{101, 100, 100, 100, 100, 100} << true;
    // b: mostly odd and weak, even though widely spaced.
    QTest::newRow("b: E above 0.5, M below 92")
        << 4 << 1.0 << 500 << QVector<uint8_t>{11, 11, 11, 10} << false;
    // c: near, weak, small; spacing would keep it.
    QTest::newRow("c: close, weak, 4 points")
        << 4 << 1.0 << 299 << QVector<uint8_t>{10, 10, 11, 12} << false;
    QTest::newRow("c does not reach 300")
        << 4 << 1.0 << 300 << QVector<uint8_t>{10, 10, 11, 12} << true;
    // d: two strong odd points close by.
    QTest::newRow("d: close pair, all odd") << 2 << 1.0 << 200 << QVector<uint8_t>{201} << false;
    QTest::newRow("d not past 300") << 2 << 1.0 << 300 << QVector<uint8_t>{201} << true;
    // e: mean step against speed / 2300 - 0.2 = 0.8.
    QTest::newRow("e: widely spaced kept") << 5 << 0.9 << 500 << QVector<uint8_t>{10, 11} << true;
    QTest::newRow("e: densely spaced dropped")
        << 5 << 0.7 << 500 << QVector<uint8_t>{10, 11} << false;
}

void TestClusterFilters::correctingJudgesClusters()
{
    QFETCH(int, count);
    QFETCH(double, step);
    QFETCH(int, distance);
    QFETCH(QVector<uint8_t>, confidences);
    QFETCH(bool, kept);
    Points in = cluster(100, count, step, uint16_t(distance), confidences);
    in.push_back(pt(200, 3000, 1)); // a far point is always there
    const Points out = CorrectingClusterFilter(uncorrected, correctingSpeed).apply(in);
    QCOMPARE(int(out.size()), kept ? count + 1 : 1);
    QCOMPARE(out.front().distance, uint16_t(3000));
}

void TestClusterFilters::correctingClusterBoundaries_data()
{
    QTest::addColumn<Points>("in");
    QTest::addColumn<int>("kept");
    // Two groups of 8 weak points: kept only when they form one cluster of 16.
    const QVector<uint8_t> weak{1};
    const auto pair = [&](double secondAngle, uint16_t secondDistance) {
        Points p = cluster(100, 8, 0.125, 500, weak); // up to 100.875
        const Points q = cluster(secondAngle, 8, 0.125, secondDistance, weak);
        p.insert(p.end(), q.begin(), q.end());
        return p;
    };
    QTest::newRow("distance jump of 50 stays one cluster") << pair(101.0, 550) << 16;
    QTest::newRow("jump of 51 splits") << pair(101.0, 551) << 0;
    QTest::newRow("angle jump of 1.5 stays one cluster") << pair(102.375, 500) << 16;
    QTest::newRow("angle jump above 1.5 splits") << pair(102.5, 500) << 0;
    // Across 0: eight points from 359.0 and eight from 0.0; a third cluster
    // between keeps them apart in the sort.
    const auto wrap = [&](uint16_t lastDistance) {
        Points p = cluster(0.0, 8, 0.125, 500, weak);
        const Points mid = cluster(180, 1, 0, 500, {1});
        const Points end = cluster(359.0, 8, 0.125, lastDistance, weak);
        p.insert(p.end(), mid.begin(), mid.end());
        p.insert(p.end(), end.begin(), end.end());
        return p;
    };
    QTest::newRow("wrap join when distances differ by 49") << wrap(451) << 16;
    QTest::newRow("no wrap join at a difference of 50") << wrap(450) << 0;
}

void TestClusterFilters::correctingClusterBoundaries()
{
    QFETCH(Points, in);
    QFETCH(int, kept);
    const Points out = CorrectingClusterFilter(uncorrected, correctingSpeed).apply(in);
    QCOMPARE(int(out.size()), kept);
}

void TestClusterFilters::relativeJudgesClusters_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QVector<uint8_t>>("confidences");
    QTest::addColumn<bool>("kept");
    QTest::newRow("16 points of confidence 0 kept") << 16 << QVector<uint8_t>{0} << true;
    QTest::newRow("single 220 kept") << 1 << QVector<uint8_t>{220} << true;
    QTest::newRow("single 219 dropped") << 1 << QVector<uint8_t>{219} << false;
    QTest::newRow("pair with integer mean 219 dropped") << 2 << QVector<uint8_t>{219, 220} << false;
    QTest::newRow("pair with mean 220 kept") << 2 << QVector<uint8_t>{220, 221} << true;
    QTest::newRow("three with mean 16 kept") << 3 << QVector<uint8_t>{16} << true;
    QTest::newRow("three with mean 15 dropped") << 3 << QVector<uint8_t>{15} << false;
    QTest::newRow("15 with mean 15.07 kept")
        << 15 << QVector<uint8_t>{16, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15}
        << true;
}

void TestClusterFilters::relativeJudgesClusters()
{
    QFETCH(int, count);
    QFETCH(QVector<uint8_t>, confidences);
    QFETCH(bool, kept);
    Points in = cluster(100, count, 0.1, 2000, confidences);
    in.insert(in.begin(), pt(200, 5000, 0));
    const Points out = RelativeClusterFilter(relativeSpeed).apply(in);
    QCOMPARE(int(out.size()), kept ? count + 1 : 1);
}

void TestClusterFilters::relativeClusterBoundaries_data()
{
    QTest::addColumn<Points>("in");
    QTest::addColumn<int>("kept");
    // Single points of confidence 200 are dropped; in one cluster of three
    // they are kept.
    QTest::newRow("within 3% stays one cluster")
        << Points{pt(10, 1000, 200), pt(10.5, 1029, 200), pt(11, 1029, 200)} << 3;
    QTest::newRow("more than 3% splits")
        << Points{pt(10, 1000, 200), pt(10.5, 1031, 200), pt(11, 1060, 200)} << 0;
    QTest::newRow("angle gap of 2 stays one cluster")
        << Points{pt(10, 1000, 200), pt(12, 1000, 200), pt(14, 1000, 200)} << 3;
    QTest::newRow("angle gap above 2 splits")
        << Points{pt(10, 1000, 200), pt(12.01, 1000, 200), pt(14.02, 1000, 200)} << 0;
    // Joined, the single point at 0.5 and the pair before 360 make a cluster
    // of three judged by mean confidence; apart, both are too weak.
    QTest::newRow("wrap join within 3% of the last distance")
        << Points{pt(0.5, 1029, 100), pt(180, 1000, 0), pt(359.0, 1000, 100), pt(359.5, 1000, 100)}
        << 3;
    QTest::newRow("no wrap join beyond 3%")
        << Points{pt(0.5, 1031, 100), pt(180, 1000, 0), pt(359.0, 1000, 100), pt(359.5, 1000, 100)}
        << 0;
}

void TestClusterFilters::relativeClusterBoundaries()
{
    QFETCH(Points, in);
    QFETCH(int, kept);
    QCOMPARE(int(RelativeClusterFilter(relativeSpeed).apply(in).size()), kept);
}

void TestClusterFilters::resultIsFarThenKeptClusters()
{
    const Points in{pt(50, 600, 200), pt(10, 2000, 1), pt(40, 600, 200), pt(5, 3000, 1),
                    pt(45, 600, 200)};
    const Points out = CorrectingClusterFilter(uncorrected, correctingSpeed).apply(in);
    // Far points first in input order, then the near points sorted by angle.
    QCOMPARE(distances(out), (QVector<uint16_t>{2000, 3000, 600, 600, 600}));
    QCOMPARE(out[2].angle, 40.0);
    QCOMPARE(out[3].angle, 45.0);
    QCOMPARE(out[4].angle, 50.0);
}

void TestClusterFilters::speedZeroSplitsEveryAngleChange()
{
    // Sixteen points a hundredth of a degree apart form a kept cluster at
    // speed 2300, but single dropped points at speed 0. Equal angles still group.
    const Points in = cluster(100, 16, 0.01, 500, {1});
    QCOMPARE(int(CorrectingClusterFilter(uncorrected, correctingSpeed).apply(in).size()), 16);
    QCOMPARE(int(CorrectingClusterFilter(uncorrected, 0).apply(in).size()), 0);
    QCOMPARE(int(RelativeClusterFilter(0).apply(cluster(100, 16, 0.01, 500, {1})).size()), 0);
    QCOMPARE(int(RelativeClusterFilter(0).apply(cluster(100, 16, 0.0, 500, {1})).size()), 16);
}

void TestClusterFilters::smoothing_data()
{
    QTest::addColumn<QVector<uint16_t>>("in");
    QTest::addColumn<QVector<uint16_t>>("out");
    QTest::newRow("running average")
        << QVector<uint16_t>{500, 530, 560} << QVector<uint16_t>{500, 515, 537};
    QTest::newRow("far point restarts") << QVector<uint16_t>{500, 530, 1000, 560, 590}
                                        << QVector<uint16_t>{500, 515, 1000, 560, 575};
    QTest::newRow("difference of 50 is not averaged")
        << QVector<uint16_t>{500, 550, 599} << QVector<uint16_t>{500, 550, 574};
}

void TestClusterFilters::smoothing()
{
    QFETCH(QVector<uint16_t>, in);
    QFETCH(QVector<uint16_t>, out);
    Points points;
    for (uint16_t d : in)
        points.push_back(pt(0, d, 0));
    QCOMPARE(distances(smoothDistances(points)), out);
}

void TestClusterFilters::stageChoosesFilterByVariant()
{
    // A near cluster of 16 points: variant 0 corrects it (type 0 lengthens
    // 500 to 509), variant 1 smooths it.
    Points in = cluster(100, 16, 0.1, 500, {200});
    in[1].distance = 510;
    const Points corrected = ScanFilter::apply(in, 0, 0, correctingSpeed);
    QCOMPARE(int(corrected.size()), 16);
    QVERIFY(distances(corrected).contains(509));
    QVERIFY(!distances(corrected).contains(500));
    const Points smoothed = ScanFilter::apply(in, 1, 0, relativeSpeed);
    QCOMPARE(distances(smoothed).mid(0, 3), (QVector<uint16_t>{500, 505, 502}));
}

QTEST_GUILESS_MAIN(TestClusterFilters)
#include "tst_clusterfilters.moc"
