#ifndef VANTOSCOPE_RESULTS_RESULTSTORE_H
#define VANTOSCOPE_RESULTS_RESULTSTORE_H

#include "databasetarget.h"
#include "runrecord.h"

class ResultsDatabase;

struct StoreOutcome
{
    bool stored = false;  // in the database asked for
    bool spooled = false; // in the local spool instead
    int attempt = 0;      // as stored; 0 while spooled
    int uploaded = 0;     // earlier spooled runs that went up first
    QString warning;      // one line; empty when all went well
};

struct SyncOutcome
{
    bool reached = false; // the database opened
    int uploaded = 0;
    int left = 0; // still in the spool
    QString error;
};

// Stores one run. When a shared database cannot be reached, or fails to take
// the run, the run goes into the local spool (a SQLite file of the same
// schema) instead; whenever the shared database is reached, what the spool
// holds goes up first, oldest first, each run exactly once (by its id).
StoreOutcome storeRun(const DatabaseTarget &target, RunRecord run);
// Uploads the spool of `target`.
SyncOutcome syncSpool(const DatabaseTarget &target);
// As syncSpool, into a database already open.
SyncOutcome syncSpool(ResultsDatabase &database);
// The spool of a shared database: one SQLite file per database in the
// application data folder.
QString spoolFile(const DatabaseTarget &target);

#endif
