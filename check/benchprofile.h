#ifndef VANTOSCOPE_CHECK_BENCHPROFILE_H
#define VANTOSCOPE_CHECK_BENCHPROFILE_H

#include "scanstatistics.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

namespace Models {
struct Record;
}

struct CheckLimit
{
    std::optional<double> low, high;
};

// What a model is expected to do, and the limits each check is held to. The
// built-in defaults are bench defaults, meant to be tightened per product
// with a profile file.
class BenchProfile
{
public:
    // The defaults for `model`, set around what a typical unit does. A name
    // outside the model table is a programming error and aborts: callers
    // take names from the edition's list.
    static BenchProfile defaults(const QString &model);
    static BenchProfile defaults(const Models::Record &model);

    // Applies a JSON profile over these limits: an object whose keys are
    // check keys, each with "low" and/or "high" (a number, or null for no
    // limit), plus "min_firmware": "X.Y.Z" and "references": [{"angle": 0,
    // "distance": 2300, "halfwidth": 1}] (degrees, millimetres, degrees
    // either side, 1 when left out), which replaces the references so far.
    // An unknown key or a malformed file gives false and a message naming
    // the key or the problem and its line.
    bool apply(const QByteArray &json, QString *error);
    bool load(const QString &path, QString *error);

    // Every key a profile may set.
    static QStringList keys();
    CheckLimit limit(const QString &key) const { return limits.value(key); }
    void setLimit(const QString &key, CheckLimit value) { limits[key] = value; }

    double nominalScanHz = 0; // revolutions or frames per second
    bool commandProtocol = false;
    // The field of view: `fanWidth` degrees around `fanCentre` (360 for a
    // full turn).
    double fanCentre = 0, fanWidth = 360;
    QString minFirmware; // "X.Y.Z", empty for no minimum
    // Known distances in the scene, checked for bias, spread and drift.
    QVector<ReferenceTarget> references;

private:
    QMap<QString, CheckLimit> limits;
};

// Compares firmware versions "1.2.10" with the version text the sensor
// reports ("v1.2.10 hw:1f"): -1, 0, 1, or nullopt when either is unreadable.
std::optional<int> compareFirmware(const QString &versionText, const QString &minimum);

#endif
