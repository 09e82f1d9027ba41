#ifndef VANTOSCOPE_STATION_RESULTSKEEPER_H
#define VANTOSCOPE_STATION_RESULTSKEEPER_H

#include "results/resultsclient.h"

#include <QObject>

class BenchStation;
struct StationRun;

// Keeps every run of a bench station in the results history. The database
// counts the attempt (the runs of the unit it already holds, plus one, on
// whichever station they were made), and the station's list takes that
// number when the store answers. A store never holds up the verdict: it
// runs on the client's thread, and a shared server that cannot be reached
// leaves the run in the spool, with a one-line warning in the panel.
class ResultsKeeper : public QObject
{
    Q_OBJECT
public:
    // `database` as Results/Database takes it (empty: the default SQLite
    // file).
    ResultsKeeper(BenchStation *station, const QString &database, QObject *parent = nullptr);

    QString databaseText() const { return client.targetText(); }

signals:
    // A run is in the history (or the spool), with the attempt stored.
    void runKept(const QString &runId, int attempt, bool spooled);

private:
    void keep(const StationRun &run);
    void stored(const QString &runId, int attempt, bool spooled, const QString &warning);

    BenchStation *station;
    ResultsClient client;
};

#endif
