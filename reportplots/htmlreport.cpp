#include "htmlreport.h"

#include "htmlpage.h"
#include "reportplots.h"

#include <QStringList>
#include <cmath>

namespace {

using Html::escaped;

QString orDash(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("-") : escaped(text);
}

QString durationText(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0)
        return QStringLiteral("-");
    QString text = QStringLiteral("%1 s").arg(seconds, 0, 'f', 1);
    if (seconds >= 120) {
        const long long whole = std::llround(seconds);
        text += QStringLiteral(" (%1 min %2 s)").arg(whole / 60).arg(whole % 60);
    }
    return text;
}

QString header(const CheckReport &report, const ScanStatistics &stats)
{
    QString html;
    html += QStringLiteral("<header>\n<h1>Bench check of %1</h1>\n").arg(orDash(report.model));
    html += QStringLiteral("<p class=\"verdict %1\">%2</p>\n")
                .arg(report.passed() ? QStringLiteral("pass") : QStringLiteral("fail"),
                     escaped(report.verdictLine()));
    const QString start =
        report.start.isValid() ? report.start.toUTC().toString(Qt::ISODate) : QStringLiteral("-");
    const QString source = QStringLiteral("%1 (%2)").arg(
        orDash(report.source), report.live ? QStringLiteral("live") : QStringLiteral("capture"));
    const QVector<QPair<QString, QString>> facts = {
        {QStringLiteral("Model"), orDash(report.model)},
        {QStringLiteral("Unit"), orDash(report.unit)},
        {QStringLiteral("Edition"), orDash(report.edition)},
        {QStringLiteral("Source"), source},
        {QStringLiteral("Points checked"),
         report.filtered ? QStringLiteral("after the viewer's filter (--filter)")
                         : QStringLiteral("before the filter stage (the sensor's own output)")},
        {QStringLiteral("Start (UTC)"), start},
        {QStringLiteral("Duration"), durationText(report.durationS)},
        {QStringLiteral("Scans"), QString::number(stats.scans())},
        {QStringLiteral("Sensor version"), orDash(report.sensorVersion)},
        {QStringLiteral("Tool version"), orDash(report.toolVersion)},
    };
    html += QStringLiteral("<table class=\"facts\">\n");
    for (const auto &fact : facts)
        html += QStringLiteral("<tr><th>%1</th><td>%2</td></tr>\n").arg(fact.first, fact.second);
    html += QStringLiteral("</table>\n</header>\n");
    return html;
}

QString checkTable(const CheckReport &report)
{
    QString html = QStringLiteral(
        "<h2>Checks</h2>\n<table class=\"checks\">\n<thead><tr><th>Check</th><th>Value</th>"
        "<th>Unit</th><th>Limits</th><th>Verdict</th><th>Note</th></tr></thead>\n<tbody>\n");
    for (const CheckResult &c : report.checks) {
        html +=
            QStringLiteral("<tr class=\"%1\" data-key=\"%2\"><td>%3</td><td class=\"value\">%4"
                           "</td><td>%5</td><td class=\"limits\">%6</td>"
                           "<td class=\"verdict-cell\">%7</td><td class=\"note\">%8</td></tr>\n")
                .arg(verdictText(c.verdict), escaped(c.key), escaped(c.name),
                     escaped(c.valueText()), escaped(c.unit),
                     c.isText() ? QStringLiteral("-") : escaped(c.limitText()),
                     verdictText(c.verdict).toUpper(), escaped(c.note));
    }
    if (report.checks.isEmpty())
        html += QStringLiteral("<tr class=\"skipped\"><td colspan=\"6\">no checks</td></tr>\n");
    html += QStringLiteral("</tbody>\n</table>\n");
    return html;
}

} // namespace

QByteArray htmlReport(const CheckReport &report, const ScanStatistics &stats,
                      const QVector<bool> &unsteady)
{
    const bool frames = stats.commandProtocol();
    QString html;
    html += Html::pageStart(QStringLiteral("%1 %2: %3")
                                .arg(report.model.isEmpty() ? QStringLiteral("-") : report.model,
                                     !report.unit.isEmpty()     ? report.unit
                                     : !report.source.isEmpty() ? report.source
                                                                : QStringLiteral("-"),
                                     report.verdictLine()));
    html += header(report, stats);
    html += checkTable(report);

    if (!report.notes.isEmpty()) {
        html += QStringLiteral("<h2>Notes</h2>\n<ul class=\"notes\">\n");
        for (const QString &note : report.notes)
            html += QStringLiteral("<li>%1</li>\n").arg(escaped(note));
        html += QStringLiteral("</ul>\n");
    }

    html += QStringLiteral("<h2>Plots</h2>\n");
    html +=
        Html::figure(scanPolarPlot(stats, unsteady), QStringLiteral("Median scan"),
                     QStringLiteral("The median distance of every 1° bin, seen from above with 0° "
                                    "straight ahead and angles clockwise, coloured by the bin's "
                                    "distance spread σ."));
    html += Html::figure(
        speedPlot(stats), frames ? QStringLiteral("Frame rate") : QStringLiteral("Rotation speed"),
        frames ? QStringLiteral("Frames per second from each frame interval, against "
                                "the time since the start.")
               : QStringLiteral("Rotation speed as the sensor reports it, against the "
                                "time since the start."));
    html +=
        Html::figure(intervalPlot(stats),
                     frames ? QStringLiteral("Frame intervals") : QStringLiteral("Scan intervals"),
                     QStringLiteral("How long each %1 took to follow the one before.")
                         .arg(frames ? QStringLiteral("frame") : QStringLiteral("scan")));
    html += Html::figure(sigmaPlot(stats, unsteady), QStringLiteral("Range noise by angle"),
                         QStringLiteral("The spread σ of every 1° bin's distance across the scans, "
                                        "around the bin's slope with angle."));
    html += Html::figure(
        errorPlot(stats), frames ? QStringLiteral("Lost frames") : QStringLiteral("Packet errors"),
        frames ? QStringLiteral("Frames missing from the frame sequence, by when the "
                                "gap ended.")
               : QStringLiteral("Packets the decoder rejected, by when the scan that "
                                "counted them arrived."));
    if (!stats.references().isEmpty())
        html += Html::figure(
            driftPlot(stats), QStringLiteral("Reference drift"),
            QStringLiteral("The mean distance of each reference sector per %1 s window, "
                           "less its known distance, and the least-squares line whose "
                           "slope is the drift.")
                .arg(ScanStatistics::driftWindowS));
    html += Html::pageEnd();
    return html.toUtf8();
}
