#include "reportwriters.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamWriter>
#include <cmath>

namespace {

QJsonValue jsonNumber(double value)
{
    return std::isfinite(value) ? QJsonValue(value) : QJsonValue(QJsonValue::Null);
}

QJsonValue jsonLimit(const std::optional<double> &limit)
{
    return limit ? jsonNumber(*limit) : QJsonValue(QJsonValue::Null);
}

QString isoTime(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QString padded(const QString &text, int width)
{
    return text.leftJustified(width, QLatin1Char(' '));
}

QString junitName(const CheckReport &report)
{
    return report.unit.isEmpty()
               ? QStringLiteral("%1 %2").arg(report.model, report.source)
               : QStringLiteral("%1 %2 %3").arg(report.model, report.unit, report.source);
}

QString filterText(const CheckReport &report)
{
    return report.filtered ? QStringLiteral("on") : QStringLiteral("off");
}

} // namespace

QString textReport(const CheckReport &report)
{
    QStringList header{QStringLiteral("Check"), QStringLiteral("Value"), QStringLiteral("Unit"),
                       QStringLiteral("Limits"), QStringLiteral("Verdict")};
    QVector<QStringList> rows;
    for (const CheckResult &c : report.checks)
        rows.append({c.name, c.valueText(), c.unit, c.isText() ? c.note : c.limitText(true),
                     verdictText(c.verdict).toUpper()});
    QVector<int> widths(header.size(), 0);
    for (int k = 0; k < header.size(); ++k)
        widths[k] = header[k].size();
    for (const QStringList &row : rows)
        for (int k = 0; k < row.size(); ++k)
            widths[k] = std::max(widths[k], static_cast<int>(row[k].size()));

    QString out;
    out += QStringLiteral("%1 (%2 edition) %3 %4\n")
               .arg(report.model, report.edition,
                    report.live ? QStringLiteral("on") : QStringLiteral("from"), report.source);
    if (!report.unit.isEmpty())
        out += QStringLiteral("Unit %1\n").arg(report.unit);
    if (!report.sensorVersion.isEmpty())
        out += QStringLiteral("Sensor %1\n").arg(report.sensorVersion);
    out += QStringLiteral("Filter %1\n").arg(filterText(report));
    out += QLatin1Char('\n');
    auto line = [&](const QStringList &cells) {
        QString text;
        for (int k = 0; k < cells.size(); ++k)
            text += (k ? QStringLiteral("  ") : QString()) +
                    (k == 1 ? cells[k].rightJustified(widths[k]) : padded(cells[k], widths[k]));
        out += text.trimmed() + QLatin1Char('\n');
    };
    line(header);
    for (const QStringList &row : rows)
        line(row);
    out += QLatin1Char('\n');
    for (const QString &note : report.notes)
        out += note + QLatin1Char('\n');
    out += report.verdictLine() + QLatin1Char('\n');
    return out;
}

QByteArray jsonReport(const CheckReport &report)
{
    QJsonArray checks;
    for (const CheckResult &c : report.checks) {
        QJsonObject o{
            {QStringLiteral("key"), c.key},
            {QStringLiteral("name"), c.name},
            {QStringLiteral("value"), c.isText() ? QJsonValue(c.text) : jsonNumber(c.value)},
            {QStringLiteral("unit"), c.unit},
            {QStringLiteral("low"), jsonLimit(c.low)},
            {QStringLiteral("high"), jsonLimit(c.high)},
            {QStringLiteral("verdict"), verdictText(c.verdict)},
        };
        if (!c.note.isEmpty())
            o.insert(QStringLiteral("note"), c.note);
        checks.append(o);
    }
    QJsonObject root{
        {QStringLiteral("tool"), QStringLiteral("vantoscope-check")},
        {QStringLiteral("tool_version"), report.toolVersion},
        {QStringLiteral("model"), report.model},
        {QStringLiteral("edition"), report.edition},
        {QStringLiteral("source"), report.source},
        {QStringLiteral("unit"), report.unit},
        {QStringLiteral("filter"), report.filtered},
        {QStringLiteral("live"), report.live},
        {QStringLiteral("start"), isoTime(report.start)},
        {QStringLiteral("duration_s"), jsonNumber(report.durationS)},
        {QStringLiteral("sensor_version"), report.sensorVersion},
        {QStringLiteral("checks"), checks},
        {QStringLiteral("notes"), QJsonArray::fromStringList(report.notes)},
        {QStringLiteral("verdict"),
         report.passed() ? QStringLiteral("pass") : QStringLiteral("fail")},
        {QStringLiteral("verdict_line"), report.verdictLine()},
    };
    if (!report.runId.isEmpty())
        root.insert(QStringLiteral("run_id"), report.runId);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

QByteArray junitReport(const QVector<CheckReport> &reports)
{
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    xml.writeAttribute(QStringLiteral("name"), QStringLiteral("vantoscope-check"));
    int tests = 0, failures = 0, skipped = 0;
    for (const CheckReport &r : reports) {
        tests += r.checks.size();
        failures += r.failures();
        skipped += r.checks.size() - r.counted();
    }
    xml.writeAttribute(QStringLiteral("tests"), QString::number(tests));
    xml.writeAttribute(QStringLiteral("failures"), QString::number(failures));
    xml.writeAttribute(QStringLiteral("skipped"), QString::number(skipped));
    for (const CheckReport &r : reports) {
        xml.writeStartElement(QStringLiteral("testsuite"));
        xml.writeAttribute(QStringLiteral("name"), junitName(r));
        xml.writeAttribute(QStringLiteral("tests"), QString::number(r.checks.size()));
        xml.writeAttribute(QStringLiteral("failures"), QString::number(r.failures()));
        xml.writeAttribute(QStringLiteral("errors"), QStringLiteral("0"));
        xml.writeAttribute(QStringLiteral("skipped"),
                           QString::number(r.checks.size() - r.counted()));
        xml.writeAttribute(QStringLiteral("timestamp"), r.start.toUTC().toString(Qt::ISODate));
        xml.writeAttribute(QStringLiteral("time"), QString::number(r.durationS, 'f', 3));
        xml.writeStartElement(QStringLiteral("properties"));
        const QList<QPair<QString, QString>> properties{
            {QStringLiteral("model"), r.model},
            {QStringLiteral("edition"), r.edition},
            {QStringLiteral("source"), r.source},
            {QStringLiteral("unit"), r.unit},
            {QStringLiteral("filter"), filterText(r)},
            {QStringLiteral("sensor_version"), r.sensorVersion},
            {QStringLiteral("tool_version"), r.toolVersion},
        };
        for (const auto &p : properties) {
            xml.writeEmptyElement(QStringLiteral("property"));
            xml.writeAttribute(QStringLiteral("name"), p.first);
            xml.writeAttribute(QStringLiteral("value"), p.second);
        }
        xml.writeEndElement();
        for (const CheckResult &c : r.checks) {
            xml.writeStartElement(QStringLiteral("testcase"));
            xml.writeAttribute(QStringLiteral("name"), c.name);
            xml.writeAttribute(QStringLiteral("classname"),
                               QStringLiteral("vantoscope-check.%1.%2").arg(r.model, c.key));
            if (c.verdict == Verdict::Fail) {
                const QString limit = c.isText() ? c.note : c.limitText(true);
                const QString value =
                    c.valueText() + (c.unit.isEmpty() ? QString() : QLatin1Char(' ') + c.unit);
                xml.writeStartElement(QStringLiteral("failure"));
                xml.writeAttribute(QStringLiteral("message"),
                                   QStringLiteral("%1 is %2, limit %3").arg(c.name, value, limit));
                xml.writeAttribute(QStringLiteral("type"), c.key);
                if (!c.note.isEmpty())
                    xml.writeCharacters(c.note);
                xml.writeEndElement();
            } else if (c.verdict == Verdict::Skipped) {
                xml.writeEmptyElement(QStringLiteral("skipped"));
                xml.writeAttribute(QStringLiteral("message"), c.note);
            }
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    return out;
}
