#ifndef VANTOSCOPE_CHECK_LIVEHEALTH_H
#define VANTOSCOPE_CHECK_LIVEHEALTH_H

#include "benchprofile.h"
#include "margins.h"
#include "points/sensorscan.h"

#include <deque>

// One running figure of the live health and where it stands against the
// limit of the check it is named after.
struct HealthFigure
{
    QString key; // the check's key in the profile
    QString name;
    QString unit;
    double value = 0;
    CheckLimit limit;
    LimitZone zone = LimitZone::Unknown;
};

// The stream's health over its last few seconds, with the check's own
// statistics: the scans of the window (without their points) are fed
// through StreamStatistics afresh each time the figures are asked for.
class LiveHealth
{
public:
    static constexpr qint64 windowNs = 10'000'000'000LL;

    explicit LiveHealth(const BenchProfile &profile);
    // New limits (a model or profile chosen); the scans so far are forgotten.
    void setProfile(const BenchProfile &profile);
    // `acceptedFrames`: the session's count of accepted frames after `scan`.
    void add(const SensorScan &scan, qint64 acceptedFrames);
    void clear() { samples.clear(); }
    bool isEmpty() const { return samples.empty(); }

    // Rotation speed (or frame rate) and its coefficient of variation, scan
    // rate, packet errors (or lost frames) per 1000 frames and valid ratio,
    // over the scans of the last windowNs up to the newest.
    QVector<HealthFigure> figures() const;

private:
    struct Sample
    {
        SensorScan scan;
        qint64 accepted = 0;
    };

    BenchProfile limits;
    std::deque<Sample> samples;
};

#endif
