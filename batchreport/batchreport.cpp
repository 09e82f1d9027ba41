#include "batchreport.h"

#include "batchplots.h"
#include "quickpng.h"
#include "reportplots/htmlpage.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <thread>

using Html::escaped;

namespace {

const char batchStyle[] = R"(
.pair { display: flex; flex-wrap: wrap; gap: 8px; }
.pair figure { margin: 0 0 12px; }
.checks td.low { background: #fdecea; color: #c62828; font-weight: bold; }
.checks td.value.low { text-align: right; }
h3 { font-size: 1em; margin: 22px 0 6px; }
h3 .key { color: #666; font-weight: normal; }
)";

// Units listed by name at most; a batch of thousands links to the CLI.
constexpr int unitRowsShown = 200;

QString plotFigure(const QImage &plot, const QString &alt, const QString &caption)
{
    return Html::figure(quickPng(plot), plot.size() / plot.devicePixelRatio(), alt, caption);
}

QString orDash(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("-") : escaped(text);
}

QString timeText(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                          : QStringLiteral("-");
}

QString distinct(const QVector<RunRecord> &runs, QString RunRecord::*field)
{
    QStringList values;
    QSet<QString> seen;
    for (const RunRecord &r : runs)
        if (!(r.*field).isEmpty() && !seen.contains(r.*field)) {
            seen.insert(r.*field);
            values << r.*field;
        }
    if (values.size() > 8)
        return QStringLiteral("%1 and %2 more")
            .arg(values.mid(0, 8).join(QStringLiteral(", ")))
            .arg(values.size() - 8);
    return values.join(QStringLiteral(", "));
}

QString limitsText(const Batch::CheckSeries &check)
{
    CheckResult limits;
    limits.low = check.low;
    limits.high = check.high;
    return limits.limitText();
}

QString indexCell(double index)
{
    return QStringLiteral("<td class=\"value%1\">%2</td>")
        .arg(Batch::Capability::low(index) ? QStringLiteral(" low") : QString(),
             Batch::indexText(index));
}

QString header(const QVector<RunRecord> &runs, const BatchSource &source)
{
    QString html = QStringLiteral("<header>\n<h1>Batch report</h1>\n");
    const QVector<QPair<QString, QString>> facts = {
        {QStringLiteral("Database"), orDash(source.database)},
        {QStringLiteral("Selection"), orDash(source.selection)},
        {QStringLiteral("Runs"), QString::number(runs.size())},
        {QStringLiteral("First start (UTC)"),
         runs.isEmpty() ? QStringLiteral("-") : timeText(runs.first().start)},
        {QStringLiteral("Last start (UTC)"),
         runs.isEmpty() ? QStringLiteral("-") : timeText(runs.last().start)},
        {QStringLiteral("Lots"), orDash(distinct(runs, &RunRecord::lot))},
        {QStringLiteral("Models"), orDash(distinct(runs, &RunRecord::model))},
        {QStringLiteral("Stations"), orDash(distinct(runs, &RunRecord::station))},
        {QStringLiteral("Made (UTC)"), timeText(QDateTime::currentDateTimeUtc())},
    };
    html += QStringLiteral("<table class=\"facts\">\n");
    for (const auto &fact : facts)
        html += QStringLiteral("<tr><th>%1</th><td>%2</td></tr>\n").arg(fact.first, fact.second);
    return html + QStringLiteral("</table>\n</header>\n");
}

QString yieldTable(const Batch::Yield &y)
{
    QString html = QStringLiteral("<h2>Yield</h2>\n<table class=\"checks\">\n<tbody>\n");
    auto row = [&](const QString &what, const QString &value, const QString &cls = QString()) {
        html += QStringLiteral("<tr%1><td>%2</td><td class=\"value\">%3</td></tr>\n")
                    .arg(cls.isEmpty() ? QString() : QStringLiteral(" class=\"%1\"").arg(cls), what,
                         value);
    };
    row(QStringLiteral("Units tested"), QString::number(y.units));
    row(QStringLiteral("First-pass yield (passed on the first run)"),
        Batch::shareText(y.firstPass, y.units), QStringLiteral("first-pass"));
    row(QStringLiteral("Final yield (passed on the last run)"),
        Batch::shareText(y.finalPass, y.units), QStringLiteral("final"));
    row(QStringLiteral("Units retested"), QString::number(y.retested));
    row(QStringLiteral("Runs"), QString::number(y.runs));
    return html + QStringLiteral("</tbody>\n</table>\n");
}

// The units that failed at least once: how each went, attempt by attempt.
QString unitTable(const QVector<RunRecord> &runs)
{
    QHash<QString, QVector<int>> byUnit;
    QStringList order;
    for (int i = 0; i < runs.size(); ++i) {
        const QString unit = runs[i].unit;
        if (unit.isEmpty())
            continue;
        if (!byUnit.contains(unit))
            order << unit;
        byUnit[unit].append(i);
    }
    QStringList rows;
    for (const QString &unit : order) {
        QVector<int> attempts = byUnit.value(unit);
        std::stable_sort(attempts.begin(), attempts.end(),
                         [&](int a, int b) { return runs[a].attempt < runs[b].attempt; });
        bool failed = false;
        QStringList verdicts;
        for (int i : attempts) {
            failed = failed || !runs[i].passed();
            verdicts << (runs[i].passed() ? QStringLiteral("PASS") : QStringLiteral("FAIL"));
        }
        if (!failed)
            continue;
        const RunRecord &last = runs[attempts.last()];
        rows << QStringLiteral("<tr class=\"%1\"><td>%2</td><td>%3</td><td class=\"value\">%4</td>"
                               "<td>%5</td><td class=\"verdict-cell\">%6</td></tr>\n")
                    .arg(last.passed() ? QStringLiteral("pass") : QStringLiteral("fail"),
                         escaped(unit), orDash(last.lot))
                    .arg(attempts.size())
                    .arg(verdicts.join(QStringLiteral(" → ")),
                         last.passed() ? QStringLiteral("pass") : QStringLiteral("fail"));
    }
    if (rows.isEmpty())
        return {};
    QString html = QStringLiteral(
        "<h2>Units that failed a run</h2>\n<table class=\"checks\">\n<thead><tr><th>Unit</th>"
        "<th>Lot</th><th>Runs</th><th>Verdicts, attempt by attempt</th><th>Final</th></tr>"
        "</thead>\n<tbody>\n");
    for (int i = 0; i < rows.size() && i < unitRowsShown; ++i)
        html += rows[i];
    html += QStringLiteral("</tbody>\n</table>\n");
    if (rows.size() > unitRowsShown)
        html +=
            QStringLiteral("<p>and %1 more; <code>vantoscope-results list --verdict fail</code> "
                           "lists them all.</p>\n")
                .arg(rows.size() - unitRowsShown);
    return html;
}

QString capabilityTable(const Batch::Summary &summary)
{
    QString html =
        QStringLiteral(
            "<h2>Capability</h2>\n<p>Ppk from the overall σ, Cpk from the σ within (the average "
            "moving range in run order ÷ 1.128); with one limit, its side alone. Indices below %1 "
            "are marked.</p>\n<table class=\"checks\">\n<thead><tr><th>Check</th><th>n</th>"
            "<th>Mean</th><th>σ</th><th>Min</th><th>Max</th><th>Limits</th><th>Ppk</th><th>Cpk</th>"
            "<th>Failed</th><th>Flagged</th></tr></thead>\n<tbody>\n")
            .arg(Batch::capableIndex);
    for (const Batch::CheckSeries &check : summary.checks) {
        const Batch::Capability &c = check.capability;
        const int flagged = static_cast<int>(
            std::count_if(check.flags.begin(), check.flags.end(), [](int f) { return f != 0; }));
        html += QStringLiteral("<tr data-key=\"%1\"><td>%2</td><td class=\"value\">%3</td>")
                    .arg(escaped(check.key), escaped(check.name))
                    .arg(c.n);
        for (double v : {c.mean, c.sigma, c.min, c.max})
            html += QStringLiteral("<td class=\"value\">%1</td>").arg(numberText(v));
        html += QStringLiteral("<td class=\"limits\">%1</td>").arg(escaped(limitsText(check)));
        html += indexCell(c.ppk) + indexCell(c.cpk);
        html += QStringLiteral("<td class=\"value\">%1</td><td class=\"value\">%2</td></tr>\n")
                    .arg(check.failures)
                    .arg(flagged);
    }
    if (summary.checks.isEmpty())
        html += QStringLiteral("<tr class=\"skipped\"><td colspan=\"11\">no measured values</td>"
                               "</tr>\n");
    return html + QStringLiteral("</tbody>\n</table>\n");
}

QString paretoSection(const Batch::Summary &summary)
{
    QString html = QStringLiteral("<h2>Failing checks</h2>\n");
    html += plotFigure(paretoPlot(summary.pareto, summary.failures), QStringLiteral("Pareto"),
                       QStringLiteral("Failed checks over all runs of the selection, most "
                                      "first, with the share of all failures up to each."));
    if (summary.pareto.isEmpty())
        return html;
    html += QStringLiteral("<table class=\"checks\">\n<thead><tr><th>Check</th><th>Failures</th>"
                           "<th>Share</th><th>Cumulative</th></tr></thead>\n<tbody>\n");
    for (const Batch::ParetoEntry &e : summary.pareto)
        html += QStringLiteral("<tr data-key=\"%1\"><td>%2</td><td class=\"value\">%3</td>"
                               "<td class=\"value\">%4 %</td><td class=\"value\">%5 %</td></tr>\n")
                    .arg(escaped(e.key), escaped(e.name.isEmpty() ? e.key : e.name))
                    .arg(e.failures)
                    .arg(e.share * 100, 0, 'f', 1)
                    .arg(e.cumulative * 100, 0, 'f', 1);
    return html + QStringLiteral("</tbody>\n</table>\n");
}

QString checkSection(const Batch::CheckSeries &check)
{
    const Batch::Capability &c = check.capability;
    QString html = QStringLiteral("<h3 id=\"check-%2\">%1 <span class=\"key\">%2</span></h3>\n"
                                  "<div class=\"pair\">")
                       .arg(escaped(check.name), escaped(check.key));
    html += plotFigure(
        histogramPlot(check), QStringLiteral("Distribution of %1").arg(check.key),
        QStringLiteral("Limits %1; Ppk %2.").arg(limitsText(check), Batch::indexText(c.ppk)));
    html +=
        plotFigure(controlChart(check), QStringLiteral("Individuals chart of %1").arg(check.key),
                   QStringLiteral("Red points break a Western Electric rule; Cpk %1.")
                       .arg(Batch::indexText(c.cpk)));
    return html + QStringLiteral("</div>\n");
}

} // namespace

QByteArray batchReport(const QVector<RunRecord> &runs, const Batch::Summary &summary,
                       const BatchSource &source)
{
    const Batch::Yield &y = summary.yield;
    QString html = Html::pageStart(
        QStringLiteral("Batch report: %1 units, first-pass yield %2")
            .arg(y.units)
            .arg(y.units ? QStringLiteral("%1 %").arg(y.firstPassYield() * 100, 0, 'f', 1)
                         : QStringLiteral("-")),
        batchStyle);
    html += header(runs, source);
    html += yieldTable(y);
    html += unitTable(runs);
    html += paretoSection(summary);
    html += capabilityTable(summary);
    html += QStringLiteral("<h2>Checks</h2>\n<p>Each check's values across the runs: how they "
                           "spread against the limits, and how they moved in run order.</p>\n");
    // The plots are most of the work: drawn on every core, each check's
    // pair on an image of its own.
    QVector<QString> sections(summary.checks.size());
    std::atomic<int> next{0};
    auto draw = [&] {
        for (int k = next++; k < sections.size(); k = next++)
            sections[k] = checkSection(summary.checks[k]);
    };
    std::vector<std::thread> helpers;
    const int threads = std::min(std::max(1, QThread::idealThreadCount()), 8);
    for (int t = 1; t < threads; ++t)
        helpers.emplace_back(draw);
    draw();
    for (std::thread &helper : helpers)
        helper.join();
    for (const QString &section : sections)
        html += section;
    html += Html::pageEnd();
    return html.toUtf8();
}
