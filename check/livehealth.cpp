#include "livehealth.h"

#include "streamstatistics.h"

LiveHealth::LiveHealth(const BenchProfile &profile) : limits(profile) {}

void LiveHealth::setProfile(const BenchProfile &profile)
{
    limits = profile;
    samples.clear();
}

void LiveHealth::add(const SensorScan &scan, qint64 acceptedFrames)
{
    // A clock that went back is another source (a replay, the line again).
    if (!samples.empty() && scan.time < samples.back().scan.time)
        samples.clear();
    Sample sample;
    sample.scan.family = scan.family;
    sample.scan.speed = scan.speed;
    sample.scan.rate = scan.rate;
    sample.scan.valid = scan.valid;
    sample.scan.total = scan.total;
    sample.scan.errors = scan.errors;
    sample.scan.time = scan.time;
    sample.accepted = acceptedFrames;
    samples.push_back(sample);
    while (samples.front().scan.time < scan.time - windowNs)
        samples.pop_front();
}

QVector<HealthFigure> LiveHealth::figures() const
{
    StreamStatistics stats(limits.nominalScanHz, limits.commandProtocol);
    if (!samples.empty()) {
        stats.setStart(samples.front().scan.time);
        for (const Sample &s : samples)
            stats.add(s.scan);
        stats.setAcceptedFrames(samples.back().accepted - samples.front().accepted);
    }
    const bool frames = limits.commandProtocol;
    const QString hz = QStringLiteral("Hz");
    const auto figure = [](const char *key, const QString &name, const QString &unit,
                           double value) {
        HealthFigure f;
        f.key = QLatin1String(key);
        f.name = name;
        f.unit = unit;
        f.value = value;
        return f;
    };
    QVector<HealthFigure> out{
        figure("speed_mean",
               frames ? QStringLiteral("Frame rate") : QStringLiteral("Rotation speed"), hz,
               stats.speed().mean()),
        figure("speed_cv", frames ? QStringLiteral("Frame rate CV") : QStringLiteral("Speed CV"),
               QString(), stats.speed().cv()),
        figure("scan_rate", QStringLiteral("Scan rate"), hz, stats.scanRate()),
        figure("errors_per_1000",
               frames ? QStringLiteral("Lost frames / 1000")
                      : QStringLiteral("Packet errors / 1000"),
               QString(), stats.errorsPer1000()),
        figure("valid_ratio_mean", QStringLiteral("Valid ratio"), QString(),
               stats.validRatio().mean()),
    };
    for (HealthFigure &f : out) {
        f.limit = limits.limit(f.key);
        f.zone = limitZone(f.value, f.limit);
    }
    return out;
}
