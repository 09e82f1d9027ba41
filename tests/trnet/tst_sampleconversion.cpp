#include "commandframes.h"
#include "trnet/qtrnet.h"
#include "trnet/sampleconversion.h"

#include <QSignalSpy>
#include <QtTest>
#include <cmath>

// Turning sample frames into scans, for both command-protocol models.
class TestSampleConversion : public QObject
{
    Q_OBJECT
private slots:
    void plainSampleAngles_data();
    void plainSampleAngles();
    void framesOutsideConversionChangeNothing_data();
    void framesOutsideConversionChangeNothing();
    void triangulateGeometry_data();
    void triangulateGeometry();
    void firMeasuredSamplesSkipWeakOrEmpty();
    void neighbourCheck_data();
    void neighbourCheck();
    void leftHalfBelowOneDegreeKeptWithDistanceZero();
    void rateFromTimestamps_data();
    void rateFromTimestamps();
    void oddFinalByteLeftOut();
    void mapleZonesUseTheirLine();
    void mapleColumnStepDoublesColumn();
    void mapleCalibratedKnownPoint();
    void mapleRawMode();
    void calibrationReplyCopiesWholeFields_data();
    void calibrationReplyCopiesWholeFields();
    void newCalibrationTakesEffect_data();
    void newCalibrationTakesEffect();
};

namespace {

constexpr int fir = 7;
constexpr int maple = 32;

struct Net
{
    explicit Net(int modelType) { net.setModelType(modelType); }
    QTRNet net;
};

QVector<uint16_t> constantSamples(int count, uint16_t value)
{
    return QVector<uint16_t>(count, value);
}

} // namespace

void TestSampleConversion::plainSampleAngles_data()
{
    QTest::addColumn<int>("modelType");
    QTest::addColumn<int>("sample");
    QTest::addColumn<double>("angle");

    QTest::newRow("fir first") << fir << 0 << 315.0;
    QTest::newRow("fir centre") << fir << 80 << 0.0;
    QTest::newRow("fir last") << fir << 159 << 44.4375;
    QTest::newRow("maple first") << maple << 0 << 320.0;
    QTest::newRow("maple centre") << maple << 80 << 0.0;
    QTest::newRow("maple last") << maple << 159 << 39.5;
}

void TestSampleConversion::plainSampleAngles()
{
    QFETCH(int, modelType);
    QFETCH(int, sample);
    QFETCH(double, angle);

    Net n(modelType);
    QVector<uint16_t> samples(160);
    for (int i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<uint16_t>(1000 + i);
    samples[10] = 0; // no return: not part of the scan
    QSignalSpy published(&n.net, &QTRNet::mapReady);
    n.net.pushData(Wire::plainSampleFrame(samples));

    QCOMPARE(published.count(), 1);
    const PointList scan = published.at(0).at(0).value<PointList>();
    QCOMPARE(scan.size(), 159);
    QCOMPARE(n.net.currentScan().size(), 159);
    const PointData p = scan.at(sample > 10 ? sample - 1 : sample);
    QCOMPARE(p.sampleIndex, uint32_t(sample));
    QCOMPARE(p.angle, angle);
    QCOMPARE(p.distance, uint16_t(1000 + sample));
    QCOMPARE(p.confidence, uint8_t(255));
    QCOMPARE(n.net.validCount(), 159);
    if (modelType == maple) {
        QCOMPARE(n.net.currentSamples().size(), 160);
        QCOMPARE(n.net.currentSamples().at(10).distance, uint16_t(0));
    }
}

void TestSampleConversion::framesOutsideConversionChangeNothing_data()
{
    QTest::addColumn<int>("modelType");
    QTest::addColumn<QByteArray>("frame");

    for (int model : {fir, maple}) {
        const QByteArray name = model == fir ? "fir " : "maple ";
        QTest::newRow(name + "payload of 3 bytes")
            << model << Wire::encodeTrFrame(1, 2, 0, QByteArray(3, '\x7F'));
        QTest::newRow(name + "other command")
            << model << Wire::encodeTrFrame(1, 4, 0, QByteArray(40, '\x7F'));
        QTest::newRow(name + "calibration reply") << model << Wire::firCalibrationReply(1, 2, 3, 4);
    }
}

void TestSampleConversion::framesOutsideConversionChangeNothing()
{
    QFETCH(int, modelType);
    QFETCH(QByteArray, frame);

    Net n(modelType);
    n.net.pushData(Wire::plainSampleFrame(constantSamples(8, 500)));
    QSignalSpy published(&n.net, &QTRNet::mapReady);
    QSignalSpy announced(&n.net, &QTRNet::dataReady);
    n.net.pushData(frame);
    QCOMPARE(announced.count(), 1);
    QCOMPARE(published.count(), 0);
    QCOMPARE(n.net.currentScan().size(), 8);
    QCOMPARE(n.net.scanRate(), 0.0);
}

void TestSampleConversion::triangulateGeometry_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<uint32_t>("intercept");
    QTest::addColumn<double>("viewDegrees"); // direction of the column's ray

    // Slope 0: every column of a half looks along one ray. An intercept up
    // to 1 is a slope term (atan of -b), above 1 it is degrees.
    QTest::newRow("right, slope line") << 120 << uint32_t(0) << -22.5;
    QTest::newRow("right, degrees") << 159 << uint32_t(30000) << -25.5;
    QTest::newRow("left, slope line") << 79 << uint32_t(0) << 22.5;
    QTest::newRow("left, small slope term")
        << 10 << uint32_t(5000) << 22.5 - std::atan(0.5) * 180 / M_PI;
}

void TestSampleConversion::triangulateGeometry()
{
    QFETCH(int, column);
    QFETCH(uint32_t, intercept);
    QFETCH(double, viewDegrees);

    DeviceParams params;
    params.halfIntercept = {intercept, intercept};
    const bool right = column > 79;
    const double side = right ? -5.315 : 5.315;
    for (int value : {40, 300, 511}) {
        // The ray from the half's window reaches forward distance `value`.
        const double forward = value - 1.22;
        const double x = forward * std::tan(viewDegrees * M_PI / 180) + side;
        const double y = value;
        double angle = std::atan(x / y) * 180 / M_PI;
        if (angle < 0)
            angle += 360;
        // The left half cannot see past the centre line.
        const int distance = !right && std::atan(x / y) * 180 / M_PI < 1
                                 ? 0
                                 : static_cast<int>(std::sqrt(x * x + y * y));
        const auto p = SampleConversion::triangulate(value, column, params);
        QVERIFY2(std::fabs(p.angle - angle) < 1e-4, qPrintable(QString::number(p.angle)));
        QVERIFY2(std::abs(p.distance - distance) <= 1, qPrintable(QString::number(p.distance)));
    }
}

void TestSampleConversion::firMeasuredSamplesSkipWeakOrEmpty()
{
    Net n(fir);
    QVector<uint16_t> samples(160, Wire::firSample(200, 100));
    samples[81] = 511;                    // confidence 0
    samples[82] = Wire::firSample(0, 90); // no value
    n.net.pushData(Wire::measuredSampleFrame(100, samples));
    QCOMPARE(n.net.pointTotal(), 160);
    const PointList scan = n.net.currentScan();
    QCOMPARE(scan.size(), 158);
    for (const PointData &p : scan) {
        QVERIFY(p.sampleIndex != 81 && p.sampleIndex != 82);
        QCOMPARE(p.confidence, uint8_t(100));
    }
}

void TestSampleConversion::neighbourCheck_data()
{
    QTest::addColumn<QVector<double>>("angles");
    QTest::addColumn<QVector<int>>("distances");
    QTest::addColumn<QVector<int>>("kept");

    QTest::newRow("close group kept")
        << QVector<double>{10, 11, 12} << QVector<int>{500, 510, 505} << QVector<int>{0, 1, 2};
    QTest::newRow("lone distance removed")
        << QVector<double>{10, 11, 12, 13, 14} << QVector<int>{500, 505, 700, 510, 515}
        << QVector<int>{0, 1, 3, 4};
    QTest::newRow("lone angle removed")
        << QVector<double>{10, 15, 20} << QVector<int>{500, 505, 510} << QVector<int>{};
    QTest::newRow("one side is enough")
        << QVector<double>{10, 10.5, 30} << QVector<int>{500, 519, 900} << QVector<int>{0, 1};
    QTest::newRow("just over the limits")
        << QVector<double>{10, 12.01, 14.02} << QVector<int>{500, 521, 542} << QVector<int>{};
    QTest::newRow("missing neighbour is angle 0 distance 0")
        << QVector<double>{1.5, 50} << QVector<int>{15, 900} << QVector<int>{0};
    QTest::newRow("single far point") << QVector<double>{1.0} << QVector<int>{30} << QVector<int>{};
    QTest::newRow("single point at the origin")
        << QVector<double>{2.0} << QVector<int>{20} << QVector<int>{0};
}

void TestSampleConversion::neighbourCheck()
{
    QFETCH(QVector<double>, angles);
    QFETCH(QVector<int>, distances);
    QFETCH(QVector<int>, kept);

    std::vector<PointData> candidates;
    for (int i = 0; i < angles.size(); ++i)
        candidates.push_back({angles[i], uint16_t(distances[i]), 10, uint32_t(i), 0});
    QVector<int> result;
    for (const PointData &p : SampleConversion::keepSupportedPoints(candidates))
        result.append(static_cast<int>(p.sampleIndex));
    QCOMPARE(result, kept);
}

void TestSampleConversion::leftHalfBelowOneDegreeKeptWithDistanceZero()
{
    // Left half turned 25 degrees: its rays point right of the centre line,
    // so its points come out below one degree and lose their distance, yet
    // still count as neighbours.
    Net n(fir);
    n.net.pushData(Wire::firCalibrationReply(0, 0, 0, 250000));
    QVERIFY(n.net.applyCalibrationReply(n.net.lastDecodedFrame()));
    const auto probe = SampleConversion::triangulate(500, 40, n.net.deviceParams());
    QCOMPARE(probe.distance, uint16_t(0));
    QVERIFY(probe.angle > 358 && probe.angle < 359);

    QVector<uint16_t> samples(160, 0);
    samples[40] = Wire::firSample(500, 50);
    samples[41] = Wire::firSample(500, 50);
    n.net.pushData(Wire::measuredSampleFrame(5, samples));
    const PointList scan = n.net.currentScan();
    QCOMPARE(scan.size(), 2);
    QCOMPARE(scan[0].distance, uint16_t(0));
    QCOMPARE(scan[1].distance, uint16_t(0));
    QCOMPARE(n.net.validCount(), 0);
}

void TestSampleConversion::rateFromTimestamps_data()
{
    QTest::addColumn<QVector<int>>("timestamps");
    QTest::addColumn<double>("rate");

    QTest::newRow("first frame against 0") << QVector<int>{250} << 4.0;
    QTest::newRow("100 ms apart") << QVector<int>{1000, 1100} << 10.0;
    QTest::newRow("equal timestamps")
        << QVector<int>{700, 700} << std::numeric_limits<double>::infinity();
    QTest::newRow("backwards is a huge unsigned step")
        << QVector<int>{1100, 1000} << double(1000.0f / 4294967196.0f);
    QTest::newRow("single precision") << QVector<int>{0, 3} << double(1000.0f / 3.0f);
}

void TestSampleConversion::rateFromTimestamps()
{
    QFETCH(QVector<int>, timestamps);
    QFETCH(double, rate);

    Net n(fir);
    for (int t : timestamps)
        n.net.pushData(Wire::measuredSampleFrame(t, constantSamples(160, 0)));
    QCOMPARE(n.net.scanRate(), rate);
    QCOMPARE(n.net.lastSampleTimestamp(), timestamps.last());
    QCOMPARE(n.net.previousSampleTimestamp(), timestamps.last());
}

void TestSampleConversion::oddFinalByteLeftOut()
{
    for (int model : {fir, maple}) {
        Net n(model);
        QByteArray payload;
        for (int i = 0; i < 8; ++i)
            payload += QByteArray("\x10\x02", 2);
        payload += '\x33';
        n.net.pushData(Wire::encodeTrFrame(1, 3, 0, payload));
        QCOMPARE(n.net.currentScan().size(), 8);
        QCOMPARE(n.net.currentScan().last().sampleIndex, uint32_t(7));
    }
}

void TestSampleConversion::mapleZonesUseTheirLine()
{
    Net n(maple);
    n.net.pushData(Wire::mapleCalibrationReply({10000, 20000, 30000, 40000, 50000, 60000},
                                               {0, 0, 0, 0, 0, 0}));
    n.net.applyCalibrationReply(n.net.lastDecodedFrame());
    QVector<uint16_t> samples;
    for (uint8_t zone = 0; zone < 8; ++zone)
        samples.append(Wire::mapleSample(100, 3, zone));
    // Every sample at column 1, so each angle is atan(slope of its zone).
    QVector<double> angles;
    for (int z = 0; z < 8; ++z) {
        QVector<uint16_t> one(2, 0);
        one[1] = samples[z];
        n.net.pushData(Wire::measuredSampleFrame(1, one));
        QCOMPARE(n.net.currentScan().size(), 1);
        const PointData p = n.net.currentScan().at(0);
        QCOMPARE(p.zone, uint16_t(z));
        QCOMPARE(p.confidence, uint8_t(96));
        angles.append(p.angle);
    }
    QCOMPARE(angles[0], angles[1]);
    QCOMPARE(angles[7], angles[1]);
    for (int z = 1; z <= 6; ++z)
        QVERIFY(std::fabs(angles[z] - std::atan(double(z)) * 180 / M_PI) < 1e-6);
    QCOMPARE(n.net.currentSamples().size(), 1); // the empty sample 0 is skipped
}

void TestSampleConversion::mapleColumnStepDoublesColumn()
{
    Net n(maple);
    n.net.pushData(Wire::mapleCalibrationReply({321, 321, 321, 321, 321, 321},
                                               {5000, 5000, 5000, 5000, 5000, 5000}));
    n.net.applyCalibrationReply(n.net.lastDecodedFrame());
    QVector<uint16_t> samples(320);
    for (int i = 0; i < samples.size(); ++i)
        samples[i] = Wire::mapleSample(static_cast<uint16_t>(500 + i), 7, 2);
    n.net.pushData(Wire::measuredSampleFrame(10, samples));
    const QVector<PointData> byColumn = n.net.currentSamples();

    n.net.pushData(Wire::columnsReply(160));
    QCOMPARE(n.net.deviceParams().columnStep, 2);
    QVector<uint16_t> half(160);
    for (int i = 0; i < half.size(); ++i)
        half[i] = samples[2 * i];
    n.net.pushData(Wire::measuredSampleFrame(20, half));
    const QVector<PointData> stepped = n.net.currentSamples();
    QCOMPARE(stepped.size(), 160);
    for (int i = 0; i < 160; ++i) {
        QCOMPARE(stepped[i].angle, byColumn[2 * i].angle);
        QCOMPARE(stepped[i].distance, byColumn[2 * i].distance);
        QCOMPARE(stepped[i].sampleIndex, uint32_t(i));
    }
    QCOMPARE(n.net.lastSampleTimestamp(), 20);
    // Frames at 10 and 20 ms: 100 frames a second, and every sample position
    // of the last frame counted, so "Valid" never exceeds the total.
    QCOMPARE(n.net.scanRate(), 100.0);
    QCOMPARE(n.net.previousSampleTimestamp(), 20);
    QCOMPARE(n.net.pointTotal(), 160);
}

void TestSampleConversion::mapleCalibratedKnownPoint()
{
    Net n(maple);
    // Zone 1: slope 1, intercept 0; column 1 looks at 45 degrees, column 0
    // straight ahead; intercept 1 in zone 2 turns column 0 to -45 degrees.
    n.net.pushData(Wire::mapleCalibrationReply({10000, 0, 0, 0, 0, 0}, {0, 10000, 0, 0, 0, 0}));
    n.net.applyCalibrationReply(n.net.lastDecodedFrame());
    n.net.pushData(
        Wire::measuredSampleFrame(1, {Wire::mapleSample(100, 1, 2), Wire::mapleSample(100, 1, 1)}));
    const PointList scan = n.net.currentScan();
    QCOMPARE(scan.size(), 2);
    QVERIFY(std::fabs(scan[0].angle - 315.0) < 1e-6);
    QVERIFY(std::fabs(scan[1].angle - 45.0) < 1e-6);
    QCOMPARE(scan[0].distance, uint16_t(141));
    QCOMPARE(scan[1].distance, uint16_t(141));
}

void TestSampleConversion::mapleRawMode()
{
    // Raw mode is what a handshake leaves behind on any model but Maple.
    Net n(fir);
    n.net.pushData(Wire::firCalibrationReply(1, 2, 3, 4));
    QVERIFY(n.net.applyCalibrationReply(n.net.lastDecodedFrame()));
    n.net.enterStartedMode();
    QCOMPARE(n.net.rawMode(), uint8_t(1));
    n.net.pushData(Wire::measuredSampleFrame(1234, {}));
    n.net.setModelType(maple);

    QVector<uint16_t> samples(160);
    for (int i = 0; i < samples.size(); ++i)
        samples[i] = Wire::mapleSample(static_cast<uint16_t>(i % 3 == 0 ? 0 : 100 + i), 5, 6);
    n.net.pushData(Wire::measuredSampleFrame(99, samples));
    const QVector<PointData> all = n.net.currentSamples();
    QCOMPARE(all.size(), 160);
    QCOMPARE(all[0].angle, 320.0);
    QCOMPARE(all[80].angle, 0.0);
    QCOMPARE(all[159].angle, 39.5);
    QCOMPARE(all[80].distance, uint16_t(100 + 80));
    QCOMPARE(all[80].confidence, uint8_t(160));
    QCOMPARE(all[80].zone, uint16_t(6));
    QCOMPARE(n.net.currentScan().size(), 160 - 54);
    QCOMPARE(n.net.lastSampleTimestamp(), 1234); // raw frames leave it alone
    QCOMPARE(n.net.pointTotal(), 160);
    const double rate = n.net.scanRate();
    n.net.pushData(Wire::plainSampleFrame(constantSamples(12, 500)));
    QCOMPARE(n.net.pointTotal(), 12);
    QCOMPARE(n.net.scanRate(), rate); // nor do they time the rate
}

void TestSampleConversion::calibrationReplyCopiesWholeFields_data()
{
    QTest::addColumn<int>("modelType");
    QTest::addColumn<int>("payloadBytes");
    QTest::addColumn<int>("wordsCopied"); // in wire order

    QTest::newRow("fir full") << fir << 16 << 4;
    QTest::newRow("fir 10 bytes") << fir << 10 << 2;
    QTest::newRow("fir empty") << fir << 0 << 0;
    QTest::newRow("maple full") << maple << 72 << 12;
    QTest::newRow("maple 30 bytes") << maple << 30 << 7;
    QTest::newRow("maple 71 bytes") << maple << 71 << 12;
}

void TestSampleConversion::calibrationReplyCopiesWholeFields()
{
    QFETCH(int, modelType);
    QFETCH(int, payloadBytes);
    QFETCH(int, wordsCopied);

    Net n(modelType);
    if (modelType == fir)
        n.net.pushData(Wire::firCalibrationReply(11, 12, 13, 14));
    else
        n.net.pushData(Wire::mapleCalibrationReply(
            {11, 12, 13, 14, 15, 16}, {17, 18, 19, 20, 21, 22}, QByteArray(24, '\x0E')));
    n.net.applyCalibrationReply(n.net.lastDecodedFrame());
    const DeviceParams before = n.net.deviceParams();

    const QByteArray reply =
        modelType == fir
            ? Wire::firCalibrationReply(31, 32, 33, 34, payloadBytes)
            : Wire::mapleCalibrationReply({31, 32, 33, 34, 35, 36}, {37, 38, 39, 40, 41, 42},
                                          QByteArray(24, '\x2F'), payloadBytes);
    n.net.pushData(reply);
    QVERIFY(n.net.applyCalibrationReply(n.net.lastDecodedFrame()));
    const DeviceParams &after = n.net.deviceParams();

    QVector<uint32_t> was, now;
    if (modelType == fir) {
        was = {before.halfSlope[0], before.halfSlope[1], before.halfIntercept[0],
               before.halfIntercept[1]};
        now = {after.halfSlope[0], after.halfSlope[1], after.halfIntercept[0],
               after.halfIntercept[1]};
    } else {
        for (int i = 0; i < 6; ++i) {
            was.append(before.zoneSlope[i]);
            now.append(after.zoneSlope[i]);
        }
        for (int i = 0; i < 6; ++i) {
            was.append(before.zoneIntercept[i]);
            now.append(after.zoneIntercept[i]);
        }
        QCOMPARE(after.zoneExtra[0], uint8_t(payloadBytes == 72 ? 0x2F : 0x0E));
    }
    for (int i = 0; i < was.size(); ++i)
        QCOMPARE(now[i], i < wordsCopied ? was[i] + 20 : was[i]);

    // Other frames are not calibration replies.
    QVERIFY(!n.net.applyCalibrationReply(TRData{1, 3, 0, QByteArray(72, '\x01')}));
    QCOMPARE(n.net.deviceParams().zoneSlope, after.zoneSlope);
}

void TestSampleConversion::newCalibrationTakesEffect_data()
{
    QTest::addColumn<int>("modelType");
    QTest::newRow("fir") << fir;
    QTest::newRow("maple") << maple;
}

void TestSampleConversion::newCalibrationTakesEffect()
{
    // Points of a frame always follow the calibration in force, however
    // often the same columns were converted before.
    QFETCH(int, modelType);
    Net n(modelType);
    QVector<uint16_t> samples(160);
    for (int c = 0; c < samples.size(); ++c)
        samples[c] = modelType == fir ? Wire::firSample(uint16_t(300 + c % 3), 80)
                                      : Wire::mapleSample(uint16_t(300 + c % 3), 2, 3);
    QVector<PointList> scans;
    for (uint32_t slope : {50u, 90u, 50u}) {
        n.net.pushData(modelType == fir ? Wire::firCalibrationReply(slope, slope, 2000, 3000)
                                        : Wire::mapleCalibrationReply({0, 0, slope, 0, 0, 0},
                                                                      {0, 0, 2000, 0, 0, 0}));
        n.net.applyCalibrationReply(n.net.lastDecodedFrame());
        n.net.pushData(Wire::measuredSampleFrame(1, samples));
        scans.append(n.net.currentScan());
        if (modelType == fir) {
            // Every kept point is where the calibration puts its sample.
            for (const PointData &p : scans.last()) {
                const int c = int(p.sampleIndex);
                const auto expected =
                    SampleConversion::triangulate(300 + c % 3, c, n.net.deviceParams());
                QCOMPARE(p.angle, expected.angle);
                QCOMPARE(p.distance, expected.distance);
            }
        } else {
            const PointData p = scans.last().at(100);
            const double k = slope / 10000.0;
            QVERIFY(std::fabs(p.angle - std::atan(100 * k - 0.2) * 180 / M_PI) < 1e-6);
        }
    }
    QVERIFY(scans[0].size() > 100);
    QVERIFY(scans[0].at(100).angle != scans[1].at(100).angle);
    QCOMPARE(scans[2].at(100).angle, scans[0].at(100).angle);
}

QTEST_GUILESS_MAIN(TestSampleConversion)
#include "tst_sampleconversion.moc"
