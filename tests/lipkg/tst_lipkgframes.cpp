#include "lipkg/framedecode.h"
#include "lipkg/lipkg.h"
#include "streambuilder.h"
#include "streamframes.h"

#include <QSignalSpy>
#include <QtTest>
#include <random>

// Frame splitting, checks, resynchronisation and error counting of the three
// stream formats, fed through pushData in varied chunkings.
class TestLiPkgFrames : public QObject
{
    Q_OBJECT

private slots:
    void checksumsMatchReferenceValues();

    void pkg47HeaderVariants_data();
    void pkg47HeaderVariants();
    void framesSurviveAnyChunking_data();
    void framesSurviveAnyChunking();
    void pkg47FrameCompletesWithItsLastByte();
    void garbageRunCostsOneError_data();
    void garbageRunCostsOneError();
    void frameBehindLongGarbageWaitsForNextChunk();
    void wrongCrcCostsTwoBytesThenSkipRun();
    void pkg47SpanPlausibility_data();
    void pkg47SpanPlausibility();
    void bufferLimitDiscardsWithOneError_data();
    void bufferLimitDiscardsWithOneError();
    void largeChunkIsDecodedNotDiscarded_data();
    void largeChunkIsDecodedNotDiscarded();
    void clearPkgErrorCountRestartsCount();

    void pkg36TwoFramesInOneChunk();
    void pkg36ChecksumWithBit15NeverMatches();
    void pkg36InformationFrameLogsLine();

    void pkgVariableCtBit_data();
    void pkgVariableCtBit();
    void pkgVariableSampleCountLimits_data();
    void pkgVariableSampleCountLimits();
    void pkgVariableResponseHeader_data();
    void pkgVariableResponseHeader();
    void pkgVariableChecksumErrorCostsTwoBytes();

    void randomStreamsKeepStateBounded_data();
    void randomStreamsKeepStateBounded();
};

void TestLiPkgFrames::checksumsMatchReferenceValues()
{
    const QByteArray abc("abc");
    QCOMPARE(FrameDecode::crc8(reinterpret_cast<const uint8_t *>(abc.constData()), 3),
             uint8_t(0x12));
    QCOMPARE(Wire::pkg47Crc(abc), uint8_t(0x12));
    const uint8_t single[] = {1, 2, 3};
    QCOMPARE(FrameDecode::crc8(single, 1), uint8_t(0x4D));
    QCOMPARE(FrameDecode::crc8(single + 1, 1), uint8_t(0x9A));
    QCOMPARE(FrameDecode::crc8(single + 2, 1), uint8_t(0xD7));

    // Encoder and decoder agree on frames with varied content.
    for (int seed = 0; seed < 50; ++seed) {
        QByteArray f47 =
            Wire::encodePkg47(uint16_t(seed * 977), uint16_t(seed * 131),
                              points(12, uint16_t(seed * 37), uint8_t(seed)), uint16_t(seed * 7));
        QVERIFY(FrameDecode::pkg47CrcMatches(reinterpret_cast<const uint8_t *>(f47.constData())));
        QByteArray f36 = Wire::encodePkg36(uint16_t(seed * 977), uint16_t(seed * 4099),
                                           points(8, uint16_t(seed * 1031)), uint16_t(seed * 3));
        QVERIFY(
            FrameDecode::pkg36ChecksumMatches(reinterpret_cast<const uint8_t *>(f36.constData())));
        QByteArray fv =
            Wire::encodePkgVariable(uint8_t(seed * 2), uint16_t(seed * 555), uint16_t(seed * 77),
                                    points(seed % 51, uint16_t(seed)));
        QVERIFY(FrameDecode::pkgVariableChecksumMatches(
            reinterpret_cast<const uint8_t *>(fv.constData()), seed % 51));
    }
}

void TestLiPkgFrames::pkg47HeaderVariants_data()
{
    QTest::addColumn<uint8_t>("secondHeader");
    QTest::newRow("0x2C") << uint8_t(0x2C);
    QTest::newRow("0xEC") << uint8_t(0xEC);
}

void TestLiPkgFrames::pkg47HeaderVariants()
{
    QFETCH(uint8_t, secondHeader);
    LiPkg pkg;
    pkg.setModelType(pkg47Model);
    QSignalSpy ready(&pkg, &LiPkg::pkgReady);
    pkg.pushData(pkg47Frame(1000, secondHeader) + pkg47Frame(2000, secondHeader));
    QCOMPARE(ready.count(), 2);
    QCOMPARE(pkg.errorCount(), 0);
    QCOMPARE(pkg.rxBufferSize(), 0);
}

void TestLiPkgFrames::framesSurviveAnyChunking_data()
{
    QTest::addColumn<int>("modelType");
    QTest::addColumn<int>("chunkSize");
    const QList<int> sizes{1, 5, 35, 46, 47, 100, 256, 4000};
    for (int size : sizes) {
        QTest::addRow("Pkg47 chunks of %d", size) << pkg47Model << size;
        QTest::addRow("Pkg36 chunks of %d", size) << pkg36Model << size;
        QTest::addRow("PkgVariable chunks of %d", size) << pkgVariableModel << size;
    }
}

void TestLiPkgFrames::framesSurviveAnyChunking()
{
    QFETCH(int, modelType);
    QFETCH(int, chunkSize);
    QByteArray stream;
    const int frames = 40;
    for (int i = 0; i < frames; ++i) {
        if (modelType == pkg47Model)
            stream += pkg47Frame(uint16_t(i * 900));
        else if (modelType == pkg36Model)
            stream += pkg36Frame(i * 9.0);
        else
            stream += pkgVariablePacket(1 + i);
    }
    // A trailing frame so the last real one is never short of buffered bytes.
    stream += modelType == pkgVariableModel ? pkgVariablePacket(30) : QByteArray();
    LiPkg pkg;
    pkg.setModelType(modelType);
    QSignalSpy ready(&pkg, &LiPkg::pkgReady);
    pushInChunks(pkg, stream, chunkSize);
    QCOMPARE(ready.count(), modelType == pkgVariableModel ? frames + 1 : frames);
    QCOMPARE(pkg.errorCount(), 0);
}

void TestLiPkgFrames::pkg47FrameCompletesWithItsLastByte()
{
    LiPkg pkg;
    pkg.setModelType(pkg47Model);
    QSignalSpy ready(&pkg, &LiPkg::pkgReady);
    const QByteArray frame = pkg47Frame();
    pkg.pushData(frame.left(46));
    QCOMPARE(ready.count(), 0);
    QCOMPARE(pkg.rxBufferSize(), 46);
    pkg.pushData(frame.right(1));
    QCOMPARE(ready.count(), 1);
    QCOMPARE(pkg.errorCount(), 0);
}

void TestLiPkgFrames::garbageRunCostsOneError_data()
{
    QTest::addColumn<int>("modelType");
    QTest::addColumn<int>("length");
    for (int length : {1, 2, 47, 1000}) {
        QTest::addRow("Pkg47, %d bytes", length) << pkg47Model << length;
        QTest::addRow("Pkg36, %d bytes", length) << pkg36Model << length;
        QTest::addRow("PkgVariable, %d bytes", length) << pkgVariableModel << length;
    }
}

void TestLiPkgFrames::garbageRunCostsOneError()
{
    QFETCH(int, modelType);
    QFETCH(int, length);
    const QByteArray frame = modelType == pkg47Model   ? pkg47Frame()
                             : modelType == pkg36Model ? pkg36Frame()
                                                       : pkgVariablePacket();
    LiPkg pkg;
    pkg.setModelType(modelType);
    QSignalSpy ready(&pkg, &LiPkg::pkgReady);
    QSignalSpy errors(&pkg, &LiPkg::errorIncrease);
    pkg.pushData(garbage(length) + frame);
    QCOMPARE(pkg.errorCount(), 1);
    QCOMPARE(errors.count(), 1);
    QCOMPARE(ready.count(), 1);
    QCOMPARE(pkg.rxBufferSize(), 0);
}

void TestLiPkgFrames::frameBehindLongGarbageWaitsForNextChunk()
{
    // The loop continues only while the skipped length is below what is left,
    // so a second frame behind a long skip waits for the next chunk.
    LiPkg pkg;
    pkg.setModelType(pkg47Model);
    QSignalSpy ready(&pkg, &LiPkg::pkgReady);
    pkg.pushData(garbage(100) + pkg47Frame(1000) + pkg47Frame(2000));
    QCOMPARE(ready.count(), 1);
    QCOMPARE(pkg.rxBufferSize(), 47);
    pkg.pushData(QByteArray());
    QCOMPARE(ready.count(), 2);
    QCOMPARE(pkg.errorCount(), 1);
}

void TestLiPkgFrames::wrongCrcCostsTwoBytesThenSkipRun()
{
    LiPkg pkg;
    pkg.setModelType(pkg47Model);
    QSignalSpy ready(&pkg, &LiPkg::pkgReady);
    QByteArray bad = pkg47Frame(1000);
    bad[46] = char(bad[46] ^ 0x01);

    pkg.pushData(bad);
    // The mismatch removes two bytes; the other 45 hold no header and are
    // skipped as one more error, all but the last byte.
    QCOMPARE(pkg.errorCount(), 2);
    QCOMPARE(pkg.rxBufferSize(), 1);
    QCOMPARE(ready.count(), 0);

    pkg.pushData(bad + pkg47Frame(2000));
    QCOMPARE(pkg.errorCount(), 2 + 1 + 2);
    QCOMPARE(ready.count(), 1);
    QCOMPARE(pkg.rxBufferSize(), 0);
}

void TestLiPkgFrames::pkg47SpanPlausibility_data()
{
    QTest::addColumn<int>("speed");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    QTest::addColumn<int>("errors");
    // 3600 deg/s allows 3600 * 12 / 2300 * 1.5 = 28.17 whole degrees.
    QTest::newRow("28 degrees at 3600") << 3600 << 1000 << 3899 << 0;
    QTest::newRow("29 degrees at 3600") << 3600 << 1000 << 3900 << 1;
    QTest::newRow("whole degrees, not the exact span") << 3600 << 1099 << 3900 << 1;
    QTest::newRow("across 0 degrees") << 3600 << 35900 << 100 << 0;
    QTest::newRow("speed 0 allows no span") << 0 << 1000 << 1100 << 1;
    QTest::newRow("speed 0, same degree") << 0 << 1000 << 1099 << 0;
}

void TestLiPkgFrames::pkg47SpanPlausibility()
{
    QFETCH(int, speed);
    QFETCH(int, start);
    QFETCH(int, end);
    QFETCH(int, errors);
    LiPkg pkg;
    pkg.setModelType(pkg47Model);
    QSignalSpy ready(&pkg, &LiPkg::pkgReady);
    pkg.pushData(Wire::encodePkg47(uint16_t(speed), uint16_t(start), points(12), uint16_t(end)));
    QCOMPARE(pkg.errorCount(), errors);
    QCOMPARE(ready.count(), 1); // accepted either way
}

void TestLiPkgFrames::bufferLimitDiscardsWithOneError_data()
{
    QTest::addColumn<int>("modelType");
    QTest::addColumn<QByteArray>("waiting");
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("errors");
    QTest::addColumn<int>("remaining");
    // A partial frame waits in the buffer; the next chunk brings the total to
    // the limit (parsed: a checksum error and a skip run) or one past it.
    const QByteArray p47 = pkg47Frame().left(46);
    const QByteArray p36 = pkg36Frame().left(35);
    const QByteArray pv = pkgVariablePacket(20).left(26);
    QTest::newRow("Pkg47 at limit") << pkg47Model << p47 << 4700 << 4700 << 2 << 1;
    QTest::newRow("Pkg47 over limit") << pkg47Model << p47 << 4700 << 4701 << 1 << 0;
    QTest::newRow("Pkg36 at limit") << pkg36Model << p36 << 3600 << 3600 << 2 << 2;
    QTest::newRow("Pkg36 over limit") << pkg36Model << p36 << 3600 << 3601 << 1 << 0;
    QTest::newRow("PkgVariable at limit") << pkgVariableModel << pv << 16000 << 16000 << 2 << 1;
    QTest::newRow("PkgVariable over limit") << pkgVariableModel << pv << 16000 << 16001 << 1 << 0;
}

void TestLiPkgFrames::bufferLimitDiscardsWithOneError()
{
    QFETCH(int, modelType);
    QFETCH(QByteArray, waiting);
    QFETCH(int, total);
    QFETCH(int, errors);
    QFETCH(int, remaining);
    LiPkg pkg;
    pkg.setModelType(modelType);
    pkg.pushData(waiting);
    QCOMPARE(pkg.rxBufferSize(), waiting.size());
    QCOMPARE(pkg.errorCount(), 0);
    pkg.pushData(QByteArray(total - waiting.size(), char(0)));
    QCOMPARE(pkg.errorCount(), errors);
    QCOMPARE(pkg.rxBufferSize(), remaining);
}

void TestLiPkgFrames::largeChunkIsDecodedNotDiscarded_data()
{
    QTest::addColumn<int>("modelType");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("limit");
    QTest::newRow("Pkg47") << pkg47Model << pkg47Frame() << 4700;
    QTest::newRow("Pkg36") << pkg36Model << pkg36Frame() << 3600;
    QTest::newRow("PkgVariable") << pkgVariableModel << pkgVariablePacket(50) << 16000;
}

void TestLiPkgFrames::largeChunkIsDecodedNotDiscarded()
{
    QFETCH(int, modelType);
    QFETCH(QByteArray, frame);
    QFETCH(int, limit);
    // Three times the limit, with a run of garbage after the first third and
    // a partial frame waiting from the chunk before.
    const int count = 3 * limit / frame.size() + 1;
    QByteArray stream = frame.mid(5);
    for (int i = 0; i < count; ++i) {
        stream += frame;
        if (i == count / 3)
            stream += garbage(500);
    }
    LiPkg pkg;
    pkg.setModelType(modelType);
    QSignalSpy ready(&pkg, &LiPkg::pkgReady);
    pkg.pushData(frame.left(5));
    pkg.pushData(stream);
    pkg.pushData(QByteArray()); // lets a frame left behind a skip run through
    QCOMPARE(ready.count(), count + 1);
    QCOMPARE(pkg.errorCount(), 1);
    QVERIFY(pkg.rxBufferSize() <= limit);
}

void TestLiPkgFrames::clearPkgErrorCountRestartsCount()
{
    LiPkg pkg;
    pkg.setModelType(pkg47Model);
    pkg.pushData(garbage(10) + pkg47Frame() + garbage(10) + pkg47Frame());
    QVERIFY(pkg.errorCount() > 0);
    pkg.clearPkgErrorCount();
    QCOMPARE(pkg.errorCount(), 0);
    pkg.pushData(garbage(60));
    QCOMPARE(pkg.errorCount(), 1);
}

void TestLiPkgFrames::pkg36TwoFramesInOneChunk()
{
    LiPkg pkg;
    pkg.setModelType(pkg36Model);
    QSignalSpy ready(&pkg, &LiPkg::pkgReady);
    pkg.pushData(pkg36Frame(10.0) + pkg36Frame(20.0));
    QCOMPARE(ready.count(), 2);
    QCOMPARE(pkg.errorCount(), 0);
    QCOMPARE(pkg.rxBufferSize(), 0);
    QCOMPARE(pkg.rotationSpeed(), 10.0);
}

void TestLiPkgFrames::pkg36ChecksumWithBit15NeverMatches()
{
    QByteArray frame = pkg36Frame();
    frame[35] = char(frame[35] | 0x80);
    LiPkg pkg;
    pkg.setModelType(pkg36Model);
    QSignalSpy ready(&pkg, &LiPkg::pkgReady);
    pkg.pushData(frame + pkg36Frame());
    QCOMPARE(ready.count(), 1);
    // The mismatch, then the rest of the bad frame skipped up to the good one.
    QCOMPARE(pkg.errorCount(), 2);
}

void TestLiPkgFrames::pkg36InformationFrameLogsLine()
{
    QByteArray record(28, char(0));
    record[0] = 7; // third firmware number
    record[2] = 5; // second
    record[3] = 2; // first
    record[4] = 1; // hardware_version 0x00000201
    record[5] = 2;
    record[8] = char(0xFF); // angle_offset 0xFFFFFFFF
    record[9] = char(0xFF);
    record[10] = char(0xFF);
    record[11] = char(0xFF);
    record[12] = 30;         // blind area
    record[16] = 40;         // expose duty
    record[20] = char(0xE8); // frequence 1000
    record[21] = 3;
    record[24] = 10; // given_speed
    const QByteArray frame = Wire::encodePkg36Info(record);
    // mcu_uid takes the checksum bytes; the two record bytes past the frame are 0.
    const uint32_t uid = uint8_t(frame[34]) | uint8_t(frame[35]) << 8;

    LiPkg pkg;
    pkg.setModelType(pkg36Model);
    QSignalSpy ready(&pkg, &LiPkg::pkgReady);
    const QString line = QStringLiteral("firmware_version:v2.5.7,hardware_version:513,angle_offset:"
                                        "4294967295,blind area:30expose duty:40frequence:1000,"
                                        "given_speed:10,mcu_uid:%1,")
                             .arg(uid);
    QTest::ignoreMessage(QtDebugMsg, line.toUtf8().constData());
    pkg.pushData(frame + pkg36Frame());
    QCOMPARE(ready.count(), 1); // only the measurement frame
    QCOMPARE(pkg.errorCount(), 0);
    QCOMPARE(pkg.rxBufferSize(), 0);
    const QByteArray stored = pkg.deviceInfoRecord();
    QCOMPARE(stored.size(), 32);
    QCOMPARE(stored.left(30), frame.mid(6, 30));
    QCOMPARE(stored.mid(30), QByteArray(2, char(0)));
}

void TestLiPkgFrames::pkgVariableCtBit_data()
{
    QTest::addColumn<uint8_t>("ct");
    QTest::addColumn<int>("frames");
    QTest::addColumn<double>("rotationSpeed");
    QTest::newRow("bit 0 clear") << uint8_t(200) << 1 << 10.0;
    QTest::newRow("bit 0 set") << uint8_t(201) << 0 << 0.0;
}

void TestLiPkgFrames::pkgVariableCtBit()
{
    QFETCH(uint8_t, ct);
    QFETCH(int, frames);
    QFETCH(double, rotationSpeed);
    LiPkg pkg;
    pkg.setModelType(pkgVariableModel);
    QSignalSpy ready(&pkg, &LiPkg::pkgReady);
    pkg.pushData(pkgVariablePacket(10, ct));
    QCOMPARE(ready.count(), frames);
    QCOMPARE(pkg.rotationSpeed(), rotationSpeed);
    QCOMPARE(pkg.errorCount(), 0);
    QCOMPARE(pkg.rxBufferSize(), 0);
}

void TestLiPkgFrames::pkgVariableSampleCountLimits_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("frames");
    QTest::addColumn<int>("remaining");
    const QByteArray n0 = pkgVariablePacket(0);
    const QByteArray n50 = pkgVariablePacket(50);
    QByteArray n51 = pkgVariablePacket(50) + QByteArray(3, char(0));
    n51[3] = char(51);
    QTest::newRow("N = 0 alone waits for 27 bytes") << n0 << 0 << 10;
    QTest::newRow("N = 0 with 17 bytes behind") << n0 + n50.left(17) << 1 << 17;
    QTest::newRow("N = 50") << n50 << 1 << 0;
    QTest::newRow("N = 51 loses 2 bytes and ends the run")
        << n51 + n50 << 0 << n51.size() + 160 - 2;
}

void TestLiPkgFrames::pkgVariableSampleCountLimits()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, frames);
    QFETCH(int, remaining);
    LiPkg pkg;
    pkg.setModelType(pkgVariableModel);
    QSignalSpy ready(&pkg, &LiPkg::pkgReady);
    pkg.pushData(bytes);
    QCOMPARE(ready.count(), frames);
    QCOMPARE(pkg.errorCount(), 0);
    QCOMPARE(pkg.rxBufferSize(), remaining);
}

void TestLiPkgFrames::pkgVariableResponseHeader_data()
{
    QTest::addColumn<uint8_t>("type");
    QTest::addColumn<int>("removed");
    QTest::newRow("type 6 is consumed") << uint8_t(6) << 11;
    QTest::newRow("other types lose 2 bytes") << uint8_t(5) << 2;
}

void TestLiPkgFrames::pkgVariableResponseHeader()
{
    QFETCH(uint8_t, type);
    QFETCH(int, removed);
    const QByteArray bytes = Wire::encodePkgVariableResponse(type) + pkgVariablePacket(20);
    LiPkg pkg;
    pkg.setModelType(pkgVariableModel);
    QSignalSpy ready(&pkg, &LiPkg::pkgReady);
    pkg.pushData(bytes);
    // Either way the parser run ends; the packet behind waits for the next chunk.
    QCOMPARE(ready.count(), 0);
    QCOMPARE(pkg.rxBufferSize(), bytes.size() - removed);
    QCOMPARE(pkg.errorCount(), 0);
    pkg.pushData(QByteArray());
    QCOMPARE(ready.count(), 1);
    QCOMPARE(pkg.rxBufferSize(), 0);
    QCOMPARE(pkg.errorCount(), type == 6 ? 0 : 1); // the rest of the header is skipped
}

void TestLiPkgFrames::pkgVariableChecksumErrorCostsTwoBytes()
{
    QByteArray bad = pkgVariablePacket(20);
    bad[15] = char(bad[15] ^ 0x40);
    LiPkg pkg;
    pkg.setModelType(pkgVariableModel);
    QSignalSpy ready(&pkg, &LiPkg::pkgReady);
    pkg.pushData(bad);
    QCOMPARE(ready.count(), 0);
    QCOMPARE(pkg.errorCount(), 2); // mismatch, then the rest skipped
    QCOMPARE(pkg.rxBufferSize(), 1);
}

void TestLiPkgFrames::randomStreamsKeepStateBounded_data()
{
    QTest::addColumn<int>("modelType");
    QTest::addColumn<int>("limit");
    QTest::newRow("Pkg47") << pkg47Model << 4700;
    QTest::newRow("Pkg36") << pkg36Model << 3600;
    QTest::newRow("PkgVariable") << pkgVariableModel << 16000;
}

void TestLiPkgFrames::randomStreamsKeepStateBounded()
{
    QFETCH(int, modelType);
    QFETCH(int, limit);
    // Random bytes, headers of every format and valid frames with random
    // content, in chunks from 1 byte to well past the buffer limit.
    std::mt19937 random(20240611u + uint32_t(modelType));
    const auto below = [&random](int n) { return int(random() % uint32_t(n)); };
    LiPkg pkg;
    pkg.setModelType(modelType);
    for (int round = 0; round < 300; ++round) {
        QByteArray chunk;
        const int target = below(4) == 0 ? below(3 * limit) : below(600);
        while (chunk.size() < target) {
            switch (below(6)) {
            case 0:
                chunk += Wire::encodePkg47(uint16_t(random()), uint16_t(random()),
                                           points(12, uint16_t(random())), uint16_t(random()));
                break;
            case 1:
                chunk += Wire::encodePkg36(uint16_t(random()), uint16_t(random()),
                                           points(8, uint16_t(random())), uint16_t(random()));
                break;
            case 2:
                chunk += Wire::encodePkgVariable(uint8_t(random()), uint16_t(random()),
                                                 uint16_t(random()), points(below(51)));
                break;
            case 3:
                chunk += Wire::encodePkgVariableResponse(uint8_t(below(8)));
                break;
            default:
                for (int i = below(200); i > 0; --i)
                    chunk.append(char(below(3) == 0
                                          ? "\x54\x2C\xEC\x55\xAA\x03\xFE\xA5\x5A"[below(9)]
                                          : char(random())));
            }
        }
        pkg.pushData(chunk);
        QVERIFY(pkg.rxBufferSize() <= limit);
        QVERIFY(pkg.pendingPointCount() <= LiPkg::maxPendingPoints);
        QVERIFY(pkg.speedListSize() <= LiPkg::maxPendingPoints);
        QVERIFY(pkg.scanStartIndex() >= 0 && pkg.scanStartIndex() <= pkg.pendingPointCount());
        QVERIFY(pkg.scanEndIndex() >= 0 && pkg.scanEndIndex() <= pkg.pendingPointCount());
        QVERIFY(!pkg.currentScan().isEmpty() || pkg.pointTotal() == 0);
    }
}

QTEST_GUILESS_MAIN(TestLiPkgFrames)
#include "tst_lipkgframes.moc"
