#ifndef VANTOSCOPE_RESULTS_RESULTSDB_H
#define VANTOSCOPE_RESULTS_RESULTSDB_H

#include "batchstats.h"
#include "databasetarget.h"
#include "runrecord.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>
#include <QVector>

// Which runs a query selects; empty fields select everything.
struct RunFilter
{
    QString lot;
    QString unit;
    QDateTime since; // runs that started at or after it
    QString verdict; // "pass", "fail" or empty
};

// One connection to a results database: SQLite (WAL, with a busy timeout,
// so that several processes on one machine write to one file) or PostgreSQL.
// Opening migrates the schema forward; every statement binds its values.
// A connection belongs to the thread that opened it.
class ResultsDatabase
{
public:
    explicit ResultsDatabase(const DatabaseTarget &target);
    ~ResultsDatabase();
    ResultsDatabase(const ResultsDatabase &) = delete;
    ResultsDatabase &operator=(const ResultsDatabase &) = delete;

    static int currentSchemaVersion();
    // Connects, creates or migrates the schema; false with `error`.
    bool open(QString *error);
    const DatabaseTarget &target() const { return dest; }
    int schemaVersion() const { return version; }

    // Stores the run, its unit and its measurements in one transaction. A
    // run whose id is already there is left as it is (`inserted` false).
    // With `countAttempt`, an attempt of 0 becomes the unit's runs already
    // stored plus one (1 for a run without a unit) and is written back into
    // `run`; the spool keeps it 0 until the run reaches the shared database.
    bool store(RunRecord &run, QString *error, bool *inserted = nullptr, bool countAttempt = true);
    // The runs in start order, with their measurements when asked.
    bool runs(const RunFilter &filter, bool withMeasurements, QVector<RunRecord> *out,
              QString *error);
    // The runs of `filter` in start order with what a batch's figures and
    // report show of them (their unit, attempt, lot, station, model, start
    // and verdict; no measurements, paths or versions), and the summary of
    // their measurements: read as numbers in one pass, with only the names,
    // units and limits that the summary shows.
    bool batch(const RunFilter &filter, QVector<RunRecord> *runs, Batch::Summary *summary,
               QString *error);
    bool remove(const QString &runId, QString *error);

private:
    bool exec(const QString &statement, QString *error);
    bool begin(QString *error);
    bool finish(bool ok, QString *error);
    bool migrate(QString *error);
    bool insertMeasurements(const RunRecord &run, QString *error);
    QString whereClause(const RunFilter &filter, const QString &prefix, QVariantList *values) const;
    bool sqlite() const { return dest.engine == DatabaseTarget::Engine::SQLite; }

    DatabaseTarget dest;
    QString connection;
    QSqlDatabase db;
    int version = 0;
};

#endif
