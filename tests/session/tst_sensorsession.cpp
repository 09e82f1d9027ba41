// The session against a scripted sensor on a pseudo-terminal: what the
// handshake decides from the replies it gets, and what the session publishes
// from pushed bytes. The bytes on the wire are tst_sessionwire's.
#include "commandframes.h"
#include "editions/edition.h"
#include "ptydevice.h"
#include "scriptedsensor.h"
#include "session/sensorsession.h"
#include "streamframes.h"
#include "trnet/qtrnet.h"

#include <QSignalSpy>
#include <QtTest>

class TestSensorSession : public QObject
{
    Q_OBJECT
private slots:
    void handshakeOutcome_data();
    void handshakeOutcome();
    void countersFollowTheStream();
    void classicRoutesBySelection();
};

namespace {

QByteArray badPkg47()
{
    QByteArray frame = Wire::encodePkg47(7200, 0, {}, 1000);
    frame[frame.size() - 1] = char(frame.at(frame.size() - 1) ^ 0x5A);
    return frame;
}

QStringList text(const PointList &points)
{
    QStringList lines;
    for (const PointData &p : points)
        lines << QString("%1 %2 %3").arg(p.angle).arg(p.distance).arg(p.confidence);
    return lines;
}

} // namespace

void TestSensorSession::handshakeOutcome_data()
{
    QTest::addColumn<int>("replyDelayMs"); // -1: no reply; -2: a reply before the open
    QTest::addColumn<QVector<int>>("commands");
    QTest::addColumn<int>("failures");

    QTest::newRow("answered") << 20 << QVector<int>{15, 18, 2} << 0;
    QTest::newRow("silent") << -1 << QVector<int>{15, 18} << 1;
    // A reply after the wait has ended starts nothing.
    QTest::newRow("answered too late") << 1300 << QVector<int>{15, 18} << 1;
    QTest::newRow("reply already received") << -2 << QVector<int>{15, 18, 2} << 0;
}

void TestSensorSession::handshakeOutcome()
{
    QFETCH(int, replyDelayMs);
    QFETCH(QVector<int>, commands);
    QFETCH(int, failures);

    Pty pty;
    QVERIFY(pty.isValid());
    ScriptedSensor sensor(pty);
    if (replyDelayMs >= 0)
        sensor.answer(18, Wire::firCalibrationReply(1, 2, 3, 4), replyDelayMs);
    SensorSession session;
    session.chooseModel("Fir");
    if (replyDelayMs == -2)
        session.push(Wire::firCalibrationReply(1, 2, 3, 4));
    QSignalSpy failed(&session, &SensorSession::handshakeFailed);
    QSignalSpy finished(&session, &SensorSession::handshakeFinished);
    QSignalSpy scans(&session, &SensorSession::scanReady);

    QVERIFY(session.open(pty.slavePath(), 921600));
    QVERIFY(session.isOpening());
    QVERIFY(!session.open(pty.slavePath(), 921600));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 5000);
    QVERIFY(!session.isOpening());
    QVERIFY(session.isOpen());
    QCOMPARE(session.baudRate(), 921600);
    QCOMPARE(failed.count(), failures);
    if (replyDelayMs > 1000)
        QTRY_COMPARE_WITH_TIMEOUT(session.acceptedFrames(), qint64(1), 5000);
    QTRY_COMPARE(sensor.commands, commands);

    // Samples convert as by a decoder that took the calibration the
    // handshake accepted (none when it failed).
    QTRNet reference;
    if constexpr (Edition::commandProtocolTakesTypeCode)
        reference.setModelType(7);
    if (failures == 0) {
        reference.pushData(Wire::firCalibrationReply(1, 2, 3, 4));
        QVERIFY(reference.applyCalibrationReply(reference.lastDecodedFrame()));
        reference.enterStartedMode();
    }
    QSignalSpy referenceScans(&reference, &QTRNet::mapReady);
    const QVector<uint16_t> samples(160, Wire::firSample(300, 100));
    const QByteArray frame = Wire::measuredSampleFrame(100, samples, 7);
    reference.pushData(frame);
    QCOMPARE(referenceScans.count(), 1);
    pty.write(frame);
    QTRY_COMPARE(scans.count(), 1);
    const SensorScan scan = scans.last().at(0).value<SensorScan>();
    QCOMPARE(text(scan.points), text(referenceScans.last().at(0).value<PointList>()));
    session.close();
    QVERIFY(!session.isOpen());
    QTRY_COMPARE(sensor.commands, commands + QVector<int>{15});
}

void TestSensorSession::countersFollowTheStream()
{
    SensorSession session;
    session.chooseModel("Dogwood");
    QSignalSpy counters(&session, &SensorSession::streamCountersChanged);
    session.push(badPkg47() + badPkg47());
    QVERIFY(session.streamErrorCount() > 0);
    QVERIFY(!counters.isEmpty());
    QCOMPARE(counters.last().at(1).toInt(), session.streamErrorCount());
    session.clearErrorCount();
    QCOMPARE(session.streamErrorCount(), 0);
    QCOMPARE(counters.last().at(1).toInt(), 0);
    session.setFilterEnabled(false);
    QVERIFY(!session.filterEnabled());
}

void TestSensorSession::classicRoutesBySelection()
{
    // The earlier edition takes the protocol from the selection in force,
    // even when it changed after the model was chosen.
    SensorSession session;
    session.chooseModel("Fir");
    session.setSelectedModel("Dogwood");
    QCOMPARE(session.commandProtocolSelected(), !Edition::protocolFromSelectorText);
    session.setSelectedModel("Fir");
    QVERIFY(session.commandProtocolSelected());
}

QTEST_GUILESS_MAIN(TestSensorSession)
#include "tst_sensorsession.moc"
