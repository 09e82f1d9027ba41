#include "lipkg/framedecode.h"
#include "lipkg/lipkg.h"
#include "streambuilder.h"
#include "streamframes.h"

#include <QSignalSpy>
#include <QtTest>

// Conversion of frames into points, scan assembly between angle wraps, the
// published figures and the filter stage as LiPkg runs it.
class TestLiPkgAssembly : public QObject
{
    Q_OBJECT

private slots:
    void pkg47AnglesAcrossZero();
    void pkg36Angles();
    void pkgVariableAngles_data();
    void pkgVariableAngles();

    void wrapSpacing_data();
    void wrapSpacing();
    void scanHoldsNonZeroPointsAndEndMarker_data();
    void scanHoldsNonZeroPointsAndEndMarker();
    void pkgReadyFollowsTheFrameAssembly_data();
    void pkgReadyFollowsTheFrameAssembly();
    void shortScanKeepsPreviousScan();
    void scanRateAfterFirstAndSecondScan();
    void filterStageFollowsSettings_data();
    void filterStageFollowsSettings();
    void assemblyStateStaysBoundedWithoutWraps_data();
    void assemblyStateStaysBoundedWithoutWraps();
    void resetDecodesTheNextStreamAsANewDecoder();
};

static std::vector<PointData> convert(const QByteArray &frame,
                                      void (*conversion)(const uint8_t *, std::vector<PointData> &))
{
    std::vector<PointData> out;
    conversion(reinterpret_cast<const uint8_t *>(frame.constData()), out);
    return out;
}

static void compareAngles(const std::vector<PointData> &points, const QVector<double> &expected)
{
    QCOMPARE(int(points.size()), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        if (std::abs(points[size_t(i)].angle - expected[i]) > 1e-9)
            QFAIL(qPrintable(QStringLiteral("point %1: angle %2, expected %3")
                                 .arg(i)
                                 .arg(points[size_t(i)].angle, 0, 'f', 10)
                                 .arg(expected[i])));
    }
}

void TestLiPkgAssembly::pkg47AnglesAcrossZero()
{
    // Step = ((100 - 35900 + 36000) mod 36000) / 11 = 18 (integer) = 0.18 degree;
    // the last point takes the end angle.
    const auto points47 =
        convert(Wire::encodePkg47(3600, 35900, points(12, 500, 7), 100), FrameDecode::convertPkg47);
    compareAngles(points47, {359.00, 359.18, 359.36, 359.54, 359.72, 359.90, 0.08, 0.26, 0.44, 0.62,
                             0.80, 1.00});
    QCOMPARE(points47[0].distance, uint16_t(500));
    QCOMPARE(points47[11].distance, uint16_t(511));
    QCOMPARE(points47[11].confidence, uint8_t(7));

    // A start angle more than 360 degrees above the end wraps in unsigned
    // arithmetic: (0 - 65535 + 36000) mod 2^32 mod 36000 = 29761, / 11 = 2705.
    const auto wild =
        convert(Wire::encodePkg47(0, 65535, points(12), 0), FrameDecode::convertPkg47);
    QVERIFY(std::abs(wild[0].angle - 295.35) < 1e-9);
    QVERIFY(std::abs(wild[1].angle - 322.40) < 1e-9);
    QCOMPARE(wild[11].angle, 0.0);
}

void TestLiPkgAssembly::pkg36Angles()
{
    // 10 to 20 degrees: step = 1000 / 7 = 142, so 1.42 degree; last = 20.
    QVector<Wire::StreamPoint> pts = points(8, 700);
    pts[3].distance = 0xC000 | 1234; // flag bits are not distance
    const auto p = convert(
        Wire::encodePkg36(3600, Wire::pkg36AngleWord(10.0), pts, Wire::pkg36AngleWord(20.0)),
        FrameDecode::convertPkg36);
    compareAngles(p, {10.0, 11.42, 12.84, 14.26, 15.68, 17.10, 18.52, 20.0});
    QCOMPARE(p[3].distance, uint16_t(1234));

    // Across 0: 359 to 366 (sent above 360) gives 700 / 7 = 1.00 degree steps.
    const auto wrap = convert(
        Wire::encodePkg36(3600, Wire::pkg36AngleWord(359.0), pts, Wire::pkg36AngleWord(366.0)),
        FrameDecode::convertPkg36);
    compareAngles(wrap, {359.0, 0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0});
}

void TestLiPkgAssembly::pkgVariableAngles_data()
{
    QTest::addColumn<double>("first");
    QTest::addColumn<double>("last");
    QTest::addColumn<int>("samples");
    QTest::addColumn<QVector<double>>("angles");
    QTest::newRow("one sample at the first angle") << 90.0 << 95.0 << 1 << QVector<double>{90.0};
    QTest::newRow("three samples") << 10.0 << 20.0 << 3 << QVector<double>{10.0, 15.0, 20.0};
    QTest::newRow("across 0") << 350.0 << 10.0 << 3 << QVector<double>{350.0, 0.0, 10.0};
    QTest::newRow("no samples") << 10.0 << 20.0 << 0 << QVector<double>{};
}

void TestLiPkgAssembly::pkgVariableAngles()
{
    QFETCH(double, first);
    QFETCH(double, last);
    QFETCH(int, samples);
    QFETCH(QVector<double>, angles);
    QVector<Wire::StreamPoint> pts;
    for (int k = 0; k < samples; ++k)
        pts.append(sp(uint16_t(16000 + k), uint8_t(250 - k)));
    const auto p = convert(Wire::encodePkgVariable(200, Wire::pkgVariableAngleValue(first),
                                                   Wire::pkgVariableAngleValue(last), pts),
                           FrameDecode::convertPkgVariable);
    compareAngles(p, angles);
    for (int k = 0; k < samples; ++k) {
        QCOMPARE(p[size_t(k)].distance, uint16_t(16000 + k));
        QCOMPARE(p[size_t(k)].confidence, uint8_t(250 - k));
    }
}

void TestLiPkgAssembly::wrapSpacing_data()
{
    QTest::addColumn<QVector<int>>("gaps"); // points between consecutive wraps
    QTest::addColumn<int>("published");
    QTest::addColumn<int>("shortScans");
    QTest::addColumn<int>("pointTotal");
    QTest::newRow("second wrap 50 after the first is not an end")
        << QVector<int>{50} << 0 << 0 << 0;
    QTest::newRow("51 apart is a short scan") << QVector<int>{51} << 0 << 1 << 0;
    QTest::newRow("99 apart is a short scan") << QVector<int>{99} << 0 << 1 << 0;
    QTest::newRow("100 apart is published") << QVector<int>{100} << 1 << 0 << 100;
    QTest::newRow("a wrap 48 in is skipped") << QVector<int>{48, 48} << 0 << 1 << 0;
    QTest::newRow("a wrap 40 in is skipped, 120 published")
        << QVector<int>{40, 80} << 1 << 0 << 120;
    QTest::newRow("three scans") << QVector<int>{200, 300, 150} << 3 << 0 << 150;
}

void TestLiPkgAssembly::wrapSpacing()
{
    QFETCH(QVector<int>, gaps);
    QFETCH(int, published);
    QFETCH(int, shortScans);
    QFETCH(int, pointTotal);
    RunStream stream(pkgVariableModel);
    stream.run(355.0, 10);
    for (int gap : gaps)
        stream.run(5.0, 10).run(355.0, gap - 10);
    stream.run(5.0, 10);

    LiPkg pkg;
    pkg.setModelType(pkgVariableModel);
    pkg.setFilterEnabled(false);
    QSignalSpy maps(&pkg, &LiPkg::mapReady);
    QSignalSpy errors(&pkg, &LiPkg::errorIncrease);
    pkg.pushData(stream.bytes);
    QCOMPARE(maps.count(), published);
    QCOMPARE(errors.count(), shortScans);
    QCOMPARE(pkg.errorCount(), 0); // short scans are signalled, not counted
    QCOMPARE(pkg.pointTotal(), pointTotal);
}

void TestLiPkgAssembly::scanHoldsNonZeroPointsAndEndMarker_data()
{
    QTest::addColumn<int>("modelType");
    QTest::addColumn<int>("chunkSize");
    QTest::newRow("Pkg47") << pkg47Model << 256;
    QTest::newRow("Pkg36") << pkg36Model << 256;
    QTest::newRow("PkgVariable") << pkgVariableModel << 256;
    QTest::newRow("PkgVariable, one chunk") << pkgVariableModel << 100000;
}

void TestLiPkgAssembly::scanHoldsNonZeroPointsAndEndMarker()
{
    QFETCH(int, modelType);
    QFETCH(int, chunkSize);
    // 408 points between the wraps, 30 of them without a return; the distance
    // tells the points apart. Pkg36 flag bits must not reach the distance.
    const auto distance = [](int k) -> uint16_t {
        return k % 10 == 0 && k < 300 ? 0 : uint16_t(100 + k);
    };
    const uint16_t flags = modelType == pkg36Model ? 0xC000 : 0;
    RunStream stream(modelType);
    stream.run(355.0, 24)
        .runWith(5.0, 240, [&](int k) { return uint16_t(distance(k) ? distance(k) | flags : 0); })
        .runWith(
            355.0, 168,
            [&](int k) { return uint16_t(distance(240 + k) ? distance(240 + k) | flags : flags); })
        .run(5.0, 24);

    LiPkg pkg;
    pkg.setModelType(modelType);
    pkg.setFilterEnabled(false);
    QSignalSpy maps(&pkg, &LiPkg::mapReady);
    pushInChunks(pkg, stream.bytes, chunkSize);
    QCOMPARE(maps.count(), 1);

    const PointList scan = pkg.currentScan();
    QCOMPARE(pkg.pointTotal(), 408);
    QCOMPARE(pkg.validCount(), 378);
    QCOMPARE(scan.size(), 379);
    int k = 0;
    for (int i = 0; i < scan.size() - 1; ++i, ++k) {
        while (distance(k) == 0)
            ++k;
        QCOMPARE(scan[i].distance, distance(k));
        QCOMPARE(scan[i].angle, k < 240 ? 5.0 : 355.0);
    }
    QCOMPARE(scan.last().angle, endOfScanAngle);
    QCOMPARE(scan.last().distance, uint16_t(0));
    QCOMPARE(scan.last().confidence, uint8_t(0));
    QCOMPARE(pkg.rotationSpeed(), 10.0);
    QCOMPARE(pkg.errorCount(), 0);
}

void TestLiPkgAssembly::pkgReadyFollowsTheFrameAssembly_data()
{
    QTest::addColumn<int>("modelType");
    QTest::addColumn<int>("firstFramePoints");
    QTest::addColumn<int>("lastFrameSize");
    QTest::addColumn<int>("framesAfterScan");
    // The last run of 24 points holds the wrap that completes the scan.
    QTest::newRow("Pkg47") << pkg47Model << 12 << 47 << 2;
    QTest::newRow("Pkg36") << pkg36Model << 8 << 36 << 3;
    QTest::newRow("PkgVariable") << pkgVariableModel << 24 << 10 + 3 * 24 << 1;
}

void TestLiPkgAssembly::pkgReadyFollowsTheFrameAssembly()
{
    QFETCH(int, modelType);
    QFETCH(int, firstFramePoints);
    QFETCH(int, lastFrameSize);
    QFETCH(int, framesAfterScan);
    RunStream stream(modelType);
    stream.run(355.0, 24).run(5.0, 240).run(355.0, 168).run(5.0, 24);

    LiPkg pkg;
    pkg.setModelType(modelType);
    pkg.setFilterEnabled(false);
    // What listeners see when each frame's pkgReady arrives: the frame's
    // points already assembled (and its scan published), the frame itself
    // still in the buffer.
    int maps = 0;
    QVector<int> mapsSeen;
    QVector<int> pendingSeen;
    QVector<int> bufferSeen;
    connect(&pkg, &LiPkg::mapReady, this, [&] { ++maps; });
    connect(&pkg, &LiPkg::pkgReady, this, [&] {
        mapsSeen.append(maps);
        pendingSeen.append(pkg.pendingPointCount());
        bufferSeen.append(pkg.rxBufferSize());
    });
    pkg.pushData(stream.bytes);
    QCOMPARE(maps, 1);
    QVERIFY(!mapsSeen.isEmpty());
    QCOMPARE(pendingSeen.first(), firstFramePoints);
    QCOMPARE(bufferSeen.first(), stream.bytes.size());
    QCOMPARE(bufferSeen.last(), lastFrameSize);
    QCOMPARE(int(std::count(mapsSeen.begin(), mapsSeen.end(), 1)), framesAfterScan);
    QCOMPARE(pkg.rxBufferSize(), 0);
}

void TestLiPkgAssembly::shortScanKeepsPreviousScan()
{
    RunStream stream(pkgVariableModel);
    stream.run(355.0, 10).run(5.0, 150, 1500).run(355.0, 50).run(5.0, 30, 700).run(355.0, 30);
    stream.run(5.0, 10);
    LiPkg pkg;
    pkg.setModelType(pkgVariableModel);
    pkg.setFilterEnabled(false);
    QSignalSpy maps(&pkg, &LiPkg::mapReady);
    QSignalSpy errors(&pkg, &LiPkg::errorIncrease);
    pkg.pushData(stream.bytes);
    QCOMPARE(maps.count(), 1);
    QCOMPARE(errors.count(), 1);
    QCOMPARE(pkg.pointTotal(), 200);
    QCOMPARE(pkg.currentScan().size(), 201);
    QCOMPARE(pkg.currentScan().first().distance, uint16_t(1500));
    QCOMPARE(pkg.errorCount(), 0);
}

void TestLiPkgAssembly::scanRateAfterFirstAndSecondScan()
{
    RunStream first(pkgVariableModel);
    first.run(355.0, 10).run(5.0, 100).run(355.0, 100).run(5.0, 10);
    RunStream second(pkgVariableModel);
    second.run(5.0, 90).run(355.0, 100).run(5.0, 10);

    LiPkg pkg;
    pkg.setModelType(pkgVariableModel);
    // Far from zero, so a rate taken from the clock's value rather than
    // from the time between scans shows.
    qint64 nowNs = 5'000'000'000'000;
    pkg.setTimeSource([&nowNs] { return nowNs; });
    QSignalSpy maps(&pkg, &LiPkg::mapReady);
    QCOMPARE(pkg.scanRate(), 0.0);
    pkg.pushData(first.bytes);
    QCOMPARE(maps.count(), 1);
    QCOMPARE(pkg.scanRate(), 0.0);

    // The period is counted in whole milliseconds: 40.9 ms make 40.
    nowNs += 40'900'000;
    pkg.pushData(second.bytes);
    QCOMPARE(maps.count(), 2);
    QCOMPARE(pkg.scanRate(), 25.0);
    // Each period runs from the scan before, not from the first one.
    nowNs += 100'000'000;
    pkg.pushData(second.bytes);
    QCOMPARE(maps.count(), 3);
    QCOMPARE(pkg.scanRate(), 10.0);
}

void TestLiPkgAssembly::filterStageFollowsSettings_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<int>("variant");
    QTest::addColumn<bool>("nearPointKept");
    // The near point: one return at 300 with confidence 200 (even, above 92,
    // below 220). Far points at 6000 are far for both filters.
    QTest::newRow("filter off") << false << 1 << true;
    QTest::newRow("relative filter drops it") << true << 1 << false;
    QTest::newRow("correcting filter keeps it") << true << 0 << true;
}

void TestLiPkgAssembly::filterStageFollowsSettings()
{
    QFETCH(bool, enabled);
    QFETCH(int, variant);
    QFETCH(bool, nearPointKept);
    RunStream stream(pkgVariableModel);
    stream.run(355.0, 10).run(5.0, 100, 6000).run(180.0, 1, 300).run(355.0, 100, 6000).run(5.0, 30);
    LiPkg pkg;
    pkg.setModelType(pkgVariableModel); // no correction constants for this type
    pkg.setFilterVariant(variant);
    pkg.setFilterEnabled(enabled);
    QCOMPARE(pkg.filterEnabled(), enabled);
    pkg.pushData(stream.bytes);
    const PointList scan = pkg.currentScan();
    QCOMPARE(pkg.pointTotal(), 201);
    QCOMPARE(pkg.validCount(), nearPointKept ? 201 : 200);
    QCOMPARE(scan.size(), pkg.validCount() + 1);
    // Far points keep their distance: type 24 has no correction constants.
    const auto isFar = [](const PointData &p) { return p.distance == 6000; };
    QCOMPARE(int(std::count_if(scan.begin(), scan.end(), isFar)), 200);
    if (enabled) // the filters put the far points first
        QVERIFY(std::all_of(scan.begin(), scan.begin() + 200, isFar));
    QCOMPARE(scan.last().angle, endOfScanAngle);
}

void TestLiPkgAssembly::assemblyStateStaysBoundedWithoutWraps_data()
{
    QTest::addColumn<bool>("openScan");
    QTest::newRow("no wrap at all") << false;
    QTest::newRow("one wrap, then none") << true;
}

void TestLiPkgAssembly::assemblyStateStaysBoundedWithoutWraps()
{
    QFETCH(bool, openScan);
    RunStream stream(pkgVariableModel);
    if (openScan)
        stream.run(355.0, 10).run(5.0, 40000);
    else
        stream.run(180.0, 40000);
    LiPkg pkg;
    pkg.setModelType(pkgVariableModel);
    pkg.setFilterEnabled(false);
    QSignalSpy maps(&pkg, &LiPkg::mapReady);
    pushInChunks(pkg, stream.bytes, 4096);
    QCOMPARE(maps.count(), 0);
    QVERIFY(pkg.pendingPointCount() <= LiPkg::maxPendingPoints);
    QVERIFY(pkg.speedListSize() <= LiPkg::maxPendingPoints);
    QVERIFY(pkg.scanStartIndex() <= pkg.pendingPointCount());
    QVERIFY(pkg.scanEndIndex() <= pkg.pendingPointCount());

    // A normal revolution afterwards is assembled as usual.
    RunStream normal(pkgVariableModel);
    normal.run(355.0, 10).run(5.0, 150, 900).run(355.0, 50, 900).run(5.0, 10);
    pkg.pushData(normal.bytes);
    QCOMPARE(maps.count(), 1);
    QCOMPARE(pkg.pointTotal(), 200);
    QCOMPARE(pkg.validCount(), 200);
}

QTEST_GUILESS_MAIN(TestLiPkgAssembly)
#include "tst_lipkgassembly.moc"

void TestLiPkgAssembly::resetDecodesTheNextStreamAsANewDecoder()
{
    // A stream cut off mid-frame and mid-scan, after a bad frame.
    RunStream previous(pkgVariableModel);
    previous.run(355.0, 10).run(5.0, 100).run(355.0, 100).run(5.0, 40);
    QByteArray broken = pkgVariablePacket();
    broken[broken.size() - 1] = char(broken.at(broken.size() - 1) ^ 0x5A);
    const QByteArray tail = broken + pkgVariablePacket().left(9);
    RunStream next(pkgVariableModel);
    next.run(355.0, 30).run(5.0, 100).run(355.0, 100).run(5.0, 10).run(355.0, 100).run(5.0, 10);

    qint64 nowNs = 1'000'000'000;
    // Each scan as published: its points, rate, total and the error count.
    auto watch = [&nowNs](LiPkg &pkg, QStringList &scans) {
        pkg.setModelType(pkgVariableModel);
        pkg.setFilterEnabled(false);
        pkg.setTimeSource([&nowNs] { return nowNs; });
        QObject::connect(&pkg, &LiPkg::mapReady, &pkg, [&pkg, &scans] {
            QString text = QString("rate %1 total %2 errors %3:")
                               .arg(pkg.scanRate())
                               .arg(pkg.pointTotal())
                               .arg(pkg.errorCount());
            for (const PointData &p : pkg.currentScan())
                text += QString(" %1/%2").arg(p.angle).arg(p.distance);
            scans << text;
        });
    };
    QStringList freshScans;
    LiPkg fresh;
    watch(fresh, freshScans);
    QStringList usedScans;
    LiPkg used;
    watch(used, usedScans);

    used.pushData(previous.bytes + tail);
    QVERIFY(used.errorCount() > 0 && used.rxBufferSize() > 0 && used.pendingPointCount() > 0);
    QVERIFY(!usedScans.isEmpty());
    used.resetReceiveState();
    QCOMPARE(used.errorCount(), 0);
    QCOMPARE(used.rotationSpeed(), 0.0);
    QVERIFY(used.currentScan().isEmpty());
    usedScans.clear();

    // The next stream comes a second later.
    nowNs += 1'000'000'000;
    used.pushData(next.bytes);
    fresh.pushData(next.bytes);
    QVERIFY(freshScans.size() >= 2);
    QCOMPARE(usedScans, freshScans);
    QVERIFY(!used.filterEnabled());
    QCOMPARE(used.modelType(), pkgVariableModel);
}
