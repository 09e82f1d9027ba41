#include "resultsdb.h"

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>
#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

// Each entry takes the schema one version forward, in the same SQL for
// both engines. Never edit one that has shipped: add the next.
const QVector<QStringList> &migrations()
{
    static const QVector<QStringList> steps = {
        // 1: units, runs and their measurements.
        {
            QStringLiteral("CREATE TABLE units (id TEXT PRIMARY KEY, first_seen TEXT NOT NULL)"),
            QStringLiteral(
                "CREATE TABLE runs (id TEXT PRIMARY KEY, unit TEXT REFERENCES units(id), "
                "attempt INTEGER NOT NULL, lot TEXT NOT NULL, station TEXT NOT NULL, "
                "operator_name TEXT NOT NULL, model TEXT NOT NULL, edition TEXT NOT NULL, "
                "source TEXT NOT NULL, sensor_version TEXT NOT NULL, tool_version TEXT NOT NULL, "
                "started_at TEXT NOT NULL, duration_s DOUBLE PRECISION, filtered INTEGER NOT NULL, "
                "verdict TEXT NOT NULL, json_path TEXT NOT NULL, html_path TEXT NOT NULL, "
                "junit_path TEXT NOT NULL, capture_path TEXT NOT NULL, stored_at TEXT NOT NULL)"),
            QStringLiteral("CREATE INDEX runs_unit ON runs (unit, attempt)"),
            QStringLiteral("CREATE INDEX runs_started ON runs (started_at)"),
            QStringLiteral(
                "CREATE TABLE measurements (run_id TEXT NOT NULL REFERENCES runs(id) ON DELETE "
                "CASCADE, seq INTEGER NOT NULL, check_key TEXT NOT NULL, name TEXT NOT NULL, "
                "value DOUBLE PRECISION, unit TEXT NOT NULL, low DOUBLE PRECISION, "
                "high DOUBLE PRECISION, verdict TEXT NOT NULL, PRIMARY KEY (run_id, seq))"),
            QStringLiteral("CREATE INDEX measurements_key ON measurements (check_key, verdict)"),
        },
        // 2: the text of a text check (the version reply), and the lot's
        // runs found by an index.
        {
            QStringLiteral("ALTER TABLE measurements ADD COLUMN text_value TEXT"),
            QStringLiteral("CREATE INDEX runs_lot ON runs (lot, started_at)"),
        },
    };
    return steps;
}

QString timeText(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

QDateTime parseTime(const QString &text)
{
    QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    return time.toUTC();
}

QVariant number(double value)
{
    return std::isfinite(value) ? QVariant(value) : QVariant();
}

QVariant limit(const std::optional<double> &value)
{
    return value ? number(*value) : QVariant();
}

QVariant text(const QString &value)
{
    return value.isNull() ? QVariant() : QVariant(value);
}

// The NOT NULL text columns take an empty text for a null QString.
QVariant nonNull(const QString &value)
{
    return value.isNull() ? QVariant(QStringLiteral("")) : QVariant(value);
}

QString sqlError(const QSqlError &error)
{
    QString text = error.text().simplified();
    return text.isEmpty() ? QStringLiteral("unknown database error") : text;
}

QString nextConnectionName()
{
    static QAtomicInt counter;
    return QStringLiteral("vantoscope-results-%1").arg(counter.fetchAndAddRelaxed(1));
}

// Measurements go in a few rows per statement: one round trip per chunk.
constexpr int measurementColumns = 10;
constexpr int rowsPerInsert = 50;

const char runColumns[] = "id, unit, attempt, lot, station, operator_name, model, edition, source, "
                          "sensor_version, tool_version, started_at, duration_s, filtered, "
                          "verdict, json_path, html_path, junit_path, capture_path";

} // namespace

ResultsDatabase::ResultsDatabase(const DatabaseTarget &target)
    : dest(target), connection(nextConnectionName())
{
}

ResultsDatabase::~ResultsDatabase()
{
    if (db.isValid())
        db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(connection);
}

int ResultsDatabase::currentSchemaVersion()
{
    return static_cast<int>(migrations().size());
}

bool ResultsDatabase::open(QString *error)
{
    const QString driver = sqlite() ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL");
    db = QSqlDatabase::addDatabase(driver, connection);
    if (!db.isValid()) {
        *error = QStringLiteral("Qt's %1 driver is not installed (the %2 package)")
                     .arg(sqlite() ? QStringLiteral("SQLite") : QStringLiteral("PostgreSQL"),
                          sqlite() ? QStringLiteral("libqt%1sql%1-sqlite").arg(QT_VERSION_MAJOR)
                                   : QStringLiteral("libqt%1sql%1-psql").arg(QT_VERSION_MAJOR));
        return false;
    }
    if (sqlite()) {
        if (!QDir().mkpath(QFileInfo(dest.file).absolutePath())) {
            *error = QStringLiteral("cannot make the folder of %1").arg(dest.file);
            return false;
        }
        db.setDatabaseName(dest.file);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000"));
    } else {
        db.setHostName(dest.host);
        if (dest.port >= 0)
            db.setPort(dest.port);
        db.setUserName(dest.user);
        db.setPassword(dest.password);
        db.setDatabaseName(dest.database);
        // An unreachable server costs a station a few seconds, not a hang.
        db.setConnectOptions(QStringLiteral("connect_timeout=3"));
    }
    if (!db.open()) {
        *error = QStringLiteral("cannot open %1: %2").arg(dest.display(), sqlError(db.lastError()));
        return false;
    }
    // The server's notices ("already exists, skipping") would reach the
    // tools' standard error.
    if (!sqlite() && !exec(QStringLiteral("SET client_min_messages TO WARNING"), error))
        return false;
    if (sqlite() && (!exec(QStringLiteral("PRAGMA journal_mode=WAL"), error) ||
                     !exec(QStringLiteral("PRAGMA synchronous=NORMAL"), error) ||
                     !exec(QStringLiteral("PRAGMA foreign_keys=ON"), error)))
        return false;
    if (!migrate(error)) {
        *error = QStringLiteral("%1: %2").arg(dest.display(), *error);
        return false;
    }
    return true;
}

bool ResultsDatabase::exec(const QString &statement, QString *error)
{
    QSqlQuery query(db);
    if (!query.exec(statement)) {
        *error = sqlError(query.lastError());
        return false;
    }
    return true;
}

// SQLite takes the write lock at the start (so that two writers wait for
// each other instead of failing to upgrade); PostgreSQL's rows lock as
// they are written.
bool ResultsDatabase::begin(QString *error)
{
    return exec(sqlite() ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"), error);
}

bool ResultsDatabase::finish(bool ok, QString *error)
{
    if (ok)
        return exec(QStringLiteral("COMMIT"), error);
    QString ignored;
    exec(QStringLiteral("ROLLBACK"), &ignored);
    return false;
}

bool ResultsDatabase::migrate(QString *error)
{
    if (!begin(error))
        return false;
    // Stations starting at once migrate one after the other.
    if (!sqlite() && !exec(QStringLiteral("SELECT pg_advisory_xact_lock(7262028)"), error))
        return finish(false, error);
    if (!exec(QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT "
                             "NULL)"),
              error))
        return finish(false, error);
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT MAX(version) FROM schema_version"))) {
        *error = sqlError(query.lastError());
        return finish(false, error);
    }
    version = query.next() ? query.value(0).toInt() : 0;
    query.finish();
    if (version > currentSchemaVersion()) {
        *error = QStringLiteral("the database has schema version %1, newer than this program's %2")
                     .arg(version)
                     .arg(currentSchemaVersion());
        return finish(false, error);
    }
    for (int step = version; step < currentSchemaVersion(); ++step)
        for (const QString &statement : migrations()[step])
            if (!exec(statement, error))
                return finish(false, error);
    if (version < currentSchemaVersion()) {
        QSqlQuery record(db);
        record.prepare(QStringLiteral("INSERT INTO schema_version (version) VALUES (?)"));
        record.addBindValue(currentSchemaVersion());
        if (!record.exec()) {
            *error = sqlError(record.lastError());
            return finish(false, error);
        }
    }
    if (!finish(true, error))
        return false;
    version = currentSchemaVersion();
    return true;
}

bool ResultsDatabase::store(RunRecord &run, QString *error, bool *inserted, bool countAttempt)
{
    if (inserted)
        *inserted = false;
    if (!begin(error))
        return false;
    auto fail = [&](const QSqlQuery &query) {
        *error = sqlError(query.lastError());
        return finish(false, error);
    };
    const QString now = timeText(QDateTime::currentDateTimeUtc());
    QSqlQuery query(db);
    if (!run.unit.isEmpty()) {
        query.prepare(QStringLiteral(
            "INSERT INTO units (id, first_seen) VALUES (?, ?) ON CONFLICT (id) DO NOTHING"));
        query.addBindValue(run.unit);
        query.addBindValue(timeText(run.start));
        if (!query.exec())
            return fail(query);
    }
    if (run.attempt <= 0 && countAttempt) {
        run.attempt = 1;
        if (!run.unit.isEmpty()) {
            // Two stations storing the same unit at once count in turn.
            if (!sqlite()) {
                query.prepare(QStringLiteral("SELECT pg_advisory_xact_lock(hashtext(?))"));
                query.addBindValue(run.unit);
                if (!query.exec())
                    return fail(query);
            }
            query.prepare(QStringLiteral("SELECT COUNT(*) FROM runs WHERE unit = ? AND id <> ?"));
            query.addBindValue(run.unit);
            query.addBindValue(run.id);
            if (!query.exec() || !query.next())
                return fail(query);
            run.attempt = query.value(0).toInt() + 1;
        }
    }
    query.prepare(QStringLiteral("INSERT INTO runs (%1, stored_at) VALUES (?, ?, ?, ?, ?, ?, ?, "
                                 "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (id) DO "
                                 "NOTHING")
                      .arg(QLatin1String(runColumns)));
    const QVariantList values = {run.id,
                                 run.unit.isEmpty() ? QVariant() : QVariant(run.unit),
                                 run.attempt,
                                 nonNull(run.lot),
                                 nonNull(run.station),
                                 nonNull(run.operatorName),
                                 nonNull(run.model),
                                 nonNull(run.edition),
                                 nonNull(run.source),
                                 nonNull(run.sensorVersion),
                                 nonNull(run.toolVersion),
                                 timeText(run.start),
                                 number(run.durationS),
                                 run.filtered ? 1 : 0,
                                 nonNull(run.verdict),
                                 nonNull(run.jsonPath),
                                 nonNull(run.htmlPath),
                                 nonNull(run.junitPath),
                                 nonNull(run.capturePath),
                                 now};
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec())
        return fail(query);
    const bool added = query.numRowsAffected() > 0;
    if (added && !insertMeasurements(run, error))
        return finish(false, error);
    if (!finish(true, error))
        return false;
    if (inserted)
        *inserted = added;
    return true;
}

bool ResultsDatabase::insertMeasurements(const RunRecord &run, QString *error)
{
    const int total = static_cast<int>(run.measurements.size());
    for (int first = 0; first < total; first += rowsPerInsert) {
        const int rows = std::min(rowsPerInsert, total - first);
        QStringList tuples;
        for (int r = 0; r < rows; ++r)
            tuples << QStringLiteral("(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        QSqlQuery query(db);
        query.prepare(QStringLiteral("INSERT INTO measurements (run_id, seq, check_key, name, "
                                     "value, text_value, unit, low, high, verdict) VALUES ") +
                      tuples.join(QStringLiteral(", ")));
        for (int r = 0; r < rows; ++r) {
            const StoredMeasurement &m = run.measurements[first + r];
            query.addBindValue(run.id);
            query.addBindValue(first + r);
            query.addBindValue(nonNull(m.key));
            query.addBindValue(nonNull(m.name));
            query.addBindValue(m.text.isNull() ? number(m.value) : QVariant());
            query.addBindValue(text(m.text));
            query.addBindValue(nonNull(m.unit));
            query.addBindValue(limit(m.low));
            query.addBindValue(limit(m.high));
            query.addBindValue(nonNull(m.verdict));
        }
        static_assert(measurementColumns == 10, "one placeholder per column");
        if (!query.exec()) {
            *error = sqlError(query.lastError());
            return false;
        }
    }
    return true;
}

QString ResultsDatabase::whereClause(const RunFilter &filter, const QString &prefix,
                                     QVariantList *values) const
{
    QStringList conditions;
    auto add = [&](const QString &condition, const QVariant &value) {
        conditions << prefix + condition;
        values->append(value);
    };
    if (!filter.lot.isEmpty())
        add(QStringLiteral("lot = ?"), filter.lot);
    if (!filter.unit.isEmpty())
        add(QStringLiteral("unit = ?"), filter.unit);
    if (filter.since.isValid())
        add(QStringLiteral("started_at >= ?"), timeText(filter.since));
    if (!filter.verdict.isEmpty())
        add(QStringLiteral("verdict = ?"), filter.verdict);
    return conditions.isEmpty()
               ? QString()
               : QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
}

bool ResultsDatabase::runs(const RunFilter &filter, bool withMeasurements, QVector<RunRecord> *out,
                           QString *error)
{
    out->clear();
    QVariantList values;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT %1 FROM runs").arg(QLatin1String(runColumns)) +
                  whereClause(filter, QString(), &values) +
                  QStringLiteral(" ORDER BY started_at, id"));
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec()) {
        *error = sqlError(query.lastError());
        return false;
    }
    QHash<QString, int> index;
    while (query.next()) {
        RunRecord run;
        int c = 0;
        run.id = query.value(c++).toString();
        run.unit = query.value(c++).toString();
        run.attempt = query.value(c++).toInt();
        run.lot = query.value(c++).toString();
        run.station = query.value(c++).toString();
        run.operatorName = query.value(c++).toString();
        run.model = query.value(c++).toString();
        run.edition = query.value(c++).toString();
        run.source = query.value(c++).toString();
        run.sensorVersion = query.value(c++).toString();
        run.toolVersion = query.value(c++).toString();
        run.start = parseTime(query.value(c++).toString());
        run.durationS = query.isNull(c) ? std::nan("") : query.value(c).toDouble();
        ++c;
        run.filtered = query.value(c++).toInt() != 0;
        run.verdict = query.value(c++).toString();
        run.jsonPath = query.value(c++).toString();
        run.htmlPath = query.value(c++).toString();
        run.junitPath = query.value(c++).toString();
        run.capturePath = query.value(c++).toString();
        index.insert(run.id, static_cast<int>(out->size()));
        out->append(run);
    }
    if (!withMeasurements || out->isEmpty())
        return true;

    values.clear();
    QSqlQuery checks(db);
    checks.setForwardOnly(true);
    // Without a filter, every measurement; either way in the order the
    // table holds them, put in order by run afterwards.
    const QString selected = whereClause(filter, QString(), &values);
    checks.prepare(QStringLiteral("SELECT run_id, seq, check_key, name, value, text_value, unit, "
                                  "low, high, verdict FROM measurements") +
                   (selected.isEmpty() ? QString()
                                       : QStringLiteral(" WHERE run_id IN (SELECT id FROM runs") +
                                             selected + QLatin1Char(')')));
    for (const QVariant &value : values)
        checks.addBindValue(value);
    if (!checks.exec()) {
        *error = sqlError(checks.lastError());
        return false;
    }
    auto optional = [&](int column) {
        return checks.isNull(column) ? std::nullopt
                                     : std::optional<double>(checks.value(column).toDouble());
    };
    QString lastId;
    RunRecord *run = nullptr;
    QHash<QString, QVector<int>> order; // the seq of each run's measurements, as they came
    QVector<int> *seqs = nullptr;
    while (checks.next()) {
        const QString id = checks.value(0).toString();
        if (id != lastId) {
            lastId = id;
            const auto at = index.constFind(id);
            run = at == index.constEnd() ? nullptr : &(*out)[*at];
            seqs = run ? &order[id] : nullptr;
        }
        if (!run)
            continue;
        StoredMeasurement m;
        m.key = checks.value(2).toString();
        m.name = checks.value(3).toString();
        m.value = checks.isNull(4) ? std::nan("") : checks.value(4).toDouble();
        if (!checks.isNull(5))
            m.text = checks.value(5).toString();
        m.unit = checks.value(6).toString();
        m.low = optional(7);
        m.high = optional(8);
        m.verdict = checks.value(9).toString();
        run->measurements.append(m);
        seqs->append(checks.value(1).toInt());
    }
    for (auto at = order.begin(); at != order.end(); ++at) {
        const QVector<int> &seq = at.value();
        if (std::is_sorted(seq.begin(), seq.end()))
            continue;
        RunRecord &r = (*out)[index.value(at.key())];
        QVector<int> by(seq.size());
        std::iota(by.begin(), by.end(), 0);
        std::sort(by.begin(), by.end(), [&](int a, int b) { return seq[a] < seq[b]; });
        QVector<StoredMeasurement> sorted;
        for (int k : by)
            sorted.append(r.measurements[k]);
        r.measurements = sorted;
    }
    return true;
}

bool ResultsDatabase::batch(const RunFilter &filter, QVector<RunRecord> *runs,
                            Batch::Summary *summary, QString *error)
{
    runs->clear();
    // SQLite hands rows over as they are stepped to; Qt's PostgreSQL driver
    // costs far less per row reading a whole result than row by row.
    const bool forwardOnly = sqlite();
    QVariantList values;
    const QString selected = whereClause(filter, QString(), &values);
    auto select = [&](QSqlQuery &query, const QString &statement) {
        query.setForwardOnly(forwardOnly);
        query.prepare(statement);
        for (const QVariant &value : values)
            query.addBindValue(value);
        if (query.exec())
            return true;
        *error = sqlError(query.lastError());
        return false;
    };
    QSqlQuery query(db);
    if (!select(query, QStringLiteral("SELECT id, unit, attempt, lot, station, model, started_at, "
                                      "verdict FROM runs") +
                           selected + QStringLiteral(" ORDER BY started_at, id")))
        return false;
    QHash<QString, int> index;
    while (query.next()) {
        RunRecord r;
        r.id = query.value(0).toString();
        r.unit = query.value(1).toString();
        r.attempt = query.value(2).toInt();
        r.lot = query.value(3).toString();
        r.station = query.value(4).toString();
        r.model = query.value(5).toString();
        r.start = parseTime(query.value(6).toString());
        r.verdict = query.value(7).toString();
        index.insert(r.id, static_cast<int>(runs->size()));
        runs->append(r);
    }
    query.finish();

    // The measurements as the table holds them, put in run order here: the
    // texts of a row are its run's id and its key, each looked up once.
    QSqlQuery checks(db);
    const QString verdictCode = QStringLiteral("CASE verdict WHEN 'fail' THEN %1 WHEN 'skipped' "
                                               "THEN %2 ELSE %3 END")
                                    .arg(Batch::Measured::Failed)
                                    .arg(Batch::Measured::Skipped)
                                    .arg(Batch::Measured::Other);
    if (!select(checks,
                QStringLiteral("SELECT run_id, seq, check_key, CASE WHEN text_value IS "
                               "NULL THEN value END, ") +
                    verdictCode + QStringLiteral(" FROM measurements") +
                    (selected.isEmpty() ? QString()
                                        : QStringLiteral(" WHERE run_id IN (SELECT id FROM runs") +
                                              selected + QLatin1Char(')'))))
        return false;
    Batch::MeasuredBatch measured;
    std::vector<Batch::Measured> stored;
    QHash<QString, int> keys;
    QString lastId;
    int runIndex = -1;
    while (checks.next()) {
        const QString id = checks.value(0).toString();
        if (id != lastId) {
            lastId = id;
            runIndex = index.value(id, -1);
        }
        if (runIndex < 0) // stored after the runs were read
            continue;
        const QString key = checks.value(2).toString();
        auto at = keys.constFind(key);
        if (at == keys.constEnd()) {
            at = keys.insert(key, static_cast<int>(measured.keys.size()));
            measured.keys.append(key);
        }
        const QVariant value = checks.value(3);
        stored.push_back({runIndex, checks.value(1).toInt(), *at,
                          value.isNull() ? std::nan("") : value.toDouble(),
                          static_cast<Batch::Measured::Verdict>(checks.value(4).toInt())});
    }
    checks.finish();
    QVector<int> first(runs->size() + 1, 0);
    for (const Batch::Measured &m : stored)
        ++first[m.run + 1];
    std::partial_sum(first.begin(), first.end(), first.begin());
    measured.rows.resize(stored.size());
    QVector<int> next = first;
    for (const Batch::Measured &m : stored)
        measured.rows[next[m.run]++] = m;
    const auto byPosition = [](const Batch::Measured &a, const Batch::Measured &b) {
        return a.position < b.position;
    };
    for (int r = 0; r < runs->size(); ++r) {
        const auto from = measured.rows.begin() + first[r],
                   to = measured.rows.begin() + first[r + 1];
        if (!std::is_sorted(from, to, byPosition))
            std::sort(from, to, byPosition);
    }

    QSqlQuery labels(db);
    labels.prepare(QStringLiteral(
        "SELECT name, unit, low, high FROM measurements WHERE run_id = ? AND seq = ?"));
    bool labelled = true;
    auto limitAt = [&](int column) {
        const QVariant v = labels.value(column);
        return v.isNull() ? std::nullopt : std::optional<double>(v.toDouble());
    };
    *summary = Batch::summarise(*runs, measured, [&](const std::vector<Batch::Measured> &wanted) {
        QVector<Batch::MeasuredLabel> out;
        for (const Batch::Measured &m : wanted) {
            labels.bindValue(0, (*runs)[m.run].id);
            labels.bindValue(1, m.position);
            if (!labels.exec() || !labels.next()) {
                *error = labels.lastError().isValid()
                             ? sqlError(labels.lastError())
                             : QStringLiteral("a measurement went while it was read");
                labelled = false;
                break;
            }
            out.append(
                {labels.value(0).toString(), labels.value(1).toString(), limitAt(2), limitAt(3)});
            labels.finish();
        }
        return out;
    });
    return labelled;
}

bool ResultsDatabase::remove(const QString &runId, QString *error)
{
    if (!begin(error))
        return false;
    for (const char *statement :
         {"DELETE FROM measurements WHERE run_id = ?", "DELETE FROM runs WHERE id = ?"}) {
        QSqlQuery query(db);
        query.prepare(QLatin1String(statement));
        query.addBindValue(runId);
        if (!query.exec()) {
            *error = sqlError(query.lastError());
            return finish(false, error);
        }
    }
    return finish(true, error);
}
