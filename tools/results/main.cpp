// vantoscope-results: what the results history holds. Lists runs, a unit's
// history and the yield and capability of a selection; writes it as CSV or
// as the batch report; imports JSON reports of vantoscope-check and uploads
// the spool of a shared database.
#include "batchreport/batchreport.h"
#include "editions/edition.h"
#include "reportplots/htmlpage.h"
#include "results/batchstats.h"
#include "results/resultsdb.h"
#include "results/resultstore.h"
#include "tools/common/toolmain.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr int usageStatus = 2;
constexpr int dataStatus = 3;
// A JSON report is a few kilobytes; anything far larger is not one.
constexpr qint64 largestReport = 16 * 1024 * 1024;

const ToolMain tool("vantoscope-results", "results tool", usageStatus, dataStatus);

void print(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stdout);
}

// Columns padded to their widest cell; `right` lists the columns of numbers.
QString table(const QStringList &header, const QVector<QStringList> &rows,
              const QVector<int> &right = {})
{
    QVector<int> widths(header.size(), 0);
    auto measure = [&](const QStringList &row) {
        for (int k = 0; k < row.size() && k < widths.size(); ++k)
            widths[k] = std::max(widths[k], static_cast<int>(row[k].size()));
    };
    measure(header);
    for (const QStringList &row : rows)
        measure(row);
    QString out;
    auto line = [&](const QStringList &row) {
        QString text;
        for (int k = 0; k < row.size(); ++k)
            text += (k ? QStringLiteral("  ") : QString()) +
                    (right.contains(k) ? row[k].rightJustified(widths[k])
                                       : row[k].leftJustified(widths[k]));
        out += text.trimmed() + QLatin1Char('\n');
    };
    line(header);
    for (const QStringList &row : rows)
        line(row);
    return out;
}

QString timeText(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString orDash(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("-") : text;
}

QString failedKeys(const RunRecord &run)
{
    QStringList keys;
    for (const StoredMeasurement &m : run.measurements)
        if (m.verdict == QLatin1String("fail"))
            keys << m.key;
    return keys.join(QLatin1Char(','));
}

QDateTime parseSince(const QString &text)
{
    static const QRegularExpression daysAgo(QStringLiteral("^(\\d{1,5})d$"));
    const QRegularExpressionMatch days = daysAgo.match(text);
    if (days.hasMatch())
        return QDateTime::currentDateTimeUtc().addDays(-days.captured(1).toInt());
    const QDate date = QDate::fromString(text, Qt::ISODate);
    if (date.isValid())
        return date.startOfDay(Qt::UTC);
    QDateTime time = QDateTime::fromString(text, Qt::ISODate);
    if (time.isValid() && time.timeSpec() == Qt::LocalTime)
        time.setTimeSpec(Qt::UTC);
    if (!time.isValid())
        tool.usageError(QStringLiteral("--since takes YYYY-MM-DD, YYYY-MM-DDTHH:MM[:SS] (UTC) or "
                                       "Nd (N days ago), not '%1'")
                            .arg(text));
    return time.toUTC();
}

QString selectionText(const RunFilter &filter)
{
    QStringList parts;
    if (!filter.lot.isEmpty())
        parts << QStringLiteral("lot %1").arg(filter.lot);
    if (!filter.unit.isEmpty())
        parts << QStringLiteral("unit %1").arg(filter.unit);
    if (filter.since.isValid())
        parts << QStringLiteral("since %1 UTC").arg(timeText(filter.since));
    if (!filter.verdict.isEmpty())
        parts << QStringLiteral("verdict %1").arg(filter.verdict);
    return parts.isEmpty() ? QStringLiteral("all runs") : parts.join(QStringLiteral(", "));
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        tool.warn(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
        return false;
    }
    return true;
}

// A cell as a spreadsheet reads it: quoted when it holds a separator, a
// quote or a line break, and a text that a spreadsheet would take for a
// formula made plain text.
QString csvCell(QString text, bool number = false)
{
    if (!number && !text.isEmpty() && QStringLiteral("=+-@\t\r").contains(text[0]))
        text.prepend(QLatin1Char('\''));
    if (text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) ||
        text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'))) {
        text.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        text = QLatin1Char('"') + text + QLatin1Char('"');
    }
    return text;
}

QByteArray csv(const QVector<RunRecord> &runs)
{
    QStringList keys;
    QSet<QString> known;
    for (const RunRecord &run : runs)
        for (const QString &key : Batch::seriesKeys(run))
            if (!known.contains(key)) {
                known.insert(key);
                keys << key;
            }
    QStringList header{"run_id",     "start_utc", "unit",           "attempt",
                       "lot",        "station",   "operator",       "model",
                       "edition",    "source",    "sensor_version", "tool_version",
                       "duration_s", "filter",    "verdict",        "failed_checks"};
    const int fixed = static_cast<int>(header.size());
    for (const QString &key : keys)
        header << csvCell(key);
    QString out = header.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    for (const RunRecord &run : runs) {
        QStringList cells{csvCell(run.id),
                          run.start.toUTC().toString(Qt::ISODateWithMs),
                          csvCell(run.unit),
                          QString::number(run.attempt),
                          csvCell(run.lot),
                          csvCell(run.station),
                          csvCell(run.operatorName),
                          csvCell(run.model),
                          csvCell(run.edition),
                          csvCell(run.source),
                          csvCell(run.sensorVersion),
                          csvCell(run.toolVersion),
                          std::isfinite(run.durationS) ? QString::number(run.durationS) : QString(),
                          run.filtered ? QStringLiteral("on") : QStringLiteral("off"),
                          run.verdict,
                          csvCell(failedKeys(run))};
        for (int k = fixed; k < header.size(); ++k)
            cells << QString();
        const QVector<QString> series = Batch::seriesKeys(run);
        for (int m = 0; m < series.size(); ++m) {
            const StoredMeasurement &value = run.measurements[m];
            const int column = fixed + static_cast<int>(keys.indexOf(series[m]));
            cells[column] = !value.text.isNull()         ? csvCell(value.text)
                            : std::isfinite(value.value) ? QString::number(value.value, 'g', 12)
                                                         : QString();
        }
        out += cells.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return out.toUtf8();
}

void printList(const QVector<RunRecord> &runs)
{
    QVector<QStringList> rows;
    for (const RunRecord &r : runs)
        rows.append({timeText(r.start), orDash(r.unit), QString::number(r.attempt), orDash(r.lot),
                     r.model, orDash(r.station), orDash(r.operatorName), r.verdict.toUpper(),
                     orDash(failedKeys(r))});
    print(table({"Start (UTC)", "Unit", "Attempt", "Lot", "Model", "Station", "Operator", "Verdict",
                 "Failed checks"},
                rows, {2}));
    print(QStringLiteral("%1 run(s)\n").arg(runs.size()));
}

// A unit's runs attempt by attempt, with the checks whose verdict is not
// what it was the attempt before.
void printUnit(const QString &unit, QVector<RunRecord> runs)
{
    if (runs.isEmpty()) {
        print(QStringLiteral("No runs of unit %1.\n").arg(unit));
        return;
    }
    std::stable_sort(runs.begin(), runs.end(),
                     [](const RunRecord &a, const RunRecord &b) { return a.attempt < b.attempt; });
    QVector<QStringList> rows;
    QHash<QString, QString> before;
    for (const RunRecord &r : runs) {
        QStringList changed;
        QHash<QString, QString> now;
        const QVector<QString> keys = Batch::seriesKeys(r);
        for (int k = 0; k < keys.size(); ++k) {
            const QString verdict = r.measurements[k].verdict;
            now.insert(keys[k], verdict);
            const QString was = before.value(keys[k]);
            if (!before.isEmpty() && !was.isEmpty() && was != verdict)
                changed << QStringLiteral("%1 %2->%3").arg(keys[k], was, verdict);
        }
        before = now;
        rows.append({QString::number(r.attempt), timeText(r.start), orDash(r.lot),
                     orDash(r.station), orDash(r.operatorName), r.verdict.toUpper(),
                     orDash(changed.join(QStringLiteral(", ")))});
    }
    print(QStringLiteral("Unit %1: %2 run(s), first %3, last %4\n\n")
              .arg(unit)
              .arg(runs.size())
              .arg(runs.first().verdict.toUpper(), runs.last().verdict.toUpper()));
    print(table({"Attempt", "Start (UTC)", "Lot", "Station", "Operator", "Verdict",
                 "Changed since the attempt before"},
                rows, {0}));
}

void printSummary(const Batch::Summary &s, const RunFilter &filter)
{
    const Batch::Yield &y = s.yield;
    print(QStringLiteral("Selection: %1\n").arg(selectionText(filter)));
    print(QStringLiteral("Runs %1, units tested %2, retested %3\n")
              .arg(y.runs)
              .arg(y.units)
              .arg(y.retested));
    print(QStringLiteral("First-pass yield %1\n").arg(Batch::shareText(y.firstPass, y.units)));
    print(QStringLiteral("Final yield %1\n\n").arg(Batch::shareText(y.finalPass, y.units)));
    QVector<QStringList> rows;
    bool anyLow = false;
    auto index = [&](double value) {
        const bool low = Batch::Capability::low(value);
        anyLow = anyLow || low;
        return Batch::indexText(value) + (low ? QStringLiteral(" *") : QString());
    };
    for (const Batch::CheckSeries &c : s.checks) {
        CheckResult limits;
        limits.low = c.low;
        limits.high = c.high;
        const Batch::Capability &k = c.capability;
        rows.append({c.key, QString::number(k.n), numberText(k.mean), numberText(k.sigma),
                     numberText(k.min), numberText(k.max), limits.limitText(true), index(k.ppk),
                     index(k.cpk)});
    }
    print(table({"Check", "n", "Mean", "Sigma", "Min", "Max", "Limits", "Ppk", "Cpk"}, rows,
                {1, 2, 3, 4, 5, 7, 8}));
    if (anyLow)
        print(QStringLiteral("* below %1\n").arg(Batch::capableIndex));
    print(QStringLiteral("\nFailing checks (%1 failures)\n").arg(s.failures));
    if (s.pareto.isEmpty()) {
        print(QStringLiteral("none\n"));
        return;
    }
    QVector<QStringList> pareto;
    for (const Batch::ParetoEntry &e : s.pareto)
        pareto.append({e.key, QString::number(e.failures),
                       QStringLiteral("%1 %").arg(e.share * 100, 0, 'f', 1),
                       QStringLiteral("%1 %").arg(e.cumulative * 100, 0, 'f', 1)});
    print(table({"Check", "Failures", "Share", "Cumulative"}, pareto, {1, 2, 3}));
}

int importReports(const DatabaseTarget &target, const QStringList &files, const RunContext &tags)
{
    int status = 0;
    QVector<RunRecord> runs;
    for (const QString &path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            tool.warn(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
            status = dataStatus;
            continue;
        }
        if (file.size() > largestReport) {
            tool.warn(QStringLiteral("%1 is too large for a report").arg(path));
            status = dataStatus;
            continue;
        }
        QString error;
        std::optional<RunRecord> run = RunRecord::fromJson(file.readAll(), &error);
        if (!run) {
            tool.warn(QStringLiteral("%1: %2").arg(path, error));
            status = dataStatus;
            continue;
        }
        run->jsonPath = QFileInfo(path).absoluteFilePath();
        const QString html = QFileInfo(path).path() + QLatin1Char('/') +
                             QFileInfo(path).completeBaseName() + QStringLiteral(".html");
        if (QFileInfo::exists(html))
            run->htmlPath = QFileInfo(html).absoluteFilePath();
        if (!tags.lot.isEmpty())
            run->lot = tags.lot;
        if (!tags.operatorName.isEmpty())
            run->operatorName = tags.operatorName;
        run->station = tags.station.isEmpty() ? defaultStation() : tags.station;
        runs.append(*run);
    }
    // Attempts count in the order the units were tested.
    std::stable_sort(runs.begin(), runs.end(),
                     [](const RunRecord &a, const RunRecord &b) { return a.start < b.start; });
    int stored = 0, there = 0, spooled = 0;
    ResultsDatabase database(target);
    QString error;
    const bool open = database.open(&error);
    if (open && target.shared())
        syncSpool(database);
    for (RunRecord &run : runs) {
        bool inserted = false;
        if (open && database.store(run, &error, &inserted)) {
            ++(inserted ? stored : there);
            continue;
        }
        const StoreOutcome outcome = storeRun(target, run);
        stored += outcome.stored;
        spooled += outcome.spooled;
        if (!outcome.stored) {
            tool.warn(outcome.warning);
            if (!outcome.spooled)
                status = dataStatus;
        }
    }
    print(QStringLiteral("Imported %1 run(s) into %2").arg(stored).arg(target.display()));
    if (there)
        print(QStringLiteral(", %1 already there").arg(there));
    if (spooled)
        print(QStringLiteral(", %1 into the spool").arg(spooled));
    print(QStringLiteral("\n"));
    return status;
}

int sync(const DatabaseTarget &target)
{
    if (!target.shared()) {
        print(QStringLiteral("Nothing to upload: %1 is not a shared database.\n")
                  .arg(target.display()));
        return 0;
    }
    const SyncOutcome outcome = syncSpool(target);
    if (!outcome.reached)
        tool.fail(dataStatus, QStringLiteral("%1; the spool %2 keeps its runs")
                                  .arg(outcome.error, spoolFile(target)));
    print(QStringLiteral("Uploaded %1 run(s) to %2; %3 left in the spool\n")
              .arg(outcome.uploaded)
              .arg(target.display())
              .arg(outcome.left));
    if (!outcome.error.isEmpty())
        tool.fail(dataStatus, outcome.error);
    return 0;
}

bool wantsHtml(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--html", 6) == 0)
            return true;
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    std::vector<char *> originalArguments(argv, argv + argc);
    originalArguments.push_back(nullptr);
    const std::unique_ptr<QCoreApplication> app =
        Html::toolApplication(argc, argv, wantsHtml(argc, argv));
    QCoreApplication::setApplicationName(QLatin1String(tool.name()));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTOSCOPE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "What the results history holds: every run of vantoscope-check and of the window's "
        "station.\n\n"
        "Commands:\n"
        "  list                 one line per run\n"
        "  unit U               a unit's runs attempt by attempt, with the checks that changed "
        "verdict\n"
        "  summary              units tested, first-pass and final yield, per check n, mean, "
        "sigma, min, max, limits, Ppk and Cpk (* below 1.33), and the failing checks\n"
        "  import FILE.json...  stores JSON reports of vantoscope-check (once each; --lot, "
        "--operator and --station tag them)\n"
        "  sync                 uploads the runs waiting in the spool of a shared --db\n"
        "list, unit and summary take the filters; --csv and --html write their selection "
        "(without a command, they write it silently).\n\n"
        "Exit status: 0 done, 2 usage error, 3 the database or a file could not be read or "
        "written (for sync: the runs stay in the spool)."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("COMMAND"), QStringLiteral("See above."),
                                 QStringLiteral("[COMMAND [ARGUMENTS...]]"));
    parser.addOptions({
        {QStringLiteral("db"),
         QStringLiteral("The results database: FILE, sqlite:FILE or "
                        "postgresql://USER@HOST[:PORT]/DBNAME (default: %1).")
             .arg(DatabaseTarget::defaultFile()),
         QStringLiteral("DATABASE")},
        {QStringLiteral("edition"), QStringLiteral("full (default) or classic."),
         QStringLiteral("EDITION"), QStringLiteral("full")},
        {QStringLiteral("lot"), QStringLiteral("Runs of this lot only (import: tag them)."),
         QStringLiteral("LOT")},
        {QStringLiteral("unit"), QStringLiteral("Runs of this unit only."), QStringLiteral("ID")},
        {QStringLiteral("since"),
         QStringLiteral("Runs that started at or after DATE (UTC): YYYY-MM-DD, "
                        "YYYY-MM-DDTHH:MM[:SS] or Nd for N days ago."),
         QStringLiteral("DATE")},
        {QStringLiteral("verdict"), QStringLiteral("Runs that passed, or failed."),
         QStringLiteral("pass|fail")},
        {QStringLiteral("operator"), QStringLiteral("import: the operator of the runs."),
         QStringLiteral("NAME")},
        {QStringLiteral("station"),
         QStringLiteral("import: the station of the runs (default: this host's name)."),
         QStringLiteral("NAME")},
        {QStringLiteral("csv"),
         QStringLiteral("Write the selection as CSV: a row per run, a "
                        "column per check."),
         QStringLiteral("FILE")},
        {QStringLiteral("html"), QStringLiteral("Write the batch report of the selection."),
         QStringLiteral("FILE")},
    });
    if (!parser.parse(QCoreApplication::arguments()))
        tool.usageError(parser.errorText());
    tool.dispatchEdition(parser.value(QStringLiteral("edition")), originalArguments);
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("%s %s\n", tool.name(), VANTOSCOPE_VERSION);
        return 0;
    }

    QString error;
    const std::optional<DatabaseTarget> target =
        DatabaseTarget::parse(parser.value(QStringLiteral("db")), &error);
    if (!target)
        tool.usageError(QStringLiteral("--db: %1").arg(error));
    QStringList arguments = parser.positionalArguments();
    const QString command = arguments.isEmpty() ? QString() : arguments.takeFirst();
    const QString csvFile = parser.value(QStringLiteral("csv"));
    const QString htmlFile = parser.value(QStringLiteral("html"));
    const bool writes = !csvFile.isEmpty() || !htmlFile.isEmpty();

    if (command == QLatin1String("import")) {
        if (arguments.isEmpty())
            tool.usageError(QStringLiteral("import takes one or more JSON reports"));
        RunContext tags;
        tags.lot = parser.value(QStringLiteral("lot"));
        tags.operatorName = parser.value(QStringLiteral("operator"));
        tags.station = parser.value(QStringLiteral("station"));
        return importReports(*target, arguments, tags);
    }
    if (command == QLatin1String("sync")) {
        if (!arguments.isEmpty())
            tool.usageError(QStringLiteral("sync takes no arguments"));
        return sync(*target);
    }
    for (const char *option : {"operator", "station"})
        if (parser.isSet(QLatin1String(option)))
            tool.usageError(QStringLiteral("--%1 is for import").arg(QLatin1String(option)));

    RunFilter filter;
    filter.lot = parser.value(QStringLiteral("lot"));
    filter.unit = parser.value(QStringLiteral("unit"));
    if (parser.isSet(QStringLiteral("since")))
        filter.since = parseSince(parser.value(QStringLiteral("since")));
    filter.verdict = parser.value(QStringLiteral("verdict"));
    if (!filter.verdict.isEmpty() && filter.verdict != QLatin1String("pass") &&
        filter.verdict != QLatin1String("fail"))
        tool.usageError(
            QStringLiteral("--verdict takes pass or fail, not '%1'").arg(filter.verdict));
    if (command == QLatin1String("unit")) {
        if (arguments.size() != 1)
            tool.usageError(QStringLiteral("unit takes one unit id"));
        if (!filter.unit.isEmpty() && filter.unit != arguments[0])
            tool.usageError(QStringLiteral("unit %1 and --unit %2 contradict each other")
                                .arg(arguments[0], filter.unit));
        filter.unit = arguments[0];
    } else if (command == QLatin1String("list") || command == QLatin1String("summary") ||
               (command.isEmpty() && writes)) {
        if (!arguments.isEmpty())
            tool.usageError(QStringLiteral("%1 takes no arguments").arg(command));
    } else if (command.isEmpty()) {
        tool.usageError(QStringLiteral("give a command: list, unit, summary, import or sync"));
    } else {
        tool.usageError(QStringLiteral("unknown command '%1'").arg(command));
    }

    // The figures of a batch are read as numbers, without each run's
    // measurements in full: those are read for what lists them.
    const bool needsSummary = command == QLatin1String("summary") || !htmlFile.isEmpty();
    const bool needsRuns =
        command == QLatin1String("list") || command == QLatin1String("unit") || !csvFile.isEmpty();
    QVector<RunRecord> runs, batchRuns;
    Batch::Summary summary;
    {
        ResultsDatabase database(*target);
        if (!database.open(&error) || (needsRuns && !database.runs(filter, true, &runs, &error)) ||
            (needsSummary && !database.batch(filter, &batchRuns, &summary, &error)))
            tool.fail(dataStatus, error);
    }
    if (command == QLatin1String("list"))
        printList(runs);
    else if (command == QLatin1String("unit"))
        printUnit(filter.unit, runs);
    else if (command == QLatin1String("summary"))
        printSummary(summary, filter);
    std::fflush(stdout);

    int status = 0;
    if (!csvFile.isEmpty() && !writeFile(csvFile, csv(runs)))
        status = dataStatus;
    if (!htmlFile.isEmpty() &&
        !writeFile(htmlFile,
                   batchReport(batchRuns, summary, {target->display(), selectionText(filter)})))
        status = dataStatus;
    return status;
}
