#include "resultskeeper.h"

#include "benchstation.h"

ResultsKeeper::ResultsKeeper(BenchStation *station, const QString &database, QObject *parent)
    : QObject(parent), station(station), client(database)
{
    connect(station, &BenchStation::runCompleted, this, &ResultsKeeper::keep);
    connect(&client, &ResultsClient::stored, this, &ResultsKeeper::stored);
}

void ResultsKeeper::keep(const StationRun &run)
{
    RunContext context;
    context.unit = run.unit;
    context.attempt = 0; // counted by the database
    context.lot = run.lot;
    context.operatorName = run.operatorName;
    context.jsonPath = run.jsonPath;
    context.junitPath = run.junitPath;
    context.htmlPath = run.htmlPath;
    context.capturePath = run.capturePath;
    client.store(run.report, context);
}

void ResultsKeeper::stored(const QString &runId, int attempt, bool spooled, const QString &warning)
{
    if (!warning.isEmpty())
        station->reportProblem(tr("Results history: %1").arg(warning));
    if (attempt > 0)
        station->attemptStored(runId, attempt);
    emit runKept(runId, attempt, spooled);
}
