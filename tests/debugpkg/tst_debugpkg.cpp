#include "debuglines.h"
#include "debugpkg/debugpkg.h"
#include "ptydevice.h"
#include "serviceframes.h"
#include "streamframes.h"

#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

// Service frames: the requests written to the port and the replies found in
// any model's stream.
class TestDebugPkg : public QObject
{
    Q_OBJECT
private slots:
    void requestBytes_data();
    void requestBytes();
    void informationReply_data();
    void informationReply();
    void oneFramePerCall();
    void frameChecks_data();
    void frameChecks();
    void fakeEndInsideScanData();
    void voltageAndStatusReports();
    void loggingRuleSilencesVoltageLine();
    void fullBufferStartsAfresh();
    void replyInsideStreamingData();
};

namespace {

struct Decoder
{
    DebugPkg pkg;
};

} // namespace

void TestDebugPkg::requestBytes_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("information request") << 127 << 0
                                         << QByteArray::fromHex("AAAA107F000002000000000091"
                                                                "5555");
    // Content 10 55 00 00 02 00 00 00 A5 AA, checksum B6.
    QTest::newRow("stuffed 55 A5 AA")
        << 0x55 << 0xAAA5 << QByteArray::fromHex("AAAA10A555000002000000A5A5A5AAB65555");
}

void TestDebugPkg::requestBytes()
{
    QFETCH(int, command);
    QFETCH(int, value);
    QFETCH(QByteArray, expected);

    QCOMPARE(DebugPkg::requestBytes(uint8_t(command), uint16_t(value)).toHex(' '),
             expected.toHex(' '));
    QCOMPARE(Wire::serviceRequest(uint8_t(command), uint16_t(value)), expected);
}

void TestDebugPkg::informationReply_data()
{
    QTest::addColumn<QByteArray>("rest");
    QTest::addColumn<int>("payloadSize");

    QByteArray awkward;
    for (int i = 0; i < 96; ++i)
        awkward.append(static_cast<char>(i % 3 == 0 ? 0x55 : i % 3 == 1 ? 0xAA : 0xA5));
    QTest::newRow("full record, every byte escaped") << awkward << 104;
    QTest::newRow("short record filled with 0") << awkward << 20;
    QTest::newRow("longer payload, record is its start") << awkward << 130;
}

void TestDebugPkg::informationReply()
{
    QFETCH(QByteArray, rest);
    QFETCH(int, payloadSize);

    Decoder d;
    QSignalSpy info(&d.pkg, &DebugPkg::lidarInfoReady);
    QSignalSpy recognised(&d.pkg, &DebugPkg::dataReady);
    // Versions with bytes that need escaping: 0x0102A50A, 0x55AA.
    d.pkg.pushData("\x54\x2C garbage" +
                   Wire::informationReply(0x0102A50A, 0x55AA, rest, payloadSize));
    QCOMPARE(info.count(), 1);
    QCOMPARE(recognised.count(), 1);
    const auto record = info.at(0).at(0).value<LidarInfoTypedef>();
    QCOMPARE(record.firmwareVersion, payloadSize >= 4 ? 0x0102A50Au : 0u);
    QCOMPARE(record.hardwareVersion, payloadSize >= 8 ? 0x55AAu : 0u);
    for (int i = 0; i < 96; ++i)
        QCOMPARE(record.rest[size_t(i)], uint8_t(8 + i < payloadSize ? rest[i] : 0));
    QCOMPARE(d.pkg.bufferedFrameBytes(), 0);
}

void TestDebugPkg::oneFramePerCall()
{
    Decoder d;
    QSignalSpy recognised(&d.pkg, &DebugPkg::dataReady);
    QSignalSpy info(&d.pkg, &DebugPkg::lidarInfoReady);
    const QByteArray status = Wire::statusReport(7);
    d.pkg.pushData(Wire::informationReply(1, 2) + status + "tail");
    QCOMPARE(recognised.count(), 1);
    QCOMPARE(info.count(), 1);
    QCOMPARE(d.pkg.queuedBytes(), status.size() + 4);
    QCOMPARE(d.pkg.lastStatusByte(), uint8_t(255));
    d.pkg.pushData(QByteArray());
    QCOMPARE(recognised.count(), 2);
    QCOMPARE(d.pkg.lastStatusByte(), uint8_t(7));
    QCOMPARE(d.pkg.queuedBytes(), 4);
    QCOMPARE(d.pkg.bufferedFrameBytes(), 0);
}

void TestDebugPkg::frameChecks_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("recognised");

    const QByteArray shortest = Wire::encodeServiceFrame(4, 0, QByteArray());
    QByteArray badSum = Wire::statusReport(3);
    badSum[badSum.size() - 3] = static_cast<char>(badSum[badSum.size() - 3] + 1);
    QByteArray noMarker = Wire::encodeServiceFrame(4, 0, "abcd");
    noMarker[2] = '\x11';
    QByteArray content = Wire::serviceContent(4, 0, "abc");
    content[4] = 9; // claims 9 payload bytes
    uint8_t sum = 0;
    for (int i = 0; i < content.size() - 1; ++i)
        sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(content[i]));
    content[content.size() - 1] = static_cast<char>(sum);
    const QByteArray lying = "\xAA\xAA\x10" + Wire::stuff(content.mid(1)) + "\x55\x55";

    QTest::newRow("13 bytes, empty payload") << shortest << false;
    QTest::newRow("14 bytes") << Wire::encodeServiceFrame(4, 0, "a") << true;
    QTest::newRow("bad checksum") << badSum << false;
    QTest::newRow("no 10 marker") << noMarker << false;
    QTest::newRow("499 content bytes")
        << Wire::encodeServiceFrame(4, 0, QByteArray(490, 'x')) << true;
    QTest::newRow("500 content bytes")
        << Wire::encodeServiceFrame(4, 0, QByteArray(491, 'x')) << false;
    QTest::newRow("body over 500 bytes")
        << Wire::encodeServiceFrame(4, 0, QByteArray(300, '\x55')) << false;
    QTest::newRow("length field not compared") << lying << true;
}

void TestDebugPkg::frameChecks()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, recognised);

    Decoder d;
    QSignalSpy spy(&d.pkg, &DebugPkg::dataReady);
    d.pkg.pushData(bytes);
    QCOMPARE(spy.count(), recognised ? 1 : 0);
    QCOMPARE(d.pkg.bufferedFrameBytes(), recognised ? 0 : bytes.size());
}

void TestDebugPkg::fakeEndInsideScanData()
{
    // A start pair well before a 55 55 in scan data is checked as a frame,
    // fails, and does not stop a real frame right behind it.
    Decoder d;
    QSignalSpy recognised(&d.pkg, &DebugPkg::dataReady);
    QSignalSpy info(&d.pkg, &DebugPkg::lidarInfoReady);
    const QByteArray scan = QByteArray("\xAA\xAA\x10\x04") + QByteArray(20, '\x01') + "\x55\x55";
    d.pkg.pushData(scan + Wire::informationReply(0x0203000C, 0x100));
    QCOMPARE(recognised.count(), 1);
    QCOMPARE(info.count(), 1);
    QCOMPARE(info.at(0).at(0).value<LidarInfoTypedef>().firmwareVersion, 0x0203000Cu);
}

void TestDebugPkg::voltageAndStatusReports()
{
    Decoder d;
    QTest::ignoreMessage(QtDebugMsg, "PDVoltage 43605");
    d.pkg.pushData(Wire::voltageReport(0xAA55));
    QCOMPARE(d.pkg.photodiodeVoltage(), uint16_t(0xAA55));
    d.pkg.pushData(Wire::statusReport(0xA5));
    QCOMPARE(d.pkg.lastStatusByte(), uint8_t(0xA5));

    // Reports too short to carry their value change nothing.
    QSignalSpy recognised(&d.pkg, &DebugPkg::dataReady);
    d.pkg.pushData(Wire::encodeServiceFrame(249, 0, "\x01"));
    d.pkg.pushData(Wire::encodeServiceFrame(253, 0x55, QByteArray())); // 14 bytes: one escape
    QCOMPARE(d.pkg.photodiodeVoltage(), uint16_t(0xAA55));
    QCOMPARE(d.pkg.lastStatusByte(), uint8_t(0xA5));
    QCOMPARE(recognised.count(), 2);
}

void TestDebugPkg::loggingRuleSilencesVoltageLine()
{
    Decoder d;
    DebugLines debug;
    QLoggingCategory::setFilterRules(QStringLiteral("vantoscope.debugpkg.debug=false"));
    d.pkg.pushData(Wire::voltageReport(0xAA55));
    QLoggingCategory::setFilterRules(QString());
    QCOMPARE(d.pkg.photodiodeVoltage(), uint16_t(0xAA55));
    QCOMPARE(debug.lines, QStringList());

    d.pkg.pushData(Wire::voltageReport(0x0102));
    QCOMPARE(debug.lines, QStringList{"vantoscope.debugpkg: PDVoltage 258"});
}

void TestDebugPkg::fullBufferStartsAfresh()
{
    Decoder d;
    QSignalSpy info(&d.pkg, &DebugPkg::lidarInfoReady);
    d.pkg.pushData(QByteArray(8191, '\x01'));
    QCOMPARE(d.pkg.bufferedFrameBytes(), 8191);
    // The byte that fills the buffer empties it; the reply behind it in the
    // same chunk is still found.
    d.pkg.pushData("\x01" + Wire::informationReply(5, 6));
    QCOMPARE(info.count(), 1);
    QCOMPARE(d.pkg.bufferedFrameBytes(), 0);
    QCOMPARE(d.pkg.queuedBytes(), 0);
}

void TestDebugPkg::replyInsideStreamingData()
{
    // A streaming sensor keeps sending scan frames around the reply.
    QByteArray stream;
    QVector<Wire::StreamPoint> points(12);
    for (int i = 0; i < 12; ++i)
        points[i] = {uint16_t(0x5555 + i), uint8_t(0xAA)};
    for (int f = 0; f < 400; ++f) {
        stream += Wire::encodePkg47(3600, uint16_t(f * 100), points, uint16_t(f * 100 + 90));
        if (f == 250)
            stream += Wire::informationReply(0x0102000A, 0x1F);
    }
    for (int chunk : {1, 7, 100, 4096}) {
        Decoder d;
        QSignalSpy info(&d.pkg, &DebugPkg::lidarInfoReady);
        for (int at = 0; at < stream.size(); at += chunk)
            d.pkg.pushData(stream.mid(at, chunk));
        QCOMPARE(info.count(), 1);
        QCOMPARE(info.at(0).at(0).value<LidarInfoTypedef>().hardwareVersion, 0x1Fu);
    }
}

QTEST_GUILESS_MAIN(TestDebugPkg)
#include "tst_debugpkg.moc"
