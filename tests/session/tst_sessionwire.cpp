// What a session writes to the sensor for every model of the edition, from
// opening the port to closing it, and what it writes when the connection is
// stopped, lost or opened again on the way: the exact bytes, their order,
// and that each pause is kept (lower bounds only; a slow machine may take
// any longer).
#include "commandframes.h"
#include "editions/modelrules.h"
#include "ptydevice.h"
#include "scriptedsensor.h"
#include "session/sensorsession.h"

#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

namespace {

enum class Action
{
    Close,
    LoseDevice,
    OpenAgain,
};

// `action` runs `delayMs` after the write with index `afterWrite`.
struct Trigger
{
    int afterWrite = 0;
    int delayMs = 0;
    Action action = Action::Close;
};

struct Expected
{
    QByteArray bytes;
    int minGapMs = 0;        // since the previous write
    int minSinceFirstMs = 0; // since the first write
};

const QByteArray stop = QByteArray::fromHex("AAAAAAAA010F000004000100000015");
const QByteArray columns = QByteArray::fromHex("AAAAAAAA011500000400010000001B");
const QByteArray calibration = QByteArray::fromHex("AAAAAAAA0112000004000100000018");
const QByteArray start = QByteArray::fromHex("AAAAAAAA010200000200010006");
const QByteArray information = QByteArray::fromHex("AAAA107F0000020000000000915555");

} // namespace

Q_DECLARE_METATYPE(QVector<Trigger>)
Q_DECLARE_METATYPE(QVector<Expected>)

class TestSessionWire : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { qRegisterMetaType<SensorSession::State>(); }
    void writesOnTheWire_data();
    void writesOnTheWire();
};

void TestSessionWire::writesOnTheWire_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("sensorAnswers");
    QTest::addColumn<QVector<Trigger>>("triggers");
    QTest::addColumn<QVector<Expected>>("expected");
    QTest::addColumn<bool>("connectFailed");
    QTest::addColumn<bool>("lost");

    for (const QString &model : Edition::modelNames()) {
        const Edition::ModelChoice choice = Edition::modelChoice(model);
        const QByteArray name = model.toUtf8();
        if (!Edition::usesCommandProtocol(choice.decoderKind)) {
            const QVector<Expected> opened{{information}};
            QTest::newRow(name + " open and close")
                << model << false << QVector<Trigger>{{0, 200, Action::Close}} << opened << false
                << false;
            QTest::newRow(name + " second open while opening")
                << model << false
                << QVector<Trigger>{{0, 0, Action::OpenAgain}, {0, 200, Action::Close}} << opened
                << false << false;
            continue;
        }

        const bool maple = model == QLatin1String("Maple");
        // Stop, let the sensor settle, [columns, settle], ask for the calibration.
        const QVector<Expected> asking =
            maple ? QVector<Expected>{{stop}, {columns, 200, 200}, {calibration, 250, 450}}
                  : QVector<Expected>{{stop}, {calibration, 200, 200}};
        const int asked = asking.size() - 1;
        const QVector<Expected> handshake =
            asking + QVector<Expected>{{start, 50}, {information, 50}};
        const int informed = handshake.size() - 1;

        QTest::newRow(name + " handshake and close")
            << model << true << QVector<Trigger>{{informed, 200, Action::Close}}
            << handshake + QVector<Expected>{{stop, 50}} << false << false;
        // The pause after a service request holds back further requests only.
        QTest::newRow(name + " close in the pause after the information request")
            << model << true << QVector<Trigger>{{informed, 0, Action::Close}}
            << handshake + QVector<Expected>{{stop}} << false << false;
        QTest::newRow(name + " second open while opening")
            << model << true
            << QVector<Trigger>{{0, 0, Action::OpenAgain}, {informed, 200, Action::Close}}
            << handshake + QVector<Expected>{{stop, 50}} << false << false;
        QTest::newRow(name + " silent sensor")
            << model << false << QVector<Trigger>{{asked + 1, 200, Action::Close}}
            << asking + QVector<Expected>{{information, 50, 1000}, {stop, 50}} << true << false;
        QTest::newRow(name + " stop in the pause after the first command")
            << model << true << QVector<Trigger>{{0, 0, Action::Close}} << QVector<Expected>{{stop}}
            << false << false;
        QTest::newRow(name + " stop while waiting for the calibration")
            << model << false << QVector<Trigger>{{asked, 300, Action::Close}}
            << asking + QVector<Expected>{{stop, 300}} << false << false;
        QTest::newRow(name + " device lost while waiting for the calibration")
            << model << false << QVector<Trigger>{{asked, 300, Action::LoseDevice}}
            << asking + QVector<Expected>{{stop, 300}} << false << true;
    }
}

void TestSessionWire::writesOnTheWire()
{
    QFETCH(QString, model);
    QFETCH(bool, sensorAnswers);
    QFETCH(QVector<Trigger>, triggers);
    QFETCH(QVector<Expected>, expected);
    QFETCH(bool, connectFailed);
    QFETCH(bool, lost);

    Pty pty;
    QVERIFY(pty.isValid());
    ScriptedSensor sensor(pty);
    if (sensorAnswers) {
        sensor.answer(21, Wire::columnsReply(160));
        sensor.answer(18,
                      model == QLatin1String("Maple")
                          ? Wire::mapleCalibrationReply({1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12},
                                                        QByteArray(24, '\x44'))
                          : Wire::firCalibrationReply(101, 102, 103, 104),
                      20);
    }

    SensorSession session;
    const Edition::ModelChoice choice = session.chooseModel(model);
    QVector<QPair<QByteArray, qint64>> writes;
    QStringList failures;
    bool openAgainRefused = false;
    bool openAgainTried = false;
    connect(&session, &SensorSession::handshakeFailed, this, [&](const QString &message) {
        failures << message + (session.isOpen() ? "" : " (closed)");
    });
    connect(&session, &SensorSession::written, this, [&](const QByteArray &chunk, qint64 time) {
        writes.append({chunk, time});
        for (const Trigger &trigger : triggers) {
            if (trigger.afterWrite != writes.size() - 1)
                continue;
            QTimer::singleShot(trigger.delayMs, &session, [&, action = trigger.action] {
                switch (action) {
                case Action::Close:
                    session.close();
                    break;
                case Action::LoseDevice:
                    pty.closeMaster();
                    break;
                case Action::OpenAgain:
                    openAgainTried = true;
                    openAgainRefused = !session.open(pty.slavePath(), choice.baudrate);
                    break;
                }
            });
        }
    });
    QSignalSpy lostSpy(&session, &SensorSession::deviceLost);
    QSignalSpy states(&session, &SensorSession::stateChanged);

    session.open(pty.slavePath(), choice.baudrate);
    QTRY_VERIFY_WITH_TIMEOUT(!states.isEmpty() &&
                                 states.last().at(0).value<SensorSession::State>() ==
                                     SensorSession::State::Disconnected,
                             10000);
    QVERIFY(!session.isOpen());

    QStringList written;
    for (const auto &w : writes)
        written << w.first.toHex();
    QStringList wanted;
    for (const Expected &e : expected)
        wanted << e.bytes.toHex();
    QCOMPARE(written, wanted);
    for (int i = 1; i < writes.size(); ++i) {
        const qint64 gapMs = (writes[i].second - writes[i - 1].second) / 1000000;
        const qint64 sinceFirstMs = (writes[i].second - writes[0].second) / 1000000;
        QVERIFY2(
            gapMs >= expected[i].minGapMs,
            qPrintable(QString("write %1 came %2 ms after the previous one").arg(i).arg(gapMs)));
        QVERIFY2(
            sinceFirstMs >= expected[i].minSinceFirstMs,
            qPrintable(QString("write %1 came %2 ms after the first").arg(i).arg(sinceFirstMs)));
    }

    QCOMPARE(failures, connectFailed ? QStringList{"connect failed"} : QStringList{});
    QCOMPARE(lostSpy.count(), lost ? 1 : 0);
    QCOMPARE(openAgainTried, openAgainRefused);
    if (!lost) {
        // Every command frame reached the sensor's end of the line.
        QVector<QByteArray> commands;
        for (const auto &w : writes)
            if (w.first.startsWith("\xAA\xAA\xAA\xAA"))
                commands << w.first;
        QTRY_COMPARE(sensor.frames, commands);
    }
}

QTEST_GUILESS_MAIN(TestSessionWire)
#include "tst_sessionwire.moc"
