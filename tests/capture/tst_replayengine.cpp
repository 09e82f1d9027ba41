// The replay engine on a clock the test moves: pace, pause, steps, speeds,
// loops and seeks, and the decoders' clock it provides.
#include "capture/capturewriter.h"
#include "capture/replayengine.h"

#include <QTemporaryDir>
#include <QtTest>
#include <map>

namespace {

// A scheduler whose time moves only when the test says so.
class ManualScheduler : public ReplayScheduler
{
public:
    qint64 now() const override { return time; }
    void schedule(qint64 delayNs, std::function<void()> callback) override
    {
        due = time + std::max<qint64>(0, delayNs);
        pending = std::move(callback);
    }
    void cancel() override { pending = nullptr; }

    // Moves the clock by `ns`, running every call that falls due on the way.
    void advance(qint64 ns)
    {
        const qint64 end = time + ns;
        while (pending && due <= end) {
            time = due;
            const std::function<void()> call = std::move(pending);
            pending = nullptr;
            call();
        }
        time = end;
    }
    // Runs what is due now until nothing is (the event loop running free).
    int drain()
    {
        int calls = 0;
        while (pending && due <= time && calls < 100000) {
            const std::function<void()> call = std::move(pending);
            pending = nullptr;
            call();
            ++calls;
        }
        return calls;
    }
    bool waiting() const { return bool(pending); }

    qint64 time = 5'000'000'000;
    qint64 due = 0;
    std::function<void()> pending;
};

constexpr qint64 ms = 1'000'000;
constexpr qint64 start = 1'765'000'000'000'000'000LL;

} // namespace

class TestReplayEngine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void playsAtTheRecordedPaceAndSpeed();
    void pauseAndStepByScan();
    void fastestSpeedYieldsBetweenBatches();
    void loopKeepsTheDecoderClockGoingForward();
    void seekReplaysFastUpToThePosition();

private:
    // Records the pushed bytes with the decoder clock at each push.
    void attach();

    QTemporaryDir dir;
    QString path;
    ManualScheduler *scheduler = nullptr;
    std::unique_ptr<ReplayEngine> engine;
    QByteArrayList pushed;
    QVector<qint64> clocks;
};

void TestReplayEngine::initTestCase()
{
    // Inbound record i at i * 100 ms, carrying "i" and, every fourth, the
    // end of a scan ('|'); an outbound command in between is never replayed.
    path = dir.filePath("paced.pcapng");
    CaptureWriter writer;
    QVERIFY(writer.open(path, {}));
    for (int i = 0; i < 20; ++i) {
        QByteArray data = QByteArray::number(i);
        if (i % 4 == 3)
            data += '|';
        writer.append(CaptureDirection::Inbound, data, start + i * 100 * ms);
        if (i == 2)
            writer.append(CaptureDirection::Outbound, "cmd", start + 250 * ms);
    }
    QVERIFY(writer.close());
}

void TestReplayEngine::init()
{
    auto owned = std::make_unique<ManualScheduler>();
    scheduler = owned.get();
    engine = std::make_unique<ReplayEngine>(std::move(owned));
    QVERIFY2(engine->open(path), qPrintable(engine->errorString()));
    pushed.clear();
    clocks.clear();
    attach();
}

void TestReplayEngine::attach()
{
    const std::function<qint64()> clock = engine->timeSource();
    engine->setSink([this, clock](const QByteArray &data) {
        pushed.append(data);
        clocks.append(clock());
        if (data.endsWith('|'))
            engine->scanPublished();
    });
}

void TestReplayEngine::playsAtTheRecordedPaceAndSpeed()
{
    QCOMPARE(engine->duration(), 1900 * ms);
    QCOMPARE(engine->recordCount(), 20);
    QSignalSpy finished(engine.get(), &ReplayEngine::finished);
    engine->play();
    scheduler->advance(0);
    QCOMPARE(pushed.size(), 1);
    scheduler->advance(99 * ms);
    QCOMPARE(pushed.size(), 1);
    scheduler->advance(1 * ms);
    QCOMPARE(pushed.size(), 2);
    QCOMPARE(engine->position(), 100 * ms);

    // Twice as fast from 300 ms on: records 4 and 5 come 50 and 100 ms later.
    scheduler->advance(200 * ms);
    QCOMPARE(pushed.size(), 4);
    engine->setSpeed(2);
    scheduler->advance(99 * ms);
    QCOMPARE(pushed.size(), 5);
    scheduler->advance(2 * ms);
    QCOMPARE(pushed.size(), 6);

    // At 502 ms of the recording a quarter of the speed: record 6 in 392 ms.
    engine->setSpeed(0.25);
    scheduler->advance(391 * ms);
    QCOMPARE(pushed.size(), 6);
    scheduler->advance(1 * ms);
    QCOMPARE(pushed.size(), 7);

    engine->setSpeed(8);
    scheduler->advance(10'000 * ms);
    QCOMPARE(pushed.size(), 20);
    QCOMPARE(finished.count(), 1);
    QVERIFY(!engine->isPlaying());
    QVERIFY(!pushed.contains("cmd"));
    // The decoders' clock follows the recording, not the replay speed.
    for (int i = 0; i < clocks.size(); ++i)
        QCOMPARE(clocks[i] - clocks[0], i * 100 * ms);
}

void TestReplayEngine::pauseAndStepByScan()
{
    engine->play();
    scheduler->advance(150 * ms);
    QCOMPARE(pushed.size(), 2);
    engine->pause();
    QCOMPARE(engine->position(), 150 * ms);
    scheduler->advance(10'000 * ms);
    QCOMPARE(pushed.size(), 2);

    // Resuming keeps the time already spent waiting for record 2.
    engine->play();
    scheduler->advance(49 * ms);
    QCOMPARE(pushed.size(), 2);
    scheduler->advance(1 * ms);
    QCOMPARE(pushed.size(), 3);

    engine->stepScan();
    QVERIFY(!engine->isPlaying());
    QCOMPARE(pushed.last(), QByteArray("3|"));
    engine->stepScan();
    QCOMPARE(pushed.last(), QByteArray("7|"));
    scheduler->advance(10'000 * ms);
    QCOMPARE(pushed.size(), 8);
}

void TestReplayEngine::fastestSpeedYieldsBetweenBatches()
{
    // A capture larger than one batch, with hours between records.
    const QString big = dir.filePath("big.pcapng");
    CaptureWriter writer;
    QVERIFY(writer.open(big, {}));
    const QByteArray chunk(4096, 'b');
    const int chunks = 3 * ReplayEngine::batchBytes / chunk.size();
    for (int i = 0; i < chunks; ++i)
        writer.append(CaptureDirection::Inbound, chunk, start + i * 3600'000 * ms);
    QVERIFY(writer.close());
    QVERIFY(engine->open(big));
    attach();

    QSignalSpy finished(engine.get(), &ReplayEngine::finished);
    engine->setSpeed(0);
    engine->play();
    QVERIFY(scheduler->waiting());
    scheduler->drain();
    QCOMPARE(pushed.size(), chunks);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(scheduler->time, 5'000'000'000);
    QCOMPARE(clocks.last() - clocks.first(), (chunks - 1) * 3600'000 * ms);
}

void TestReplayEngine::loopKeepsTheDecoderClockGoingForward()
{
    QSignalSpy finished(engine.get(), &ReplayEngine::finished);
    QSignalSpy restarted(engine.get(), &ReplayEngine::restarted);
    engine->setLoop(true);
    engine->setSpeed(4);
    engine->play();
    scheduler->advance(1000 * ms); // 4 s of recording: two passes and a bit
    QCOMPARE(finished.count(), 0);
    QCOMPARE(restarted.count(), 2);
    QVERIFY(pushed.size() > 40);
    QCOMPARE(pushed[20], QByteArray("0"));
    for (int i = 1; i < clocks.size(); ++i)
        QVERIFY2(clocks[i] > clocks[i - 1], qPrintable(QString::number(i)));
    QVERIFY(engine->isPlaying());

    engine->setLoop(false);
    scheduler->advance(1000 * ms);
    QCOMPARE(finished.count(), 1);
}

void TestReplayEngine::seekReplaysFastUpToThePosition()
{
    QSignalSpy seeking(engine.get(), &ReplayEngine::seekingChanged);
    std::map<QByteArray, bool> seenWhileSeeking;
    engine->setSink([&](const QByteArray &data) {
        pushed.append(data);
        seenWhileSeeking[data] = engine->isSeeking();
    });
    engine->play();
    scheduler->advance(1050 * ms);
    QCOMPARE(pushed.size(), 11);

    // Back to 0.5 s: from the start again, without waiting, then on at pace.
    engine->seek(500 * ms);
    QVERIFY(engine->isSeeking());
    scheduler->advance(0);
    QVERIFY(!engine->isSeeking());
    QCOMPARE(seeking.count(), 2);
    QCOMPARE(engine->position(), 500 * ms);
    QCOMPARE(pushed.size(), 11 + 6);
    QVERIFY(seenWhileSeeking["5"]);
    QVERIFY(engine->isPlaying());
    scheduler->advance(99 * ms);
    QCOMPARE(pushed.size(), 17);
    scheduler->advance(1 * ms);
    QCOMPARE(pushed.last(), QByteArray("6"));
    QVERIFY(!seenWhileSeeking["6"]);

    // Forward while paused replays only what lies between, and stays paused.
    engine->pause();
    engine->seek(1500 * ms);
    scheduler->advance(0);
    QCOMPARE(pushed.last(), QByteArray("15|"));
    QCOMPARE(pushed.size(), 18 + 9);
    QVERIFY(!engine->isPlaying());
    scheduler->advance(10'000 * ms);
    QCOMPARE(pushed.size(), 27);
}

QTEST_GUILESS_MAIN(TestReplayEngine)
#include "tst_replayengine.moc"
