#ifndef VANTOSCOPE_RESULTS_RUNRECORD_H
#define VANTOSCOPE_RESULTS_RUNRECORD_H

#include "check/checkreport.h"

#include <QDateTime>
#include <QString>
#include <QVector>
#include <optional>

// One check of a stored run. A text check (a version reply) keeps its text
// and no value; a value that was not measured is NaN.
struct StoredMeasurement
{
    QString key;
    QString name;
    double value = 0;
    QString text;
    QString unit;
    std::optional<double> low, high;
    QString verdict; // "pass", "fail" or "skipped"

    bool isNumber() const;
};

// Where a run was made and by whom, as the station knows it: what a report
// does not carry.
struct RunContext
{
    QString unit;
    // 0: the run's attempt is counted by the database that stores it (the
    // runs of the same unit it already holds, plus one).
    int attempt = 0;
    QString lot;
    QString operatorName;
    QString station; // empty: this machine's host name
    QString jsonPath, htmlPath, junitPath, capturePath;
};

// One run as the database keeps it.
struct RunRecord
{
    QString id; // a UUID made on the station, so that a run is stored once wherever it goes
    QString unit;
    int attempt = 0;
    QString lot;
    QString station;
    QString operatorName;
    QString model;
    QString edition;
    QString source;
    QString sensorVersion;
    QString toolVersion;
    QDateTime start; // UTC
    double durationS = 0;
    bool filtered = false;
    QString verdict; // "pass" or "fail"
    QString jsonPath, htmlPath, junitPath, capturePath;
    QVector<StoredMeasurement> measurements;

    bool passed() const { return verdict == QLatin1String("pass"); }
    int failures() const;

    // A run of `report`, with a new id; the report's unit unless the
    // context names one. Paths are made absolute.
    static RunRecord fromReport(const CheckReport &report, const RunContext &context);
    // A run from a JSON report of vantoscope-check. Its id is the report's
    // run_id, or else one derived from the file's bytes, so that importing
    // the same file twice stores it once.
    static std::optional<RunRecord> fromJson(const QByteArray &json, QString *error);
};

QString newRunId();
// The station's name when none is given: the host name.
QString defaultStation();

#endif
