#include "benchprofile.h"

#include "bytes/jsonkeys.h"
#include "editions/modeltable.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QRegularExpression>

namespace {

const char *const firmwareKey = "min_firmware";
const char *const referencesKey = "references";

int lineAt(const QByteArray &text, int offset)
{
    return text.left(std::max(0, offset)).count('\n') + 1;
}

// The line of the first occurrence of "key" as an object key.
int lineOfKey(const QByteArray &text, const QString &key)
{
    const QByteArray quoted = QJsonDocument(QJsonObject{{key, 0}}).toJson(QJsonDocument::Compact);
    // {"key":0} -> "key"
    const QByteArray needle = quoted.mid(1, quoted.size() - 4);
    const int at = text.indexOf(needle);
    return at < 0 ? 0 : lineAt(text, at);
}

QVector<int> versionNumbers(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("(\\d+)\\.(\\d+)\\.(\\d+)"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch())
        return {};
    return {m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt()};
}

// The "references" list; nothing when any entry is not a target.
std::optional<QVector<ReferenceTarget>> readReferences(const QJsonValue &value)
{
    if (!value.isArray())
        return std::nullopt;
    QVector<ReferenceTarget> targets;
    for (const QJsonValue &entry : value.toArray()) {
        const QJsonObject target = entry.toObject();
        ReferenceTarget t;
        for (auto it = target.begin(); it != target.end(); ++it) {
            double *slot = it.key() == QLatin1String("angle")       ? &t.angle
                           : it.key() == QLatin1String("distance")  ? &t.distance
                           : it.key() == QLatin1String("halfwidth") ? &t.halfWidth
                                                                    : nullptr;
            if (!slot || !it.value().isDouble())
                return std::nullopt;
            *slot = it.value().toDouble();
        }
        if (!entry.isObject() || !target.contains(QLatin1String("angle")) ||
            !target.contains(QLatin1String("distance")) || !(t.distance > 0) ||
            !(t.halfWidth > 0 && t.halfWidth <= 180))
            return std::nullopt;
        targets.append(t);
    }
    return targets;
}

} // namespace

QStringList BenchProfile::keys()
{
    return {QStringLiteral("bytes_received"),
            QStringLiteral("handshake_ms"),
            QStringLiteral("time_to_first_scan"),
            QStringLiteral("speed_mean"),
            QStringLiteral("speed_cv"),
            QStringLiteral("speed_min"),
            QStringLiteral("speed_max"),
            QStringLiteral("speed_settling"),
            QStringLiteral("scan_rate"),
            QStringLiteral("scan_interval_spread"),
            QStringLiteral("stalls"),
            QStringLiteral("points_per_scan_mean"),
            QStringLiteral("points_per_scan_min"),
            QStringLiteral("valid_ratio_mean"),
            QStringLiteral("valid_ratio_min"),
            QStringLiteral("errors_per_1000"),
            QStringLiteral("errors"),
            QStringLiteral("gap_median"),
            QStringLiteral("gap_worst"),
            QStringLiteral("coverage"),
            QStringLiteral("noise_median"),
            QStringLiteral("noise_p95"),
            QStringLiteral("noise_p95_near"),
            QStringLiteral("noise_p95_mid"),
            QStringLiteral("noise_p95_far"),
            QStringLiteral("reference_bias"),
            QStringLiteral("reference_sigma"),
            QStringLiteral("reference_drift")};
}

BenchProfile BenchProfile::defaults(const QString &model)
{
    const Models::Record *row = Models::find(model, Qt::CaseInsensitive);
    if (!row)
        qFatal("no bench profile for the model '%s': it is not in the model table",
               qPrintable(model));
    return defaults(*row);
}

BenchProfile BenchProfile::defaults(const Models::Record &model)
{
    BenchProfile p;
    const double f = model.scanHz;
    const int points = model.pointsPerScan();
    p.nominalScanHz = f;
    p.commandProtocol = model.commandProtocol();
    p.fanWidth = model.fieldOfView;
    p.limits = {
        {QStringLiteral("bytes_received"), {1.0, {}}},
        {QStringLiteral("handshake_ms"), {{}, 2000.0}},
        {QStringLiteral("time_to_first_scan"), {{}, 5.0}},
        {QStringLiteral("speed_mean"), {0.9 * f, 1.1 * f}},
        // Spinning heads hold their speed within about ±0.5 %; frame rates
        // from millisecond timestamps vary by their rounding.
        {QStringLiteral("speed_cv"), {{}, p.commandProtocol ? 0.02 : 0.01}},
        {QStringLiteral("speed_min"), {0.85 * f, {}}},
        {QStringLiteral("speed_max"), {{}, 1.15 * f}},
        // How long a head takes to spin up differs too much between units
        // and mountings for one default; a product sets its own.
        {QStringLiteral("speed_settling"), {}},
        {QStringLiteral("scan_rate"), {0.9 * f, 1.1 * f}},
        {QStringLiteral("scan_interval_spread"), {{}, 500.0 / f}},
        {QStringLiteral("stalls"), {{}, 0.0}},
        {QStringLiteral("points_per_scan_mean"), {0.9 * points, {}}},
        {QStringLiteral("points_per_scan_min"), {0.8 * points, {}}},
        {QStringLiteral("valid_ratio_mean"), {0.9, {}}},
        {QStringLiteral("valid_ratio_min"), {0.8, {}}},
        {QStringLiteral("errors_per_1000"), {{}, 5.0}},
        {QStringLiteral("errors"), {}},
        // The filters of some models drop small clusters, which widens the
        // gaps the window shows.
        {QStringLiteral("gap_median"), {{}, 8.0}},
        {QStringLiteral("gap_worst"), {{}, 20.0}},
        {QStringLiteral("coverage"), {0.95, {}}},
        {QStringLiteral("noise_median"), {{}, 15.0}},
        {QStringLiteral("noise_p95"), {{}, 30.0}},
        {QStringLiteral("noise_p95_near"), {{}, 20.0}},
        {QStringLiteral("noise_p95_mid"), {{}, 30.0}},
        {QStringLiteral("noise_p95_far"), {{}, 45.0}},
        {QStringLiteral("reference_bias"), {-50.0, 50.0}},
        {QStringLiteral("reference_sigma"), {{}, 30.0}},
        // Millimetres per minute either way, over 10 s window means.
        {QStringLiteral("reference_drift"), {-5.0, 5.0}},
    };
    return p;
}

bool BenchProfile::apply(const QByteArray &json, QString *error)
{
    if (const std::optional<QString> twice = Json::firstDuplicateKey(json)) {
        *error = QStringLiteral("line %1: \"%2\" is given twice")
                     .arg(lineOfKey(json, *twice))
                     .arg(*twice);
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (doc.isNull()) {
        *error = QStringLiteral("line %1: %2")
                     .arg(lineAt(json, parseError.offset))
                     .arg(parseError.errorString());
        return false;
    }
    if (!doc.isObject()) {
        *error = QStringLiteral("line 1: a profile is a JSON object of check keys");
        return false;
    }
    const QJsonObject root = doc.object();
    const QStringList known = keys();
    QMap<QString, CheckLimit> changed = limits;
    QString firmware = minFirmware;
    QVector<ReferenceTarget> targets = references;
    for (auto it = root.begin(); it != root.end(); ++it) {
        const QString key = it.key();
        auto fail = [&](const QString &what) {
            *error = QStringLiteral("line %1: %2").arg(lineOfKey(json, key)).arg(what);
            return false;
        };
        if (key == QLatin1String(firmwareKey)) {
            if (!it.value().isString() || versionNumbers(it.value().toString()).isEmpty())
                return fail(
                    QStringLiteral("\"%1\" takes a version text such as \"1.2.10\"").arg(key));
            firmware = it.value().toString();
            continue;
        }
        if (key == QLatin1String(referencesKey)) {
            const std::optional<QVector<ReferenceTarget>> read = readReferences(it.value());
            if (!read)
                return fail(QStringLiteral("\"%1\" takes a list of objects with a numeric "
                                           "\"angle\", a positive \"distance\" (mm) and "
                                           "optionally a \"halfwidth\" above 0 and up to 180 "
                                           "(degrees)")
                                .arg(key));
            targets = *read;
            continue;
        }
        if (!known.contains(key))
            return fail(QStringLiteral("unknown key \"%1\"").arg(key));
        if (!it.value().isObject())
            return fail(
                QStringLiteral("\"%1\" takes an object with \"low\" and/or \"high\"").arg(key));
        const QJsonObject bounds = it.value().toObject();
        CheckLimit limit = changed.value(key);
        for (auto b = bounds.begin(); b != bounds.end(); ++b) {
            std::optional<double> *slot = b.key() == QLatin1String("low")    ? &limit.low
                                          : b.key() == QLatin1String("high") ? &limit.high
                                                                             : nullptr;
            if (!slot) {
                *error = QStringLiteral("line %1: unknown key \"%2\" in \"%3\" (low or high)")
                             .arg(lineOfKey(json, b.key()))
                             .arg(b.key(), key);
                return false;
            }
            if (b.value().isNull())
                slot->reset();
            else if (b.value().isDouble())
                *slot = b.value().toDouble();
            else
                return fail(
                    QStringLiteral("\"%1\" of \"%2\" takes a number or null").arg(b.key(), key));
        }
        changed[key] = limit;
    }
    limits = changed;
    minFirmware = firmware;
    references = targets;
    return true;
}

bool BenchProfile::load(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    // Profiles are small; a huge file is not one.
    const QByteArray text = file.read(1 << 20);
    if (!file.atEnd()) {
        *error = QStringLiteral("%1 is too large for a profile").arg(path);
        return false;
    }
    QString why;
    if (!apply(text, &why)) {
        *error = QStringLiteral("%1: %2").arg(path, why);
        return false;
    }
    return true;
}

std::optional<int> compareFirmware(const QString &versionText, const QString &minimum)
{
    const QVector<int> have = versionNumbers(versionText), want = versionNumbers(minimum);
    if (have.isEmpty() || want.isEmpty())
        return std::nullopt;
    for (int i = 0; i < 3; ++i)
        if (have[i] != want[i])
            return have[i] < want[i] ? -1 : 1;
    return 0;
}
