// The earlier edition's decoders and filter: Pkg47 only, the "find" line,
// its own correction table, and the command protocol of Fir alone (no
// command 21, dual-half conversion only, the pixel sum).
#include "commandframes.h"
#include "debuglines.h"
#include "filter/clusterfilters.h"
#include "lipkg/lipkg.h"
#include "ptydevice.h"
#include "scriptedsensor.h"
#include "streamframes.h"
#include "trnet/qtrnet.h"

#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

namespace {

// Points whose bytes hold no 0x54, so no header pair hides inside a frame.
QVector<Wire::StreamPoint> points()
{
    return QVector<Wire::StreamPoint>(12, {1000, 200});
}

QByteArray pkg47(uint8_t secondHeader, bool goodCrc, uint16_t startAngle = 1000)
{
    QByteArray frame =
        Wire::encodePkg47(3600, startAngle, points(), startAngle + 800, 0, secondHeader);
    if (!goodCrc)
        frame[46] = static_cast<char>(frame[46] ^ 0x01);
    return frame;
}

} // namespace

class TestClassicDecoders : public QObject
{
    Q_OBJECT
private slots:
    void onlyPkg47IsDecoded_data();
    void onlyPkg47IsDecoded();
    void findLineUntilFirstGoodCrc_data();
    void findLineUntilFirstGoodCrc();
    void correctionTableOfTheEarlierCodes_data();
    void correctionTableOfTheEarlierCodes();
    void firCalibrationWhateverTheTypeCode();
    void samplesAlwaysConvertedAsFir();
    void pixelSumFollowsMeasuredFrames();
};

void TestClassicDecoders::onlyPkg47IsDecoded_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<int>("typeCode");
    QTest::addColumn<int>("frames");

    QByteArray stream47, stream36, streamVariable;
    for (int i = 0; i < 20; ++i) {
        stream47 += pkg47(0x2C, true, uint16_t(1000 * i));
        stream36 += Wire::encodePkg36(3600, Wire::pkg36AngleWord(i * 10.0),
                                      QVector<Wire::StreamPoint>(8, {1000, 200}),
                                      Wire::pkg36AngleWord(i * 10.0 + 5));
        streamVariable += Wire::encodePkgVariable(100 << 1, Wire::pkgVariableAngleValue(i * 10.0),
                                                  Wire::pkgVariableAngleValue(i * 10.0 + 5),
                                                  QVector<Wire::StreamPoint>(20, {1000, 200}));
    }
    QTest::newRow("Pkg36 stream, its own type code") << stream36 << 18 << 0;
    QTest::newRow("PkgVariable stream, its own type code") << streamVariable << 24 << 0;
    QTest::newRow("PkgVariable stream, code 0") << streamVariable << 0 << 0;
    QTest::newRow("Pkg47 stream, Pkg36 type code") << stream47 << 18 << 20;
    QTest::newRow("Pkg47 stream, PkgVariable type code") << stream47 << 24 << 20;
}

void TestClassicDecoders::onlyPkg47IsDecoded()
{
    QFETCH(QByteArray, stream);
    QFETCH(int, typeCode);
    QFETCH(int, frames);

    LiPkg pkg;
    pkg.setModelType(typeCode);
    QSignalSpy ready(&pkg, &LiPkg::pkgReady);
    for (int offset = 0; offset < stream.size(); offset += 64)
        pkg.pushData(stream.mid(offset, 64));
    QCOMPARE(ready.count(), frames);
    if (frames == 0) {
        // Resynchronised away as Pkg47 errors, never more than the limit kept.
        QVERIFY(pkg.errorCount() > 0);
        QVERIFY(pkg.rxBufferSize() <= 4700);
    } else {
        QCOMPARE(pkg.errorCount(), 0);
    }
}

void TestClassicDecoders::findLineUntilFirstGoodCrc_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<int>("finds");

    const QByteArray goodEc = pkg47(0xEC, true);
    const QByteArray badEc = pkg47(0xEC, false);
    QTest::newRow("good 0xEC frames: only the first search") << goodEc + goodEc + goodEc << 1;
    QTest::newRow("two bad frames, then good ones") << badEc + badEc + goodEc + goodEc << 3;
    QTest::newRow("0x2C headers write nothing") << pkg47(0x2C, false) + pkg47(0x2C, false) << 0;
    QTest::newRow("a good 0x2C frame ends it")
        << pkg47(0x2C, false) + pkg47(0x2C, true) + badEc + goodEc << 0;
    QTest::newRow("garbage before the first 0xEC frame") << QByteArray(30, 0x11) + goodEc << 1;
}

void TestClassicDecoders::findLineUntilFirstGoodCrc()
{
    QFETCH(QByteArray, stream);
    QFETCH(int, finds);

    LiPkg pkg;
    DebugLines debug;
    pkg.pushData(stream);
    QCOMPARE(debug.count("find"), finds);

    // Once a frame has passed, later 0xEC frames, good or bad, are silent.
    pkg.pushData(pkg47(0x2C, true));
    const int after = debug.count("find");
    pkg.pushData(pkg47(0xEC, false) + pkg47(0xEC, true));
    QCOMPARE(debug.count("find"), after);
}

void TestClassicDecoders::correctionTableOfTheEarlierCodes_data()
{
    QTest::addColumn<int>("typeCode");
    QTest::addColumn<double>("expectedAngle");
    QTest::addColumn<uint16_t>("expectedDistance");
    // A point at 10 degrees, 500 mm; offset 8.1 gives 509 mm at 5.8239
    // degrees, offset 5.9 gives 507 mm at 5.5383 degrees.
    QTest::newRow("Alder 0") << 0 << 5.823902028 << uint16_t(509);
    QTest::newRow("Hazel 3") << 3 << 5.823902028 << uint16_t(509);
    QTest::newRow("Birch 1") << 1 << 5.538289727 << uint16_t(507);
    QTest::newRow("Ginkgo 2") << 2 << 5.538289727 << uint16_t(507);
    QTest::newRow("full edition's 9: none") << 9 << 10.0 << uint16_t(500);
    QTest::newRow("full edition's 20: none") << 20 << 10.0 << uint16_t(500);
    QTest::newRow("4: none") << 4 << 10.0 << uint16_t(500);
}

void TestClassicDecoders::correctionTableOfTheEarlierCodes()
{
    QFETCH(int, typeCode);
    QFETCH(double, expectedAngle);
    QFETCH(uint16_t, expectedDistance);

    PointData p;
    p.angle = 10.0;
    p.distance = 500;
    p.confidence = 200;
    const auto out = CorrectingClusterFilter(typeCode, 3600).correct({p});
    QCOMPARE(int(out.size()), 1);
    QVERIFY2(std::abs(out[0].angle - expectedAngle) < 1e-8,
             qPrintable(QString::number(out[0].angle)));
    QCOMPARE(out[0].distance, expectedDistance);
    const double slope = CorrectingClusterFilter::correctionFor(typeCode).lateralSlope;
    QVERIFY(slope == 0.0 || slope == 0.11923);
}

void TestClassicDecoders::firCalibrationWhateverTheTypeCode()
{
    QTRNet net;
    // The earlier edition's protocol serves Fir whatever it is told.
    net.setModelType(QTRNet::mapleModelType);
    net.pushData(Wire::firCalibrationReply(11, 22, 33, 44));
    QVERIFY(net.applyCalibrationReply(net.lastDecodedFrame()));
    const DeviceParams &params = net.deviceParams();
    QCOMPARE(params.halfSlope[DeviceParams::Right], 11u);
    QCOMPARE(params.halfSlope[DeviceParams::Left], 22u);
    QCOMPARE(params.halfIntercept[DeviceParams::Right], 33u);
    QCOMPARE(params.halfIntercept[DeviceParams::Left], 44u);
}

void TestClassicDecoders::samplesAlwaysConvertedAsFir()
{
    QTRNet net;
    net.setModelType(QTRNet::mapleModelType);
    QSignalSpy announced(&net, &QTRNet::dataReady);
    // A columns reply is announced and otherwise not used.
    net.pushData(Wire::columnsReply(160));
    QCOMPARE(announced.count(), 1);
    QCOMPARE(net.deviceParams().columnStep, 1);

    QVector<uint16_t> samples(160, 1000);
    net.pushData(Wire::plainSampleFrame(samples));
    const PointList scan = net.currentScan();
    QCOMPARE(scan.size(), 160);
    // Fir's fan of 90 degrees, not Maple's 80.
    QCOMPARE(scan.first().angle, 315.0);
    QCOMPARE(scan.at(80).angle, 0.0);
    QCOMPARE(scan.last().angle, 44.4375);
}

void TestClassicDecoders::pixelSumFollowsMeasuredFrames()
{
    QTRNet net;
    QCOMPARE(net.pixelSum(), uint16_t(0));
    const QVector<uint16_t> samples(160, Wire::firSample(300, 100));
    net.pushData(Wire::measuredSampleFrame(100, samples, 4321));
    QCOMPARE(net.pixelSum(), uint16_t(4321));
    // Plain sample frames and other commands leave it alone.
    QByteArray plain;
    for (int i = 0; i < 160; ++i)
        plain += char(0xE8), plain += char(0x03);
    net.pushData(Wire::encodeTrFrame(1, QTRNet::PlainSamples, 99, plain));
    net.pushData(Wire::encodeTrFrame(1, 40, 98, QByteArray(8, '\1')));
    QCOMPARE(net.pixelSum(), uint16_t(4321));
    net.pushData(Wire::measuredSampleFrame(200, samples, 65535));
    QCOMPARE(net.pixelSum(), uint16_t(65535));
    QCOMPARE(net.lastSampleTimestamp(), 200);
}

QTEST_MAIN(TestClassicDecoders)
#include "tst_classicdecoders.moc"
