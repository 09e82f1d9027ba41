#include "replaycontroller.h"

#include "capture/replayengine.h"
#include "replaybar.h"
#include "session/sensorsession.h"

ReplayController::ReplayController(SensorSession *session, ReplayBar *bar, QObject *parent)
    : QObject(parent), session(session), bar(bar)
{
    connect(session, &SensorSession::scanReady, this, [this](const SensorScan &scan) {
        (scan.streaming() ? lastStreamScan : lastFrameScan) = scan;
    });
    connect(bar, &ReplayBar::speedChanged, this, [this](double factor) { speed = factor; });
    connect(bar, &ReplayBar::loopChanged, this, [this](bool on) { loops = on; });
    connect(bar, &ReplayBar::endRequested, this, &ReplayController::end);
}

ReplayController::~ReplayController()
{
    pauseForShutdown();
}

void ReplayController::pauseForShutdown()
{
    if (engine)
        engine->pause();
}

bool ReplayController::load(const QString &path, int rawBaudrate)
{
    auto opened = std::make_unique<ReplayEngine>();
    if (!opened->open(path, rawBaudrate)) {
        error = opened->errorString();
        return false;
    }
    loaded = std::move(opened);
    return true;
}

QString ReplayController::loadedModel() const
{
    return loaded ? loaded->capture().interfaces().value(0).metadata.model : QString();
}

void ReplayController::discardLoaded()
{
    loaded.reset();
}

void ReplayController::start(bool calibrateFromStream)
{
    if (!loaded)
        return;
    end();
    engine = loaded.release();
    engine->setParent(this);
    engine->setObjectName(QStringLiteral("replayEngine"));

    session->setCalibrateFromStream(calibrateFromStream);
    session->setTimeSource(engine->timeSource());
    // A scan's wall-clock time is its record's, not the decoders' clock.
    if (engine->capture().format() == CaptureReader::Format::Pcapng)
        session->setWallClock(SensorSession::WallClock::FromTimeSource, engine->recordedTime());
    else
        session->setWallClock(SensorSession::WallClock::Unknown);
    session->beginSource();
    engine->setSink([this](const QByteArray &chunk) { session->push(chunk); });
    engine->setSpeed(speed);
    engine->setLoop(loops);
    ReplayEngine *e = engine;
    connect(session, &SensorSession::scanReady, e, [e] { e->scanPublished(); });
    connect(e, &ReplayEngine::seekingChanged, this, &ReplayController::setFrozen);
    // A loop or a seek back starts the stream again: nothing of its end may
    // stitch onto its start.
    connect(e, &ReplayEngine::restarted, session, &SensorSession::beginSource);
    connect(e, &ReplayEngine::playingChanged, bar, &ReplayBar::setPlaying);
    connect(e, &ReplayEngine::positionChanged, bar, &ReplayBar::setPosition);
    connect(bar, &ReplayBar::playToggled, e, [e](bool on) {
        if (on)
            e->play();
        else
            e->pause();
    });
    connect(bar, &ReplayBar::stepRequested, e, &ReplayEngine::stepScan);
    connect(bar, &ReplayBar::speedChanged, e, &ReplayEngine::setSpeed);
    connect(bar, &ReplayBar::loopChanged, e, &ReplayEngine::setLoop);
    connect(bar, &ReplayBar::seekRequested, e, &ReplayEngine::seek);

    bar->setDuration(e->duration());
    bar->setPosition(0);
    bar->show();
    e->play();
}

void ReplayController::end()
{
    if (!engine)
        return;
    ReplayEngine *e = engine;
    engine = nullptr;
    e->setSink({});
    e->pause();
    e->disconnect(this);
    e->disconnect(bar);
    // The bar's end button may be what called this.
    e->deleteLater();
    setFrozen(false);
    session->setTimeSource({});
    session->setWallClock(SensorSession::WallClock::AtPublish);
    session->setCalibrateFromStream(false);
    bar->setPlaying(false);
    bar->hide();
    emit ended();
}

bool ReplayController::truncated() const
{
    return engine && engine->truncated();
}

bool ReplayController::damaged() const
{
    return engine && engine->damaged();
}

SensorScan ReplayController::lastScan() const
{
    return session->commandProtocolSelected() ? lastFrameScan : lastStreamScan;
}

void ReplayController::setFrozen(bool frozen)
{
    if (frozen == frozen_)
        return;
    frozen_ = frozen;
    emit frozenChanged(frozen);
}
