#include "runrecord.h"

#include "bytes/jsonkeys.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QUuid>
#include <cmath>

namespace {

// Bounds for what a JSON report may hold; a real one has about thirty
// checks of short texts.
constexpr int maxChecks = 1000;
constexpr int maxText = 4096;

QString absolute(const QString &path)
{
    return path.isEmpty() ? path : QFileInfo(path).absoluteFilePath();
}

std::optional<double> jsonLimit(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    return value.toDouble();
}

QString boundedText(const QJsonValue &value)
{
    return value.toString().left(maxText);
}

bool knownVerdict(const QString &verdict)
{
    return verdict == QLatin1String("pass") || verdict == QLatin1String("fail") ||
           verdict == QLatin1String("skipped");
}

} // namespace

bool StoredMeasurement::isNumber() const
{
    return text.isNull() && std::isfinite(value);
}

int RunRecord::failures() const
{
    int n = 0;
    for (const StoredMeasurement &m : measurements)
        n += m.verdict == QLatin1String("fail");
    return n;
}

QString newRunId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString defaultStation()
{
    return QSysInfo::machineHostName();
}

RunRecord RunRecord::fromReport(const CheckReport &report, const RunContext &context)
{
    RunRecord run;
    run.id = report.runId.isEmpty() ? newRunId() : report.runId;
    run.unit = context.unit.isEmpty() ? report.unit : context.unit;
    run.attempt = context.attempt;
    run.lot = context.lot;
    run.station = context.station.isEmpty() ? defaultStation() : context.station;
    run.operatorName = context.operatorName;
    run.model = report.model;
    run.edition = report.edition;
    run.source = report.source;
    run.sensorVersion = report.sensorVersion;
    run.toolVersion = report.toolVersion;
    run.start = report.start.toUTC();
    run.durationS = report.durationS;
    run.filtered = report.filtered;
    run.verdict = report.passed() ? QStringLiteral("pass") : QStringLiteral("fail");
    run.jsonPath = absolute(context.jsonPath);
    run.htmlPath = absolute(context.htmlPath);
    run.junitPath = absolute(context.junitPath);
    run.capturePath = absolute(context.capturePath);
    for (const CheckResult &c : report.checks) {
        StoredMeasurement m;
        m.key = c.key;
        m.name = c.name;
        m.value = c.isText() ? std::nan("") : c.value;
        m.text = c.text;
        m.unit = c.unit;
        m.low = c.low;
        m.high = c.high;
        m.verdict = verdictText(c.verdict);
        run.measurements.append(m);
    }
    return run;
}

std::optional<RunRecord> RunRecord::fromJson(const QByteArray &json, QString *error)
{
    if (const std::optional<QString> twice = Json::firstDuplicateKey(json)) {
        *error = QStringLiteral("not a report: \"%1\" is given twice").arg(*twice);
        return std::nullopt;
    }
    QJsonParseError parse{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &parse);
    if (parse.error != QJsonParseError::NoError) {
        *error =
            QStringLiteral("not JSON: %1 at byte %2").arg(parse.errorString()).arg(parse.offset);
        return std::nullopt;
    }
    const QJsonObject root = document.object();
    if (root[QStringLiteral("tool")].toString() != QLatin1String("vantoscope-check")) {
        *error = QStringLiteral("not a report of vantoscope-check");
        return std::nullopt;
    }
    RunRecord run;
    const QString id = root[QStringLiteral("run_id")].toString();
    run.id = QUuid(id).isNull()
                 ? QUuid::createUuidV5(QUuid(),
                                       QCryptographicHash::hash(json, QCryptographicHash::Sha256))
                       .toString(QUuid::WithoutBraces)
                 : QUuid(id).toString(QUuid::WithoutBraces);
    run.unit = boundedText(root[QStringLiteral("unit")]);
    run.model = boundedText(root[QStringLiteral("model")]);
    run.edition = boundedText(root[QStringLiteral("edition")]);
    run.source = boundedText(root[QStringLiteral("source")]);
    run.sensorVersion = boundedText(root[QStringLiteral("sensor_version")]);
    run.toolVersion = boundedText(root[QStringLiteral("tool_version")]);
    run.filtered = root[QStringLiteral("filter")].toBool();
    run.start =
        QDateTime::fromString(root[QStringLiteral("start")].toString(), Qt::ISODateWithMs).toUTC();
    run.durationS = root[QStringLiteral("duration_s")].toDouble(0);
    run.verdict = root[QStringLiteral("verdict")].toString();
    if (run.model.isEmpty() || !run.start.isValid() ||
        (run.verdict != QLatin1String("pass") && run.verdict != QLatin1String("fail"))) {
        *error = QStringLiteral("the report lacks its model, start or verdict");
        return std::nullopt;
    }
    if (!root[QStringLiteral("live")].toBool(true))
        run.capturePath = run.source;
    const QJsonArray checks = root[QStringLiteral("checks")].toArray();
    if (checks.size() > maxChecks) {
        *error = QStringLiteral("%1 checks, more than a report holds").arg(checks.size());
        return std::nullopt;
    }
    for (const QJsonValue &v : checks) {
        const QJsonObject c = v.toObject();
        StoredMeasurement m;
        m.key = boundedText(c[QStringLiteral("key")]);
        m.name = boundedText(c[QStringLiteral("name")]);
        const QJsonValue value = c[QStringLiteral("value")];
        m.value = value.isDouble() ? value.toDouble() : std::nan("");
        if (value.isString())
            m.text = boundedText(value);
        m.unit = boundedText(c[QStringLiteral("unit")]);
        m.low = jsonLimit(c[QStringLiteral("low")]);
        m.high = jsonLimit(c[QStringLiteral("high")]);
        m.verdict = c[QStringLiteral("verdict")].toString();
        if (m.key.isEmpty() || !knownVerdict(m.verdict)) {
            *error = QStringLiteral("a check without a key or verdict");
            return std::nullopt;
        }
        run.measurements.append(m);
    }
    return run;
}
