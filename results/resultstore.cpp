#include "resultstore.h"

#include "resultsdb.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

DatabaseTarget spoolTarget(const DatabaseTarget &target)
{
    DatabaseTarget spool;
    spool.file = spoolFile(target);
    return spool;
}

} // namespace

QString spoolFile(const DatabaseTarget &target)
{
    const QByteArray digest =
        QCryptographicHash::hash(target.display().toUtf8(), QCryptographicHash::Sha1).toHex();
    return QFileInfo(DatabaseTarget::defaultFile())
        .dir()
        .filePath(QStringLiteral("spool/%1.sqlite").arg(QString::fromLatin1(digest.left(16))));
}

SyncOutcome syncSpool(ResultsDatabase &database)
{
    SyncOutcome outcome;
    outcome.reached = true;
    const DatabaseTarget spoolAt = spoolTarget(database.target());
    if (!database.target().shared() || !QFileInfo::exists(spoolAt.file))
        return outcome;
    ResultsDatabase spool(spoolAt);
    QVector<RunRecord> waiting;
    if (!spool.open(&outcome.error) || !spool.runs({}, true, &waiting, &outcome.error)) {
        outcome.error = QStringLiteral("spool %1").arg(outcome.error);
        return outcome;
    }
    outcome.left = static_cast<int>(waiting.size());
    for (RunRecord &run : waiting) {
        // Uploaded first, then taken out of the spool: should the second
        // step fail, the next upload finds the run's id there already.
        if (!database.store(run, &outcome.error) || !spool.remove(run.id, &outcome.error))
            break;
        ++outcome.uploaded;
        --outcome.left;
    }
    return outcome;
}

SyncOutcome syncSpool(const DatabaseTarget &target)
{
    ResultsDatabase database(target);
    SyncOutcome outcome;
    if (!database.open(&outcome.error))
        return outcome;
    return syncSpool(database);
}

StoreOutcome storeRun(const DatabaseTarget &target, RunRecord run)
{
    StoreOutcome outcome;
    QString error;
    {
        ResultsDatabase database(target);
        if (database.open(&error)) {
            if (target.shared()) {
                const SyncOutcome sync = syncSpool(database);
                outcome.uploaded = sync.uploaded;
                if (!sync.error.isEmpty())
                    outcome.warning = QStringLiteral("%1 spooled run(s) not uploaded yet: %2")
                                          .arg(sync.left)
                                          .arg(sync.error);
            }
            if (database.store(run, &error)) {
                outcome.stored = true;
                outcome.attempt = run.attempt;
                return outcome;
            }
            error = QStringLiteral("%1: %2").arg(target.display(), error);
        }
    }
    if (!target.shared()) {
        outcome.warning = QStringLiteral("the run is not in the results history: %1").arg(error);
        return outcome;
    }
    ResultsDatabase spool(spoolTarget(target));
    QString spoolError;
    run.attempt = run.attempt > 0 ? run.attempt : 0;
    if (spool.open(&spoolError) && spool.store(run, &spoolError, nullptr, false)) {
        outcome.spooled = true;
        outcome.warning = QStringLiteral("%1; the run waits in %2 for the next run or "
                                         "'vantoscope-results sync'")
                              .arg(error, spool.target().file);
    } else {
        outcome.warning =
            QStringLiteral("the run is not in the results history: %1; nor in the spool: %2")
                .arg(error, spoolError);
    }
    return outcome;
}
