#ifndef VANTOSCOPE_STATION_ATTEMPTCOUNTER_H
#define VANTOSCOPE_STATION_ATTEMPTCOUNTER_H

#include <QHash>
#include <QString>

// Which attempt a unit's next run is: 1 for a unit not tested before, one
// more for each retest. The station asks it before a run and tells it of
// each run that reached a verdict; a results store can take its place.
class AttemptCounter
{
public:
    virtual ~AttemptCounter() = default;
    virtual int nextAttempt(const QString &unit) const = 0;
    virtual void completed(const QString &unit, int attempt) = 0;
};

// Counts the runs of this session of the program.
class SessionAttempts : public AttemptCounter
{
public:
    int nextAttempt(const QString &unit) const override { return runs.value(unit) + 1; }
    void completed(const QString &unit, int attempt) override
    {
        runs[unit] = std::max(runs.value(unit), attempt);
    }

private:
    QHash<QString, int> runs;
};

#endif
