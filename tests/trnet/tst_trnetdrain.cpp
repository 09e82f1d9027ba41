#include "commandframes.h"
#include "trnet/qtrnet.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

// Splitting the received stream into frames: what is announced, in which
// order, and what the receive buffer keeps.
class TestTrNetDrain : public QObject
{
    Q_OBJECT
private slots:
    void framesAnnounced_data();
    void framesAnnounced();
    void frameSplitAtEveryByte();
    void longHeaderDoesNotHideLaterFrame();
    void garbageAfterLastFrameStays();
    void matchesPlainDrainOnRandomStreams();
    void bufferBoundedOnHeaderFlood();
    void bufferBoundedOnStreamingData();
    void longestFrameSurvivesGarbage();
    void columnsReplySetsColumnStep_data();
    void columnsReplySetsColumnStep();
    void reentrantPushFromSlot();
    void resetKeepsCalibrationForgetsTheStream();
};

namespace {

struct Decoded
{
    uint8_t command;
    uint16_t parameter;
    QByteArray payload;
    bool operator==(const Decoded &o) const
    {
        return command == o.command && parameter == o.parameter && payload == o.payload;
    }
};

// Collects every frame announced by dataReady.
struct Recorder
{
    explicit Recorder(QTRNet &net)
    {
        QObject::connect(&net, &QTRNet::dataReady, &net, [this](TRData *frame) {
            frames.append({frame->command, frame->parameter, frame->payload});
        });
    }
    QVector<Decoded> frames;
};

QByteArray frame(uint8_t command, const QByteArray &payload, uint16_t parameter = 0)
{
    return Wire::encodeTrFrame(1, command, parameter, payload);
}

// The receive loop without bounds or bookkeeping: examine every position
// from the start of the buffer after every chunk.
QVector<Decoded> plainDrain(const QVector<QByteArray> &chunks)
{
    QVector<Decoded> out;
    QByteArray buffer;
    for (const QByteArray &chunk : chunks) {
        buffer += chunk;
        int i = 0;
        int consumed = 0;
        auto u8 = [&buffer](int at) { return static_cast<uint8_t>(buffer[at]); };
        while (i < buffer.size() - 4) {
            const int a = buffer.size() - i;
            bool decoded = false;
            if (a >= 11 && u8(i) == 0xAA && u8(i + 1) == 0xAA && u8(i + 2) == 0xAA &&
                u8(i + 3) == 0xAA) {
                const int n = u8(i + 8) | (u8(i + 9) << 8);
                if (n <= a - 11) {
                    uint8_t sum = 0;
                    for (int k = i + 4; k < i + 10 + n; ++k)
                        sum = static_cast<uint8_t>(sum + u8(k));
                    if (sum == u8(i + 10 + n)) {
                        out.append({u8(i + 5), uint16_t(u8(i + 6) | (u8(i + 7) << 8)),
                                    buffer.mid(i + 10, n)});
                        i += 11 + n;
                        consumed = i;
                        decoded = true;
                    }
                }
            }
            if (!decoded)
                ++i;
        }
        buffer.remove(0, consumed);
    }
    return out;
}

} // namespace

void TestTrNetDrain::framesAnnounced_data()
{
    QTest::addColumn<QVector<QByteArray>>("chunks");
    QTest::addColumn<QVector<int>>("commands");
    QTest::addColumn<int>("leftInBuffer");

    const QByteArray a = frame(7, "abc");
    const QByteArray b = frame(9, QByteArray());
    QByteArray badChecksum = frame(5, QByteArray(20, 'x'));
    badChecksum[badChecksum.size() - 1] = static_cast<char>(badChecksum.back() + 1);
    // A frame whose bytes hide a complete frame: only the inner one is valid.
    QByteArray outer = frame(5, QByteArray("12") + a + "34");
    outer[outer.size() - 1] = static_cast<char>(outer.back() + 1);

    QTest::newRow("two frames in one chunk")
        << QVector<QByteArray>{a + b} << QVector<int>{7, 9} << 0;
    QTest::newRow("split frame") << QVector<QByteArray>{a.left(6), a.mid(6)} << QVector<int>{7}
                                 << 0;
    QTest::newRow("garbage before, between, after")
        << QVector<QByteArray>{"\x01\xAA\xAA\x02" + a + "zz" + b + "tail"} << QVector<int>{7, 9}
        << 4;
    QTest::newRow("bad checksum") << QVector<QByteArray>{badChecksum} << QVector<int>{}
                                  << badChecksum.size();
    QTest::newRow("valid frame inside a bad one")
        << QVector<QByteArray>{outer} << QVector<int>{7} << 3;
    QTest::newRow("four bytes are not examined")
        << QVector<QByteArray>{QByteArray(4, '\xAA')} << QVector<int>{} << 4;
    QTest::newRow("header alone waits") << QVector<QByteArray>{a.left(10)} << QVector<int>{} << 10;
    QTest::newRow("frame completed byte by byte") << [&] {
        QVector<QByteArray> bytes;
        for (char c : b + a)
            bytes.append(QByteArray(1, c));
        return bytes;
    }() << QVector<int>{9, 7} << 0;
}

void TestTrNetDrain::framesAnnounced()
{
    QFETCH(QVector<QByteArray>, chunks);
    QFETCH(QVector<int>, commands);
    QFETCH(int, leftInBuffer);

    QTRNet net;
    Recorder recorder(net);
    for (const QByteArray &chunk : chunks)
        net.pushData(chunk);
    QVector<int> seen;
    for (const Decoded &d : recorder.frames)
        seen.append(d.command);
    QCOMPARE(seen, commands);
    QCOMPARE(net.rxLiveBytes(), leftInBuffer);
}

void TestTrNetDrain::frameSplitAtEveryByte()
{
    const QByteArray a = frame(3, QByteArray(40, '\x55'), 0x1234);
    const QByteArray stream = "\xAA\xAA\xAA" + a + frame(4, "z");
    for (int cut = 1; cut < stream.size(); ++cut) {
        QTRNet net;
        Recorder recorder(net);
        net.pushData(stream.left(cut));
        net.pushData(stream.mid(cut));
        QCOMPARE(recorder.frames.size(), 2);
        QCOMPARE(recorder.frames[0].parameter, uint16_t(0x1234));
        QCOMPARE(recorder.frames[0].payload, QByteArray(40, '\x55'));
        QCOMPARE(recorder.frames[1].payload, QByteArray("z"));
        QCOMPARE(net.rxLiveBytes(), 0);
    }
}

void TestTrNetDrain::longHeaderDoesNotHideLaterFrame()
{
    // A header claiming a long frame is passed over while the frame is
    // incomplete; a complete frame behind it is taken and the header dropped.
    QTRNet net;
    Recorder recorder(net);
    QByteArray claim = frame(8, QByteArray(5000, 'q')).left(30);
    net.pushData(claim);
    QCOMPARE(recorder.frames.size(), 0);
    net.pushData(frame(6, "ok"));
    QCOMPARE(recorder.frames.size(), 1);
    QCOMPARE(recorder.frames[0].command, uint8_t(6));
    QCOMPARE(net.rxLiveBytes(), 0);
    net.pushData(QByteArray(6000, 'q'));
    QCOMPARE(recorder.frames.size(), 1);
}

void TestTrNetDrain::garbageAfterLastFrameStays()
{
    QTRNet net;
    Recorder recorder(net);
    net.pushData(frame(1, "a") + "junk");
    QCOMPARE(net.rxLiveBytes(), 4);
    // The junk goes together with the next frame.
    net.pushData("more" + frame(2, "b"));
    QCOMPARE(recorder.frames.size(), 2);
    QCOMPARE(net.rxLiveBytes(), 0);
}

void TestTrNetDrain::matchesPlainDrainOnRandomStreams()
{
    // Random mixes of good frames, broken frames, header runs and noise,
    // delivered in random chunks, must give exactly the frames that the
    // plain examine-everything loop gives.
    QRandomGenerator rng(4711);
    for (int round = 0; round < 300; ++round) {
        QByteArray stream;
        while (stream.size() < 3000) {
            const int kind = rng.bounded(6);
            QByteArray payload(rng.bounded(kind == 5 ? 400 : 30), '\0');
            for (char &c : payload)
                c = static_cast<char>(rng.bounded(4) == 0 ? 0xAA : rng.bounded(256));
            QByteArray f = frame(static_cast<uint8_t>(rng.bounded(256)), payload);
            if (kind == 1) // broken checksum
                f[f.size() - 1] = static_cast<char>(f.back() ^ 0x40);
            else if (kind == 2) // cut short
                f.truncate(rng.bounded(1, f.size()));
            else if (kind == 3) // header run
                f = QByteArray(rng.bounded(1, 9), '\xAA');
            else if (kind == 4) // noise
                f = payload;
            stream += f;
        }
        QVector<QByteArray> chunks;
        for (int at = 0; at < stream.size();) {
            const int size = rng.bounded(1, rng.bounded(2) ? 8 : 600);
            chunks.append(stream.mid(at, size));
            at += size;
        }

        QTRNet net;
        Recorder recorder(net);
        for (const QByteArray &chunk : chunks)
            net.pushData(chunk);
        QCOMPARE(recorder.frames, plainDrain(chunks));
    }
}

void TestTrNetDrain::bufferBoundedOnHeaderFlood()
{
    // Every position of an endless run of AA starts a header that claims a
    // frame of 43701 bytes which never checks out.
    QTRNet net;
    Recorder recorder(net);
    const QByteArray chunk(61, '\xAA');
    int largest = 0;
    for (int i = 0; i < 600 * 1024 / chunk.size(); ++i) {
        net.pushData(chunk);
        largest = qMax(largest, net.rxBufferSize());
    }
    QCOMPARE(recorder.frames.size(), 0);
    QVERIFY2(largest <= 65546 + 65536 + chunk.size(), qPrintable(QString::number(largest)));
    QVERIFY(net.rxPendingHeaders() <= 65546);

    // The stream can still recover.
    net.pushData(QByteArray(3, '\0') + frame(12, "back"));
    QCOMPARE(recorder.frames.size(), 1);
    QCOMPARE(recorder.frames[0].payload, QByteArray("back"));
}

void TestTrNetDrain::bufferBoundedOnStreamingData()
{
    // A streaming sensor's data never forms a frame of this protocol.
    QTRNet net;
    QRandomGenerator rng(7);
    QByteArray chunk(997, '\0');
    int largest = 0;
    for (int i = 0; i < 2000; ++i) {
        for (char &c : chunk)
            c = static_cast<char>(rng.bounded(256));
        net.pushData(chunk);
        largest = qMax(largest, net.rxBufferSize());
    }
    QVERIFY2(largest <= 65546 + 65536 + chunk.size(), qPrintable(QString::number(largest)));
    QVERIFY(net.rxLiveBytes() <= 65546 + 4);
}

void TestTrNetDrain::longestFrameSurvivesGarbage()
{
    QTRNet net;
    Recorder recorder(net);
    QByteArray payload(0xFFFF, '\0');
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<char>(i * 7);
    const QByteArray longest = frame(77, payload);
    net.pushData(QByteArray(100000, '\x13'));
    for (int at = 0; at < longest.size(); at += 1000)
        net.pushData(longest.mid(at, 1000));
    QCOMPARE(recorder.frames.size(), 1);
    QCOMPARE(recorder.frames[0].payload, payload);
    QVERIFY(net.rxBufferSize() <= 65546 + 65536 + 1000);
}

void TestTrNetDrain::columnsReplySetsColumnStep_data()
{
    QTest::addColumn<int>("modelType");
    QTest::addColumn<QVector<int>>("columns");
    QTest::addColumn<int>("expectedColumns");
    QTest::addColumn<int>("expectedStep");

    QTest::newRow("maple 160") << 32 << QVector<int>{160} << 160 << 2;
    QTest::newRow("maple 160 then 320") << 32 << QVector<int>{160, 320} << 320 << 1;
    QTest::newRow("maple other value keeps step") << 32 << QVector<int>{160, 200} << 200 << 2;
    QTest::newRow("fir ignores it") << 7 << QVector<int>{160} << 320 << 1;
}

void TestTrNetDrain::columnsReplySetsColumnStep()
{
    QFETCH(int, modelType);
    QFETCH(QVector<int>, columns);
    QFETCH(int, expectedColumns);
    QFETCH(int, expectedStep);

    QTRNet net;
    net.setModelType(modelType);
    QSignalSpy announced(&net, &QTRNet::dataReady);
    for (int c : columns)
        net.pushData(Wire::columnsReply(static_cast<uint16_t>(c), 99));
    net.pushData(frame(21, "\x01")); // too short to carry a column count
    QCOMPARE(announced.count(), columns.size() + 1);
    QCOMPARE(net.deviceParams().columns, expectedColumns);
    QCOMPARE(net.deviceParams().columnStep, expectedStep);
}

void TestTrNetDrain::reentrantPushFromSlot()
{
    // A slot that feeds more bytes while a frame is being announced: those
    // bytes are handled after the current frame, in order.
    QTRNet net;
    QVector<int> order;
    bool fed = false;
    connect(&net, &QTRNet::dataReady, &net, [&](TRData *f) {
        order.append(f->command);
        if (!fed) {
            fed = true;
            net.pushData(frame(3, QByteArray("\x05\x00\x06\x00", 4)).left(8));
            net.pushData(frame(3, QByteArray("\x05\x00\x06\x00", 4)).mid(8));
        }
    });
    net.pushData(frame(1, "x") + frame(2, QByteArray(3, 'y')));
    QCOMPARE(order, (QVector<int>{1, 2, 3}));
    QCOMPARE(net.currentScan().size(), 2);
    QCOMPARE(net.rxLiveBytes(), 0);
}

// A new source after a reset decodes as by a decoder that only got the
// same calibration: no timing from the old stream, no half frame left.
void TestTrNetDrain::resetKeepsCalibrationForgetsTheStream()
{
    const QVector<uint16_t> samples(160, Wire::firSample(300, 100));
    auto calibrated = [](QTRNet &trNet) {
        trNet.setModelType(7);
        trNet.pushData(Wire::firCalibrationReply(1, 2, 3, 4));
        QVERIFY(trNet.applyCalibrationReply(trNet.lastDecodedFrame()));
        trNet.enterStartedMode();
    };
    auto text = [](const QTRNet &trNet) {
        QString line = QString("rate %1 total %2:").arg(trNet.scanRate()).arg(trNet.pointTotal());
        for (const PointData &p : trNet.currentScan())
            line += QString(" %1/%2").arg(p.angle).arg(p.distance);
        return line;
    };

    QTRNet fresh;
    calibrated(fresh);
    QTRNet used;
    calibrated(used);
    used.pushData(Wire::measuredSampleFrame(100, samples, 7) +
                  Wire::measuredSampleFrame(180, samples, 7).left(30));
    QVERIFY(used.rxLiveBytes() > 0);
    used.resetReceiveState();
    QCOMPARE(used.rxLiveBytes(), 0);
    QVERIFY(used.currentScan().isEmpty());
    QCOMPARE(used.lastDecodedFrame().command, uint8_t(QTRNet::MeasuredSamples));

    const QByteArray next = Wire::measuredSampleFrame(350, samples, 7);
    used.pushData(next);
    fresh.pushData(next);
    QCOMPARE(text(used), text(fresh));
    QVERIFY(!used.currentScan().isEmpty());
}

QTEST_GUILESS_MAIN(TestTrNetDrain)
#include "tst_trnetdrain.moc"
