#include "sessioncheck.h"

#include "session/sensorsession.h"

#include <QElapsedTimer>
#include <memory>

SessionCheck::SessionCheck(SensorSession *session, const QString &model,
                           const BenchProfile &profile, Timing timing, QObject *parent)
    : QObject(parent), session(session), limits(profile),
      stats(profile.nominalScanHz, profile.commandProtocol, profile.references), modelName(model),
      timing(timing), acceptedBefore(session->acceptedFrames()),
      filterAtStart(session->filterEnabled())
{
    stats.setFieldOfView(profile.fanCentre, profile.fanWidth);
    const auto startAt = [this](qint64 time) {
        if (!started && this->timing == Timing::Line)
            stats.setStart(time);
        started = true;
    };
    connect(session, &SensorSession::received, this,
            [this, startAt](const QByteArray &chunk, qint64 time) {
                startAt(time);
                lineTime = time;
                facts.bytes += chunk.size();
            });
    connect(session, &SensorSession::written, this,
            [startAt](const QByteArray &, qint64 time) { startAt(time); });
    connect(session, &SensorSession::scanReady, this, [this](const SensorScan &scan) {
        if (this->timing == Timing::Published) {
            stats.add(scan);
            return;
        }
        SensorScan timed = scan;
        timed.time = lineTime;
        stats.add(timed);
    });
    connect(session, &SensorSession::versionText, this,
            [this](const QString &text) { facts.versionText = text; });
    connect(session, &SensorSession::deviceLost, this, &SessionCheck::lineLost);
    connect(session, &SensorSession::stateChanged, this, [this](SensorSession::State state) {
        if (state == SensorSession::State::Connected && awaitingReturn)
            lineBack();
    });
}

void SessionCheck::timeHandshake()
{
    facts.handshakeExpected = true;
    auto handshake = std::make_shared<QElapsedTimer>();
    handshake->start();
    connect(session, &SensorSession::handshakeFailed, this,
            [handshake] { handshake->invalidate(); });
    connect(session, &SensorSession::handshakeFinished, this, [this, handshake] {
        if (handshake->isValid())
            facts.handshakeMs = handshake->nsecsElapsed() / 1e6;
        // A reconnection's handshake is not timed from the first open.
        handshake->invalidate();
    });
}

void SessionCheck::lineLost()
{
    ++losses;
    awaitingReturn = true;
    stats.lineLost();
}

void SessionCheck::lineBack()
{
    awaitingReturn = false;
    ++reconnectCount;
}

void SessionCheck::finish()
{
    if (finished)
        return;
    finished = true;
    session->disconnect(this);
    stats.setAcceptedFrames(session->acceptedFrames() - acceptedBefore);
}

CheckReport SessionCheck::report() const
{
    CheckReport r = evaluate(stats, facts, limits);
    r.model = modelName;
    r.filtered = session->filterEnabled();
    if (r.filtered != filterAtStart)
        r.notes.prepend(QStringLiteral("The filter stage was switched during the run: the checks "
                                       "cover points from before and after."));
    r.notes.prepend(r.filtered
                        ? QStringLiteral("The checks ran on the points after the viewer's "
                                         "filter stage (--filter), as the window shows them.")
                        : QStringLiteral("The checks ran on the points before the filter "
                                         "stage: the sensor's own output."));
    if (!problem.isEmpty())
        r.notes.prepend(problem);
    if (losses > 0 && reconnectCount > 0)
        r.notes.prepend(QStringLiteral("The line was lost %1 time(s) and reconnected %2 time(s); "
                                       "each outage counts as a stall.")
                            .arg(losses)
                            .arg(reconnectCount));
    else if (losses > 0)
        r.notes.prepend(QStringLiteral("The sensor was lost (the cable pulled?) before the end."));
    return r;
}
