#ifndef VANTOSCOPE_CHECK_CHECKREPORT_H
#define VANTOSCOPE_CHECK_CHECKREPORT_H

#include <QDateTime>
#include <QString>
#include <QVector>
#include <optional>

enum class Verdict
{
    Pass,
    Fail,
    Skipped, // not measurable in this run (no bins in a band, no timestamps, ...)
};

QString verdictText(Verdict verdict); // "pass", "fail", "skipped"
// A measured number as the reports print it: whole numbers without
// decimals, others with a precision that suits their size; NaN is "-".
QString numberText(double value);

// One check: a measured value against its limits.
struct CheckResult
{
    QString key;  // stable identifier, as profiles name it
    QString name; // for people
    double value = 0;
    QString text; // the value when it is a text (a version), else empty
    QString unit;
    std::optional<double> low, high;
    Verdict verdict = Verdict::Skipped;
    QString note; // why it failed or was skipped, or what it measured

    bool isText() const { return !text.isNull(); }
    // The value as printed: a text, or a number with a sensible precision.
    QString valueText() const;
    // "≥ 5.4", "5.4 .. 6.6", "≤ 0.01" or "-" (ASCII ">=" / "<=" in the
    // plain variant).
    QString limitText(bool ascii = false) const;
};

// The verdict of one sensor: where the data came from, and every check.
struct CheckReport
{
    QString toolVersion;
    QString model;
    QString edition; // "full" or "classic"
    QString source;  // port name or capture file
    QString unit;    // the unit's serial number (--unit), empty when not given
    // The run's id in the results history (a UUID), empty when not kept.
    QString runId;
    // Whether the points went through the viewer's filter stage before the
    // checks (--filter) or are the sensor's own output (the default).
    bool filtered = false;
    bool live = true;
    QDateTime start; // UTC
    double durationS = 0;
    QString sensorVersion;
    QVector<CheckResult> checks;
    // Sentences the report states with the results (assumptions, marks).
    QStringList notes;

    int failures() const;
    int counted() const; // checks that passed or failed
    bool passed() const { return failures() == 0; }
    // "PASS" or "FAIL: k of n checks failed".
    QString verdictLine() const;
};

#endif
