#include "benchstation.h"

#include "capture/capturewriter.h"
#include "check/margins.h"
#include "check/reportfiles.h"
#include "check/sensorcheck.h"
#include "check/sessioncheck.h"
#include "editions/edition.h"
#include "endsound.h"
#include "reportplots/htmlreport.h"
#include "results/runrecord.h"
#include "session/sensorsession.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QThread>

// The outcome of checking a capture, made in another thread.
struct CapturedCheck
{
    bool read = false;
    QString error;
    qint64 bytes = 0;
    CheckReport report;
    std::unique_ptr<ScanStatistics> stats;
};

struct BenchStation::Run
{
    QString unit;
    int attempt = 1;
    QString lot, operatorName;
    QString model;
    BenchProfile profile;
    QDateTime start;
    QString stem;
    QString source;
    QString capturePath;
    bool wasOpen = false;
    QElapsedTimer clock;
    // Live: the check on the window's session, the capture it is recorded
    // in and the connections that feed them, which go with it.
    std::unique_ptr<QObject> wiring;
    std::unique_ptr<SessionCheck> check;
    std::unique_ptr<CaptureWriter> writer;
    qint64 lineBase = 0;  // the session's clock at the start
    qint64 epochBase = 0; // the wall clock then
    // A capture check.
    QThread *thread = nullptr;
    std::shared_ptr<std::atomic_bool> cancelled;
    std::shared_ptr<CapturedCheck> result;
};

BenchStation::BenchStation(SensorSession *session, QObject *parent)
    : QObject(parent), session(session), counter(std::make_unique<SessionAttempts>()),
      modelName(Edition::modelNames().constFirst()), liveHealth(BenchProfile::defaults(modelName))
{
    // Runs may be handed to a store in another thread.
    qRegisterMetaType<StationRun>();
    endSound = new EndSound(this);
    ticker.setInterval(250);
    connect(&ticker, &QTimer::timeout, this, &BenchStation::tick);
    verdictTimer.setSingleShot(true);
    connect(&verdictTimer, &QTimer::timeout, this, &BenchStation::clearVerdict);
    healthTimer.setInterval(1000);
    connect(&healthTimer, &QTimer::timeout, this, &BenchStation::healthTick);
    connect(session, &SensorSession::scanReady, this, [this](const SensorScan &scan) {
        if (!healthShown)
            return;
        ++scansSinceTick;
        liveHealth.add(scan, this->session->acceptedFrames());
    });
    connect(session, &SensorSession::stateChanged, this, [this](SensorSession::State state) {
        if (state == SensorSession::State::Disconnected && !liveHealth.isEmpty()) {
            liveHealth.clear();
            if (healthShown)
                emit healthChanged(liveHealth.figures());
        }
    });
}

BenchStation::~BenchStation()
{
    if (run && run->thread) {
        run->cancelled->store(true);
        run->thread->wait();
    }
}

void BenchStation::setAttemptCounter(std::unique_ptr<AttemptCounter> replacement)
{
    if (replacement)
        counter = std::move(replacement);
}

void BenchStation::loadSettings(const QSettings &settings, const QString &defaultFolder)
{
    reportFolder = settings.value(QStringLiteral("Bench/Folder")).toString();
    if (reportFolder.isEmpty())
        reportFolder = defaultFolder;
    operatorName = settings.value(QStringLiteral("Bench/Operator")).toString();
    lot = settings.value(QStringLiteral("Bench/Lot")).toString();
    setDuration(settings.value(QStringLiteral("Bench/Seconds"), 30.0).toDouble());
    setSoundEnabled(settings.value(QStringLiteral("Bench/Sound"), true).toBool());
    setVerdictSeconds(settings.value(QStringLiteral("Bench/VerdictSeconds"), 0).toInt());
    setProfileFile(settings.value(QStringLiteral("Bench/Profile")).toString());
}

void BenchStation::saveSettings(QSettings &settings) const
{
    settings.setValue(QStringLiteral("Bench/Operator"), operatorName);
    settings.setValue(QStringLiteral("Bench/Lot"), lot);
    settings.setValue(QStringLiteral("Bench/Seconds"), seconds);
    settings.setValue(QStringLiteral("Bench/Sound"), sound);
    settings.setValue(QStringLiteral("Bench/VerdictSeconds"), verdictSeconds);
    settings.setValue(QStringLiteral("Bench/Profile"), profilePath);
}

void BenchStation::setModel(const QString &name)
{
    if (!Models::find(name, Qt::CaseSensitive) || name == modelName)
        return;
    modelName = name;
    setProfileFile(profilePath);
}

BenchProfile BenchStation::profileNow(QString *error) const
{
    BenchProfile profile = BenchProfile::defaults(modelName);
    if (!profilePath.isEmpty() && !profile.load(profilePath, error))
        return BenchProfile::defaults(modelName);
    return profile;
}

bool BenchStation::setProfileFile(const QString &path)
{
    profilePath = path;
    profileProblem.clear();
    liveHealth.setProfile(profileNow(&profileProblem));
    emit settingsChanged();
    return profileProblem.isEmpty();
}

void BenchStation::setDuration(double value)
{
    if (!std::isfinite(value) || std::clamp(value, 1.0, 24 * 3600.0) == seconds)
        return;
    seconds = std::clamp(value, 1.0, 24 * 3600.0);
    emit settingsChanged();
}

void BenchStation::setSoundEnabled(bool on)
{
    if (sound == on)
        return;
    sound = on;
    emit settingsChanged();
}

double BenchStation::secondsLeft() const
{
    if (state != Phase::Running || !run)
        return 0;
    return std::max(0.0, seconds - run->clock.nsecsElapsed() / 1e9);
}

void BenchStation::setPhase(Phase phase)
{
    if (phase == state)
        return;
    state = phase;
    emit phaseChanged(phase);
}

bool BenchStation::start(const QString &unitText)
{
    if (state != Phase::Idle)
        return false;
    const QString unit = unitText.trimmed();
    if (!isValidUnitName(unit)) {
        emit message(unit.isEmpty()
                         ? tr("Scan or type the unit's serial number first.")
                         : tr("A unit's serial number is 1 to %1 printable characters without "
                              "spaces or any of %2.")
                               .arg(longestUnitName)
                               .arg(refusedUnitCharacters()),
                     true);
        return false;
    }
    QString problem;
    const BenchProfile profile = profileNow(&problem);
    if (!problem.isEmpty()) {
        emit message(tr("The profile cannot be used: %1").arg(problem), true);
        return false;
    }
    if (!QDir().mkpath(reportFolder)) {
        emit message(
            tr("Cannot create the report folder %1.").arg(QDir::toNativeSeparators(reportFolder)),
            true);
        return false;
    }
    clearVerdict();
    auto next = std::make_unique<Run>();
    next->unit = unit;
    next->attempt = counter->nextAttempt(unit);
    next->lot = lot;
    next->operatorName = operatorName;
    next->model = modelName;
    next->profile = profile;
    next->start = QDateTime::currentDateTimeUtc();
    next->stem = ReportFiles::freeStem(reportFolder, unit, next->start);
    run = std::move(next);
    const QString capture = line.replaying ? line.replaying() : QString();
    const bool started = capture.isEmpty() ? startLive(*run) : startCaptureCheck(*run, capture);
    if (!started)
        run.reset();
    return started;
}

bool BenchStation::startLive(Run &r)
{
    // A fresh connection: the capture then begins with the handshake and the
    // information reply, and checks to the same verdict later.
    r.wasOpen = session->isOpen() || session->isOpening();
    if (r.wasOpen && line.close)
        line.close();

    r.capturePath = r.stem + QStringLiteral(".pcapng");
    r.writer = std::make_unique<CaptureWriter>();
    CaptureMetadata metadata;
    metadata.application =
        QStringLiteral("Vantoscope ") + QString::fromLatin1(Edition::versionText);
    metadata.comment =
        QStringLiteral("bench run of unit %1, attempt %2").arg(r.unit).arg(r.attempt);
    metadata.edition = QString::fromLatin1(Edition::name);
    metadata.model = r.model;
    metadata.baudrate = Edition::modelChoice(r.model).baudrate;
    if (!r.writer->open(r.capturePath, metadata)) {
        emit message(tr("Cannot record the run: %1").arg(r.writer->errorString()), true);
        return false;
    }
    // The capture's times are the session's clock moved to the wall clock
    // once, so that checking it again sees the intervals the run saw.
    r.lineBase = session->now();
    r.epochBase = epochNanoseconds();
    r.wiring = std::make_unique<QObject>();
    CaptureWriter *writer = r.writer.get();
    const auto wallTime = [this](qint64 lineTime) {
        return run->epochBase + (lineTime - run->lineBase);
    };
    connect(session, &SensorSession::received, r.wiring.get(),
            [writer, wallTime](const QByteArray &chunk, qint64 time) {
                writer->append(CaptureDirection::Inbound, chunk, wallTime(time));
            });
    connect(session, &SensorSession::written, r.wiring.get(),
            [writer, wallTime](const QByteArray &chunk, qint64 time) {
                writer->append(CaptureDirection::Outbound, chunk, wallTime(time));
            });
    connect(session, &SensorSession::versionText, writer, &CaptureWriter::setVersionText);
    connect(session, &SensorSession::deviceLost, r.wiring.get(), [this, writer, wallTime] {
        writer->noteLineLost(wallTime(session->now()));
        emit message(tr("The line was lost: waiting for the sensor to come back…"), true);
    });
    connect(session, &SensorSession::stateChanged, r.wiring.get(),
            [this](SensorSession::State state) {
                if (state == SensorSession::State::Connected && run && run->check &&
                    run->check->deviceLost())
                    emit message(tr("Reconnected: the outage counts as a stall."), false);
            });
    r.check =
        std::make_unique<SessionCheck>(session, r.model, r.profile, SessionCheck::Timing::Line);
    r.check->link().live = true;
    if (session->commandProtocolSelected())
        r.check->timeHandshake();

    if (!line.open || !line.open()) {
        r.check->finish();
        r.wiring.reset();
        r.writer->close();
        QFile::remove(r.capturePath);
        emit message(tr("The sensor's port would not open; nothing was checked."), true);
        return false;
    }
    r.source = session->portName();
    r.clock.start();
    ticker.start();
    setPhase(Phase::Running);
    emit message(tr("Checking %1, attempt %2…").arg(r.unit).arg(r.attempt), false);
    emit progress(0, seconds);
    return true;
}

bool BenchStation::startCaptureCheck(Run &r, const QString &capture)
{
    r.source = capture;
    const QString suffix = QFileInfo(capture).suffix();
    r.capturePath = r.stem + QLatin1Char('.') + (suffix.isEmpty() ? QStringLiteral("bin") : suffix);
    r.cancelled = std::make_shared<std::atomic_bool>(false);
    r.result = std::make_shared<CapturedCheck>();
    const bool filter = session->filterEnabled();
    r.thread = QThread::create([model = r.model, profile = r.profile, filter, capture,
                                cancelled = r.cancelled, result = r.result] {
        SensorCheck check(model, profile, {}, filter);
        check.setCancelled([cancelled] { return cancelled->load(); });
        result->read = check.runCapture(capture, &result->error);
        result->bytes = check.bytes();
        result->report = check.report();
        result->stats = std::make_unique<ScanStatistics>(check.statistics());
    });
    r.thread->setParent(this);
    connect(r.thread, &QThread::finished, this, &BenchStation::finishCaptureCheck);
    r.clock.start();
    setPhase(Phase::CheckingCapture);
    emit message(tr("Checking the capture %1 as %2…").arg(QFileInfo(capture).fileName(), r.unit),
                 false);
    r.thread->start();
    return true;
}

void BenchStation::tick()
{
    if (!run || state != Phase::Running)
        return;
    const double elapsed = run->clock.nsecsElapsed() / 1e9;
    emit progress(std::min(elapsed, seconds), seconds);
    const bool lineGone =
        !session->isOpen() && !session->isOpening() && !(line.willReturn && line.willReturn());
    // A line closed under the run (Stop, a capture opened) leaves no verdict
    // to give; without reconnecting, a lost one ends the run with what it
    // had, as in the check tool.
    if (lineGone && !run->check->deviceLost()) {
        const QString unit = run->unit;
        cancel();
        emit message(tr("The line was closed during the run: no verdict for %1.").arg(unit), true);
    } else if (elapsed >= seconds || lineGone) {
        finishLive();
    }
}

void BenchStation::finishLive()
{
    ticker.stop();
    Run &r = *run;
    const double duration = r.clock.nsecsElapsed() / 1e9;
    r.check->finish();
    CheckReport report = r.check->report();
    report.live = true;
    report.source = r.source;
    report.durationS = duration;
    // Left as found; the stop command still goes into the capture.
    if (!r.wasOpen && line.close)
        line.close();
    r.wiring.reset();
    if (!r.writer->close())
        report.notes.append(QStringLiteral("The run's capture could not be written whole: %1")
                                .arg(r.writer->errorString()));
    conclude(report, r.check->statistics());
}

void BenchStation::finishCaptureCheck()
{
    if (!run || !run->thread)
        return;
    run->thread->deleteLater();
    run->thread = nullptr;
    const std::shared_ptr<CapturedCheck> result = run->result;
    if (run->cancelled->load()) {
        run.reset();
        setPhase(Phase::Idle);
        return;
    }
    if (!result->read || result->bytes == 0) {
        emit message(result->read ? tr("The capture holds no data; nothing was checked.")
                                  : tr("Cannot check the capture: %1").arg(result->error),
                     true);
        run.reset();
        setPhase(Phase::Idle);
        return;
    }
    if (!QFile::copy(run->source, run->capturePath))
        run->capturePath = run->source;
    CheckReport report = result->report;
    report.live = false;
    report.source = run->source;
    report.durationS = result->stats->span();
    conclude(report, *result->stats);
}

void BenchStation::conclude(CheckReport report, const ScanStatistics &stats)
{
    Run &r = *run;
    report.toolVersion = QStringLiteral(VANTOSCOPE_VERSION);
    report.edition = QLatin1String(Edition::name);
    report.unit = r.unit;
    report.start = r.start;
    // The id the results history keeps the run by, in its JSON report too.
    report.runId = newRunId();
    StationRun done;
    done.unit = r.unit;
    done.attempt = r.attempt;
    done.lot = r.lot;
    done.operatorName = r.operatorName;
    done.capturePath = r.capturePath;
    const ReportFiles files = ReportFiles::at(r.stem);
    QString error;
    const bool written = files.write(
        report, [&] { return htmlReport(report, stats, unsteadyBins(stats)); }, &error);
    done.jsonPath = files.json;
    done.junitPath = files.junit;
    done.htmlPath = files.html;
    done.report = report;
    if (const CheckResult *worst = worstCheck(done.report)) {
        done.worstKey = worst->key;
        done.worstText =
            worst->name + QStringLiteral(": ") + worst->valueText() +
            (worst->unit.isEmpty() || worst->isText() ? QString() : QLatin1Char(' ') + worst->unit);
    }
    counter->completed(r.unit, r.attempt);
    runs.append(done);
    run.reset();
    setPhase(Phase::Idle);
    if (written)
        emit message(tr("%1, attempt %2: %3")
                         .arg(done.unit)
                         .arg(done.attempt)
                         .arg(done.passed() ? tr("PASS") : tr("FAIL")),
                     false);
    else
        emit message(tr("The verdict stands, but a report is missing: %1").arg(error), true);
    emit verdictShown(done);
    if (verdictSeconds > 0)
        verdictTimer.start(verdictSeconds * 1000);
    if (sound)
        endSound->play(done.passed());
    emit runCompleted(done);
}

void BenchStation::attemptStored(const QString &runId, int attempt)
{
    for (int i = 0; i < runs.size(); ++i) {
        StationRun &done = runs[i];
        if (done.report.runId != runId)
            continue;
        counter->completed(done.unit, attempt);
        if (done.attempt != attempt) {
            done.attempt = attempt;
            emit runUpdated(i);
        }
        return;
    }
}

void BenchStation::cancel()
{
    if (!run)
        return;
    if (run->thread) {
        // The thread ends at the next record; its end clears up.
        run->cancelled->store(true);
        emit message(tr("Cancelled: no verdict for %1.").arg(run->unit), false);
        return;
    }
    ticker.stop();
    Run &r = *run;
    r.check->finish();
    if (!r.wasOpen && line.close)
        line.close();
    r.wiring.reset();
    r.writer->close();
    QFile::remove(r.capturePath);
    emit message(tr("Cancelled: no verdict for %1.").arg(r.unit), false);
    run.reset();
    setPhase(Phase::Idle);
}

void BenchStation::unitEdited()
{
    if (state == Phase::Idle)
        clearVerdict();
}

void BenchStation::clearVerdict()
{
    verdictTimer.stop();
    emit verdictCleared();
}

void BenchStation::setHealthShown(bool shown)
{
    if (shown == healthShown)
        return;
    healthShown = shown;
    liveHealth.clear();
    scansSinceTick = 0;
    quietTicks = 0;
    if (shown) {
        healthTimer.start();
        emit healthChanged(liveHealth.figures());
    } else {
        healthTimer.stop();
    }
}

void BenchStation::healthTick()
{
    // A stream that stopped without a word (a paused replay) is not healthy
    // for as long as its last figures would say.
    quietTicks = scansSinceTick > 0 ? 0 : quietTicks + 1;
    scansSinceTick = 0;
    if (quietTicks >= 3)
        liveHealth.clear();
    emit healthChanged(liveHealth.figures());
}
