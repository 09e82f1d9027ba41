#include "commandframes.h"
#include "ptydevice.h"
#include "scriptedsensor.h"
#include "trnet/qtrnet.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

// QTRNet on a real serial port: the bytes it writes, and the start
// handshake against a scripted sensor on the other end of a pseudo-terminal.
class TestTrNetSerial : public QObject
{
    Q_OBJECT
private slots:
    void commandBytesOnTheWire_data();
    void commandBytesOnTheWire();
    void sendRefusedWhileBusyOrClosed();
    void handshakeSucceeds_data();
    void handshakeSucceeds();
    void handshakeWithoutReplyFails();
    void lateReplyIgnored();
    void replyAlreadyReceivedSatisfiesWait();
};

namespace {

constexpr int fir = 7;
constexpr int maple = 32;

// Written through the port after the bytes under test: whatever arrives
// before it was all the code wrote.
const QByteArray sentinel("\xEE end of test \xEE");

struct Rig
{
    explicit Rig(int modelType) : net(&port)
    {
        net.setModelType(modelType);
        port.setPortName(pty.slavePath());
        port.setBaudRate(921600);
        QObject::connect(&port, &QSerialPort::readyRead, &net,
                         [this] { net.pushData(port.readAll()); });
    }
    bool open() { return pty.isValid() && port.open(QIODevice::ReadWrite); }
    Pty pty;
    QSerialPort port;
    QTRNet net;
};

} // namespace

void TestTrNetSerial::commandBytesOnTheWire_data()
{
    QTest::addColumn<bool>("shortCommand");
    QTest::addColumn<int>("command");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("stop") << false << 15 << QByteArray::fromHex("AAAAAAAA010F000004000100000015");
    QTest::newRow("start") << true << 2 << QByteArray::fromHex("AAAAAAAA010200000200010006");
    QTest::newRow("calibration request")
        << false << 18 << QByteArray::fromHex("AAAAAAAA0112000004000100000018");
}

void TestTrNetSerial::commandBytesOnTheWire()
{
    QFETCH(bool, shortCommand);
    QFETCH(int, command);
    QFETCH(QByteArray, expected);

    Rig rig(fir);
    QVERIFY(rig.open());
    QElapsedTimer clock;
    clock.start();
    const bool sent = shortCommand ? rig.net.sendShortCommand(1, uint8_t(command), 1)
                                   : rig.net.sendCommand(1, uint8_t(command), 1);
    QVERIFY(sent);
    QVERIFY(clock.elapsed() >= 50); // the pause after the write
    rig.port.write(sentinel);
    QCOMPARE(rig.pty.readThrough(sentinel).toHex(' '), (expected + sentinel).toHex(' '));
}

void TestTrNetSerial::sendRefusedWhileBusyOrClosed()
{
    Rig rig(fir);
    QVERIFY(!rig.net.sendCommand(1, 15, 1));
    QVERIFY(!rig.net.sendShortCommand(1, 2, 1));

    QVERIFY(rig.open());
    bool nestedResult = true;
    bool busyInside = false;
    QTimer::singleShot(10, &rig.net, [&] {
        busyInside = rig.net.isBusy();
        nestedResult = rig.net.sendCommand(1, 18, 1);
    });
    QVERIFY(rig.net.sendCommand(1, 15, 1));
    QVERIFY(busyInside);
    QVERIFY(!nestedResult);
    QVERIFY(!rig.net.isBusy());
    rig.port.write(sentinel);
    QCOMPARE(rig.pty.readThrough(sentinel), Wire::command(15, 1) + sentinel);
}

void TestTrNetSerial::handshakeSucceeds_data()
{
    QTest::addColumn<int>("modelType");
    QTest::addColumn<QVector<int>>("commands");
    QTest::addColumn<int>("rawMode");
    QTest::addColumn<int>("minimumMs");

    QTest::newRow("fir") << fir << QVector<int>{15, 18, 2} << 1 << 250;
    QTest::newRow("maple") << maple << QVector<int>{15, 21, 18, 2} << 0 << 450;
}

void TestTrNetSerial::handshakeSucceeds()
{
    QFETCH(int, modelType);
    QFETCH(QVector<int>, commands);
    QFETCH(int, rawMode);
    QFETCH(int, minimumMs);

    Rig rig(modelType);
    QVERIFY(rig.open());
    ScriptedSensor sensor(rig.pty);
    sensor.answer(21, Wire::columnsReply(160));
    sensor.answer(18,
                  modelType == maple
                      ? Wire::mapleCalibrationReply({1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12},
                                                    QByteArray(24, '\x44'))
                      : Wire::firCalibrationReply(101, 102, 103, 104),
                  20);
    QSignalSpy failed(&rig.net, &QTRNet::errorMessage);
    QElapsedTimer clock;
    clock.start();
    rig.net.startLidar();
    const qint64 took = clock.elapsed();

    QCOMPARE(failed.count(), 0);
    // The wait ends with the reply; only its lower bound is a property of the
    // protocol, a slow machine may take any longer.
    QVERIFY2(took >= minimumMs, qPrintable(QString::number(took)));
    QTRY_COMPARE(sensor.commands, commands);
    QCOMPARE(sensor.frames.last(), Wire::shortCommand(2, 1));
    const DeviceParams &p = rig.net.deviceParams();
    QCOMPARE(int(p.rawMode), rawMode);
    if (modelType == maple) {
        QCOMPARE(p.zoneSlope[5], uint32_t(6));
        QCOMPARE(p.zoneIntercept[0], uint32_t(7));
        QCOMPARE(p.zoneExtra[23], uint8_t(0x44));
        QCOMPARE(p.columnStep, 2);
        QCOMPARE(p.halfSlope[0], uint32_t(0));
    } else {
        QCOMPARE(p.halfSlope[DeviceParams::Right], uint32_t(101));
        QCOMPARE(p.halfSlope[DeviceParams::Left], uint32_t(102));
        QCOMPARE(p.halfIntercept[DeviceParams::Right], uint32_t(103));
        QCOMPARE(p.halfIntercept[DeviceParams::Left], uint32_t(104));
        QCOMPARE(p.zoneSlope[0], uint32_t(0));
    }
}

void TestTrNetSerial::handshakeWithoutReplyFails()
{
    Rig rig(fir);
    QVERIFY(rig.open());
    ScriptedSensor sensor(rig.pty);
    QSignalSpy failed(&rig.net, &QTRNet::errorMessage);
    QElapsedTimer clock;
    clock.start();
    rig.net.startLidar();
    const qint64 took = clock.elapsed();

    QVERIFY2(took >= 1000, qPrintable(QString::number(took)));
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("connect failed"));
    QVERIFY(rig.port.isOpen());
    QTRY_COMPARE(sensor.commands, (QVector<int>{15, 18}));
    QCOMPARE(rig.net.rawMode(), uint8_t(0));
}

void TestTrNetSerial::lateReplyIgnored()
{
    Rig rig(fir);
    QVERIFY(rig.open());
    ScriptedSensor sensor(rig.pty);
    sensor.answer(18, Wire::firCalibrationReply(5, 6, 7, 8), 1100);
    QSignalSpy failed(&rig.net, &QTRNet::errorMessage);
    rig.net.startLidar();
    QCOMPARE(failed.count(), 1);

    QTRY_COMPARE_WITH_TIMEOUT(int(rig.net.lastDecodedFrame().command), 18, 10000);
    QCOMPARE(rig.net.deviceParams().halfSlope[0], uint32_t(0));
    QCOMPARE(rig.net.rawMode(), uint8_t(0));
    // No start command follows the late reply: a stop sent now arrives
    // right after the calibration request.
    QVERIFY(rig.net.sendCommand(1, 15, 1));
    QTRY_VERIFY(sensor.commands.size() >= 3);
    QCOMPARE(sensor.commands, (QVector<int>{15, 18, 15}));
}

void TestTrNetSerial::replyAlreadyReceivedSatisfiesWait()
{
    Rig rig(fir);
    QVERIFY(rig.open());
    ScriptedSensor sensor(rig.pty);
    rig.net.pushData(Wire::firCalibrationReply(9, 10, 11, 12));
    QSignalSpy failed(&rig.net, &QTRNet::errorMessage);
    rig.net.startLidar();
    QCOMPARE(failed.count(), 0);
    QCOMPARE(rig.net.deviceParams().halfIntercept[DeviceParams::Left], uint32_t(12));
    QCOMPARE(rig.net.rawMode(), uint8_t(1));
    QTRY_COMPARE(sensor.commands, (QVector<int>{15, 18, 2}));
}

QTEST_GUILESS_MAIN(TestTrNetSerial)
#include "tst_trnetserial.moc"
