#include "replayengine.h"

#include <QFile>
#include <cmath>

TimerReplayScheduler::TimerReplayScheduler()
{
    clock.start();
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [this] {
        // The callback may schedule the next call, replacing `pending`.
        const std::function<void()> call = std::move(pending);
        pending = nullptr;
        if (call)
            call();
    });
}

void TimerReplayScheduler::schedule(qint64 delayNs, std::function<void()> callback)
{
    pending = std::move(callback);
    const qint64 ms = (std::max<qint64>(0, delayNs) + 999'999) / 1'000'000;
    timer.start(static_cast<int>(std::min<qint64>(ms, 24 * 3600 * 1000)));
}

ReplayEngine::ReplayEngine(QObject *parent)
    : ReplayEngine(std::make_unique<TimerReplayScheduler>(), parent)
{
}

ReplayEngine::ReplayEngine(std::unique_ptr<ReplayScheduler> replayScheduler, QObject *parent)
    : QObject(parent), scheduler(std::move(replayScheduler))
{
}

ReplayEngine::~ReplayEngine()
{
    scheduler->cancel();
}

bool ReplayEngine::open(const QString &path, int rawBaudrate)
{
    pause();
    if (!reader.open(path, rawBaudrate)) {
        error = reader.errorString();
        return false;
    }
    return prepare();
}

bool ReplayEngine::open(QIODevice *device, int rawBaudrate)
{
    pause();
    if (!reader.open(device, rawBaudrate)) {
        error = reader.errorString();
        return false;
    }
    return prepare();
}

bool ReplayEngine::prepare()
{
    error.clear();
    records = 0;
    scheduler->cancel();
    if (seeking) {
        seeking = false;
        emit seekingChanged(false);
    }
    // A new capture goes on where the decoders' clock stands.
    if (clockNow > 0)
        clockBase = clockNow + loopGap;
    CaptureRecord record;
    qint64 last = 0;
    while (reader.readNext(record)) {
        if (!reader.feedsDecoders(record))
            continue;
        if (records++ == 0)
            firstTime = record.timeNs;
        last = record.timeNs;
    }
    cutOff = reader.truncated();
    damage = reader.damaged();
    length = records > 0 ? last - firstTime : 0;
    loopGap = records > 1 ? std::max<qint64>(1, length / (records - 1)) : 1'000'000;
    if (!reader.rewind()) {
        error = QStringLiteral("the capture cannot be read again from the start");
        haveNext = false;
        return false;
    }
    pos = 0;
    fetch();
    emit positionChanged(pos);
    return true;
}

std::function<qint64()> ReplayEngine::timeSource()
{
    return [this] { return clockNow; };
}

std::function<qint64()> ReplayEngine::recordedTime()
{
    return [this] { return recordNow; };
}

void ReplayEngine::fetch()
{
    haveNext = false;
    while (reader.readNext(next)) {
        if (reader.feedsDecoders(next)) {
            haveNext = true;
            return;
        }
    }
}

void ReplayEngine::pushNext()
{
    const CaptureRecord record = std::move(next);
    fetch();
    pos = relative(record);
    clockNow = clockBase + pos;
    recordNow = record.timeNs;
    if (sink)
        sink(record.data);
}

bool ReplayEngine::restart()
{
    if (!reader.rewind())
        return false;
    clockBase = clockNow + loopGap;
    pos = 0;
    fetch();
    emit restarted();
    return haveNext;
}

void ReplayEngine::later(qint64 delayNs)
{
    scheduler->schedule(delayNs, [this] { seeking ? runSeek() : run(); });
}

void ReplayEngine::anchor()
{
    anchorWall = scheduler->now();
    anchorPos = pos;
}

qint64 ReplayEngine::playPosition() const
{
    const double elapsed = double(scheduler->now() - anchorWall) * factor;
    return anchorPos + static_cast<qint64>(std::llround(elapsed));
}

void ReplayEngine::play()
{
    if (playing)
        return;
    if (!haveNext && !restart())
        return;
    playing = true;
    emit playingChanged(true);
    if (seeking)
        return; // the seek goes on playing when it is done
    anchor();
    later(0);
}

void ReplayEngine::pause()
{
    if (!playing)
        return;
    playing = false;
    if (!seeking) {
        scheduler->cancel();
        if (factor > 0 && haveNext)
            pos = std::clamp(playPosition(), pos, relative(next));
    }
    emit playingChanged(false);
    emit positionChanged(pos);
}

void ReplayEngine::setSpeed(double speedFactor)
{
    if (!(speedFactor >= 0.0) || speedFactor > 1e6 || speedFactor == factor)
        return;
    const bool wasPlaying = playing && !seeking;
    if (wasPlaying && factor > 0 && haveNext)
        pos = std::clamp(playPosition(), pos, relative(next));
    factor = speedFactor;
    if (wasPlaying) {
        anchor();
        later(0);
    }
}

void ReplayEngine::run()
{
    if (!playing)
        return;
    if (factor == 0.0) {
        qint64 bytes = 0;
        while (playing && haveNext && bytes < batchBytes) {
            bytes += next.data.size();
            pushNext();
        }
    } else {
        const qint64 due = playPosition();
        while (playing && haveNext && relative(next) <= due)
            pushNext();
    }
    if (!playing)
        return; // paused from within the sink
    emit positionChanged(pos);
    if (!haveNext) {
        reachEnd();
        return;
    }
    if (factor == 0.0) {
        later(0);
        return;
    }
    const double wait = double(relative(next) - playPosition()) / factor;
    later(static_cast<qint64>(std::ceil(std::max(0.0, wait))));
}

void ReplayEngine::reachEnd()
{
    if (looping && restart()) {
        anchor();
        later(0);
        return;
    }
    playing = false;
    emit playingChanged(false);
    emit finished();
}

void ReplayEngine::stepScan()
{
    pause();
    if (seeking)
        return;
    if (!haveNext && !(looping && restart()))
        return;
    scanSeen = false;
    while (haveNext && !scanSeen)
        pushNext();
    emit positionChanged(pos);
    if (!haveNext)
        emit finished();
}

void ReplayEngine::seek(qint64 positionNs)
{
    const qint64 target = std::clamp<qint64>(positionNs, 0, length);
    scheduler->cancel();
    // Forward from here needs nothing replayed again.
    if (target < pos && !restart())
        return;
    seekTarget = target;
    if (!seeking) {
        seeking = true;
        emit seekingChanged(true);
    }
    later(0);
}

void ReplayEngine::runSeek()
{
    qint64 bytes = 0;
    while (haveNext && relative(next) <= seekTarget && bytes < batchBytes) {
        bytes += next.data.size();
        pushNext();
    }
    if (haveNext && relative(next) <= seekTarget) {
        later(0);
        return;
    }
    pos = seekTarget;
    seeking = false;
    emit seekingChanged(false);
    emit positionChanged(pos);
    if (playing) {
        anchor();
        later(0);
    }
}
