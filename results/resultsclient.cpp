#include "resultsclient.h"

#include <QMetaObject>

ResultsClient::ResultsClient(const QString &targetText, QObject *parent)
    : QObject(parent), target(DatabaseTarget::parse(targetText, &targetError)), text(targetText),
      worker(new QObject)
{
    thread.setObjectName(QStringLiteral("results"));
    worker->moveToThread(&thread);
    thread.start();
}

ResultsClient::~ResultsClient()
{
    thread.quit();
    thread.wait();
    delete worker;
}

QString ResultsClient::targetText() const
{
    return target ? target->display() : text;
}

QString ResultsClient::store(const CheckReport &report, const RunContext &context)
{
    const RunRecord run = RunRecord::fromReport(report, context);
    if (!target) {
        emit stored(run.id, 0, false, targetError);
        return run.id;
    }
    const DatabaseTarget where = *target;
    QMetaObject::invokeMethod(
        worker,
        [this, where, run] {
            const StoreOutcome outcome = storeRun(where, run);
            QMetaObject::invokeMethod(
                this,
                [this, id = run.id, outcome] {
                    emit stored(id, outcome.attempt, outcome.spooled, outcome.warning);
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    return run.id;
}

int ResultsClient::queryRuns(const RunFilter &filter)
{
    const int request = ++requests;
    if (!target) {
        answer.clear();
        QMetaObject::invokeMethod(
            this, [this, request] { emit runsReady(request, targetError); }, Qt::QueuedConnection);
        return request;
    }
    const DatabaseTarget where = *target;
    QMetaObject::invokeMethod(
        worker,
        [this, where, filter, request] {
            QVector<RunRecord> found;
            QString error;
            ResultsDatabase database(where);
            if (database.open(&error))
                database.runs(filter, false, &found, &error);
            QMetaObject::invokeMethod(
                this,
                [this, request, found, error] {
                    answer = found;
                    emit runsReady(request, error);
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    return request;
}
