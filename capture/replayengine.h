#ifndef VANTOSCOPE_CAPTURE_REPLAYENGINE_H
#define VANTOSCOPE_CAPTURE_REPLAYENGINE_H

#include "capturereader.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

// Where a replay takes its time from and how it waits. The default runs on
// the event loop; tests put in one whose clock they move themselves.
class ReplayScheduler
{
public:
    virtual ~ReplayScheduler() = default;
    // Nanoseconds on a monotonic time line.
    virtual qint64 now() const = 0;
    // Calls `callback` once, `delayNs` from now (0: as soon as the event
    // loop is free). A new request replaces the one pending.
    virtual void schedule(qint64 delayNs, std::function<void()> callback) = 0;
    virtual void cancel() = 0;
};

class TimerReplayScheduler : public ReplayScheduler
{
public:
    TimerReplayScheduler();
    qint64 now() const override { return clock.nsecsElapsed(); }
    void schedule(qint64 delayNs, std::function<void()> callback) override;
    void cancel() override { timer.stop(); }

private:
    QElapsedTimer clock;
    QTimer timer;
    std::function<void()> pending;
};

// Plays a capture's received bytes into a sink (the session's push) at
// their recorded pace. Bytes sent to the sensor are not replayed. The
// decoders' clock (timeSource()) gives the recorded time of the record
// being pushed, so the figures they time show the sensor's own pace at any
// replay speed; it never runs backwards, also across loops and seeks.
//
// Seeking replays from the start (or from here, seeking forward) as fast as
// possible up to the position asked for, in batches, with seeking() set so
// views can leave those scans undrawn. Speed 0 plays as fast as possible in
// the same batches, yielding to the event loop between them.
class ReplayEngine : public QObject
{
    Q_OBJECT
public:
    using Sink = std::function<void(const QByteArray &)>;
    static constexpr int batchBytes = 256 << 10;

    explicit ReplayEngine(QObject *parent = nullptr);
    explicit ReplayEngine(std::unique_ptr<ReplayScheduler> scheduler, QObject *parent = nullptr);
    ~ReplayEngine() override;

    // Opens the capture and reads it once through for its duration; the
    // device must be able to seek. False with errorString() otherwise.
    bool open(const QString &path, int rawBaudrate = 0);
    bool open(QIODevice *device, int rawBaudrate = 0);
    QString errorString() const { return error; }
    // Metadata, version text, and whether the capture was cut off or damaged.
    const CaptureReader &capture() const { return reader; }
    // Whether the read through at open() ended early at a cut or at damage;
    // the reader forgets it when it starts again from the first record.
    bool truncated() const { return cutOff; }
    bool damaged() const { return damage; }

    void setSink(Sink target) { sink = std::move(target); }
    std::function<qint64()> timeSource();
    // The recorded time of the record being pushed (since the epoch for a
    // pcapng capture), which starts again on a loop.
    std::function<qint64()> recordedTime();

    void play();
    void pause();
    bool isPlaying() const { return playing; }
    // Pushes records until scanPublished() is called back (or the capture
    // ends), then stays paused.
    void stepScan();
    // Tells the engine that what it pushed completed a scan.
    void scanPublished() { scanSeen = true; }

    // Replay speed factor; 0 is as fast as possible.
    void setSpeed(double factor);
    double speed() const { return factor; }
    void setLoop(bool enabled) { looping = enabled; }
    bool loops() const { return looping; }

    void seek(qint64 positionNs);
    bool isSeeking() const { return seeking; }

    // Nanoseconds from the first record.
    qint64 position() const { return pos; }
    qint64 duration() const { return length; }
    bool atEnd() const { return !haveNext; }
    qint64 recordCount() const { return records; }

signals:
    void playingChanged(bool playing);
    void seekingChanged(bool seeking);
    void positionChanged(qint64 positionNs);
    // Replay starts again from the first record (a loop or a seek back).
    void restarted();
    void finished();

private:
    bool prepare();
    void fetch();
    void pushNext();
    bool restart();
    void run();
    void runSeek();
    void reachEnd();
    void anchor();
    qint64 playPosition() const;
    qint64 relative(const CaptureRecord &record) const { return record.timeNs - firstTime; }
    void later(qint64 delayNs);

    std::unique_ptr<ReplayScheduler> scheduler;
    CaptureReader reader;
    Sink sink;
    QString error;
    CaptureRecord next;
    bool haveNext = false;
    qint64 firstTime = 0;
    qint64 length = 0;
    qint64 records = 0;
    qint64 pos = 0;
    qint64 clockNow = 0;
    qint64 recordNow = 0;
    qint64 clockBase = 0;
    qint64 loopGap = 1'000'000;
    qint64 anchorWall = 0;
    qint64 anchorPos = 0;
    qint64 seekTarget = 0;
    double factor = 1.0;
    bool playing = false;
    bool seeking = false;
    bool looping = false;
    bool scanSeen = false;
    bool cutOff = false;
    bool damage = false;
};

#endif
