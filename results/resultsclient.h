#ifndef VANTOSCOPE_RESULTS_RESULTSCLIENT_H
#define VANTOSCOPE_RESULTS_RESULTSCLIENT_H

#include "databasetarget.h"
#include "resultsdb.h"
#include "resultstore.h"
#include "runrecord.h"

#include <QObject>
#include <QThread>
#include <optional>

// The results history for a program with a window: stores and queries run
// on a thread of their own, so that a shared server that is slow or gone
// never freezes the window (it costs the thread the connect timeout, and
// the run goes to the spool). Answers come back as signals on the thread
// that made the client.
class ResultsClient : public QObject
{
    Q_OBJECT
public:
    // `target` as --db and Results/Database take it; empty: the default
    // SQLite file. A text that names no database makes every answer carry
    // the error.
    explicit ResultsClient(const QString &target, QObject *parent = nullptr);
    // Waits for the stores already asked for (each bounded by the connect
    // timeout).
    ~ResultsClient() override;

    QString targetText() const;
    // Stores the run of `report` as `context` describes it; returns its id
    // at once, the same id stored() names when it is done.
    QString store(const CheckReport &report, const RunContext &context);
    // Asks for the runs `filter` selects; returns the request's number,
    // which runsReady() names.
    int queryRuns(const RunFilter &filter);
    // The runs of the last answer.
    const QVector<RunRecord> &runs() const { return answer; }

signals:
    // `attempt` as stored (0 while the run waits in the spool); `warning` is
    // one line, empty when all went well.
    void stored(const QString &runId, int attempt, bool spooled, const QString &warning);
    void runsReady(int request, const QString &error);

private:
    std::optional<DatabaseTarget> target;
    QString targetError;
    QString text;
    QThread thread;
    QObject *worker;
    QVector<RunRecord> answer;
    int requests = 0;
};

#endif
