#ifndef VANTOSCOPE_CHECK_SESSIONCHECK_H
#define VANTOSCOPE_CHECK_SESSIONCHECK_H

#include "benchprofile.h"
#include "evaluation.h"
#include "scanstatistics.h"

#include <QObject>

class SensorSession;

// One run of the bench checks on what a session publishes: its scans, the
// sensor's version text, the bytes it read and a lost device. The session
// stays its owner's: the check tool's own, or the window's, whose map goes
// on drawing the same scans.
class SessionCheck : public QObject
{
    Q_OBJECT
public:
    enum class Timing
    {
        // Scans at the time the session published them; the start as set.
        Published,
        // Scans at the time the session read the chunk that completed them,
        // and the start at the first chunk read or written: the times a
        // capture of the run records, so that the capture checks to the same
        // figures.
        Line,
    };

    SessionCheck(SensorSession *session, const QString &model, const BenchProfile &profile,
                 Timing timing, QObject *parent = nullptr);

    // Times the connection sequence from now to its end; it counts only when
    // the sensor answered, and only the first (a reconnection's is not timed).
    void timeHandshake();
    // The line was lost: the outage until the next scan is one stall.
    void lineLost();
    // The line is back after a loss (counted by itself when the session
    // connects again).
    void lineBack();
    // Stops listening to the session and takes the frames it accepted since
    // the check began.
    void finish();

    LinkFacts &link() { return facts; }
    const LinkFacts &link() const { return facts; }
    ScanStatistics &statistics() { return stats; }
    const ScanStatistics &statistics() const { return stats; }
    bool deviceLost() const { return losses > 0; }
    int reconnects() const { return reconnectCount; }
    // Damage or a cut found in a capture, for the report's notes.
    void setCaptureProblem(const QString &text) { problem = text; }
    QString captureProblem() const { return problem; }

    // The checks and their notes; the caller fills in the report's header
    // fields (tool, edition, source, unit, start, duration).
    CheckReport report() const;

private:
    SensorSession *session;
    BenchProfile limits;
    ScanStatistics stats;
    LinkFacts facts;
    QString modelName;
    QString problem;
    Timing timing;
    bool started = false;
    qint64 lineTime = 0;
    qint64 acceptedBefore = 0;
    bool filterAtStart = false;
    bool finished = false;
    bool awaitingReturn = false;
    int losses = 0;
    int reconnectCount = 0;
};

#endif
