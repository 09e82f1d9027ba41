// The batch figures against values worked out by hand: Ppk and Cpk with two
// limits, one limit and σ = 0, the four Western Electric rules, first-pass
// and final yield, and the Pareto of failing checks.
#include "results/batchstats.h"

#include <QtTest>
#include <cmath>
#include <limits>

namespace {

const double none = std::nan("");
const double inf = std::numeric_limits<double>::infinity();

std::optional<double> limit(double value)
{
    return std::isnan(value) ? std::nullopt : std::optional<double>(value);
}

bool same(double actual, double expected)
{
    if (std::isnan(expected))
        return std::isnan(actual);
    if (std::isinf(expected))
        return actual == expected;
    return std::fabs(actual - expected) < 1e-5;
}

StoredMeasurement measured(const QString &key, double value, const QString &verdict)
{
    StoredMeasurement m;
    m.key = key;
    m.name = key.toUpper();
    m.value = value;
    m.verdict = verdict;
    return m;
}

RunRecord run(const QString &unit, int attempt, bool passed, int minute,
              QVector<StoredMeasurement> measurements = {})
{
    RunRecord r;
    r.unit = unit;
    r.attempt = attempt;
    r.verdict = passed ? QStringLiteral("pass") : QStringLiteral("fail");
    r.start = QDateTime(QDate(2025, 3, 1), QTime(8, minute), Qt::UTC);
    r.measurements = measurements;
    return r;
}

} // namespace

class TestBatchStats : public QObject
{
    Q_OBJECT
private slots:
    void capabilityByHand_data();
    void capabilityByHand();
    void westernElectricRules_data();
    void westernElectricRules();
    void yieldCountsUnitsByAttempt();
    void paretoAndSeries();
};

void TestBatchStats::capabilityByHand_data()
{
    QTest::addColumn<QVector<double>>("values");
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::addColumn<double>("mean");
    QTest::addColumn<double>("sigma");
    QTest::addColumn<double>("ppk");
    QTest::addColumn<double>("cpk");
    // σ = √(2/4); Ppk = 2 / (3σ); moving ranges 1, 1, 1, 0: σ within = 0.75 / 1.128.
    QTest::newRow("two limits, nearer the low one")
        << QVector<double>{9, 10, 11, 10, 10} << 8.0 << 13.0 << 10.0 << 0.707107 << 0.942809
        << 1.002667;
    // σ = √(8/3); moving ranges all 2: Cpk = 6 / (3 · 2 / 1.128) = 1.128.
    QTest::newRow("upper limit only")
        << QVector<double>{2, 4, 6, 4} << none << 10.0 << 4.0 << 1.632993 << 1.224745 << 1.128;
    QTest::newRow("lower limit only")
        << QVector<double>{5, 7} << 3.0 << none << 6.0 << 1.414214 << 0.707107 << 0.564;
    QTest::newRow("sigma 0 inside the limits")
        << QVector<double>{5, 5, 5} << 0.0 << 10.0 << 5.0 << 0.0 << inf << inf;
    QTest::newRow("sigma 0 beyond the limit")
        << QVector<double>{12, 12} << none << 10.0 << 12.0 << 0.0 << -inf << -inf;
    QTest::newRow("sigma 0 right on the limit")
        << QVector<double>{0, 0, 0} << none << 0.0 << 0.0 << 0.0 << none << none;
    QTest::newRow("equal values with a rounding error")
        << QVector<double>{2.71, 2.71, 2.71} << none << 20.0 << 2.71 << 0.0 << inf << inf;
    QTest::newRow("no limits") << QVector<double>{1, 2} << none << none << 1.5 << 0.707107 << none
                               << none;
    QTest::newRow("one value") << QVector<double>{4} << 0.0 << 10.0 << 4.0 << none << none << none;
}

void TestBatchStats::capabilityByHand()
{
    QFETCH(QVector<double>, values);
    QFETCH(double, low);
    QFETCH(double, high);
    QFETCH(double, mean);
    QFETCH(double, sigma);
    QFETCH(double, ppk);
    QFETCH(double, cpk);
    const Batch::Capability c = Batch::capability(values, limit(low), limit(high));
    QCOMPARE(c.n, values.size());
    QVERIFY2(same(c.mean, mean), qPrintable(QString::number(c.mean)));
    QVERIFY2(same(c.sigma, sigma), qPrintable(QString::number(c.sigma)));
    QVERIFY2(same(c.ppk, ppk), qPrintable(QString::number(c.ppk)));
    QVERIFY2(same(c.cpk, cpk), qPrintable(QString::number(c.cpk)));
    QCOMPARE(Batch::Capability::low(c.ppk), !std::isnan(ppk) && ppk < 1.33);
}

void TestBatchStats::westernElectricRules_data()
{
    QTest::addColumn<QVector<double>>("z"); // in σ from the centre
    QTest::addColumn<double>("sigma");
    QTest::addColumn<QVector<int>>("flags");
    QTest::newRow("in control") << QVector<double>{0.5, -0.5, 1.5, -1.5, 0.2, -0.2, 2.5, -2.5, 0.1}
                                << 1.0 << QVector<int>(9, 0);
    QTest::newRow("1: beyond 3 sigma")
        << QVector<double>{0, 3.5, 0, -3.1} << 1.0 << QVector<int>{0, 1, 0, 1};
    QTest::newRow("2: two of three beyond 2 sigma")
        << QVector<double>{2.5, 0, 2.2} << 1.0 << QVector<int>{0, 0, 2};
    QTest::newRow("2: not when on opposite sides")
        << QVector<double>{2.5, 0, -2.2} << 1.0 << QVector<int>{0, 0, 0};
    QTest::newRow("3: four of five beyond 1 sigma")
        << QVector<double>{1.5, 1.2, 0.5, 1.1, 1.3} << 1.0 << QVector<int>{0, 0, 0, 0, 4};
    QTest::newRow("4: eight on one side")
        << QVector<double>(9, 0.5) << 1.0 << QVector<int>{0, 0, 0, 0, 0, 0, 0, 8, 8};
    QTest::newRow("1 and 2 at once")
        << QVector<double>{0, 2.5, 3.5} << 1.0 << QVector<int>{0, 0, 3};
    QTest::newRow("sigma 0 flags nothing") << QVector<double>(9, 2.0) << 0.0 << QVector<int>(9, 0);
}

void TestBatchStats::westernElectricRules()
{
    QFETCH(QVector<double>, z);
    QFETCH(double, sigma);
    QFETCH(QVector<int>, flags);
    // The same pattern around a centre of 100 with σ 4.
    QVector<double> values;
    for (double v : z)
        values.append(100 + v * 4);
    QCOMPARE(Batch::westernElectric(values, 100, sigma * 4), flags);
}

void TestBatchStats::yieldCountsUnitsByAttempt()
{
    // A's retest started earlier by a station's clock: attempts decide.
    const QVector<RunRecord> runs = {
        run("A", 2, true, 1),  run("A", 1, false, 5),      run("B", 1, true, 2),
        run("C", 1, false, 3), run(QString(), 1, true, 4), run(QString(), 1, false, 6),
    };
    const Batch::Yield y = Batch::yieldOf(runs);
    QCOMPARE(y.runs, 6);
    QCOMPARE(y.units, 5);     // A, B, C and two runs without a unit
    QCOMPARE(y.firstPass, 2); // B and the passing anonymous run
    QCOMPARE(y.finalPass, 3); // and A on its retest
    QCOMPARE(y.retested, 1);
    QCOMPARE(Batch::shareText(y.firstPass, y.units), QStringLiteral("2 of 5 (40.0 %)"));
}

void TestBatchStats::paretoAndSeries()
{
    StoredMeasurement version = measured("information_reply", none, "pass");
    version.text = QStringLiteral("v1.2");
    const QVector<RunRecord> runs = {
        run("A", 1, false, 1,
            {measured("noise", 20, "fail"), measured("speed", 8, "fail"), version,
             measured("bias", 1, "pass"), measured("bias", 3, "pass")}),
        run("B", 1, false, 2,
            {measured("noise", 18, "fail"), measured("speed", 10, "pass"),
             measured("drift", none, "skipped")}),
        run("C", 1, false, 3,
            {measured("noise", 16, "fail"), measured("gap", 30, "fail"),
             measured("bias", 2, "pass")}),
    };
    const Batch::Summary s = Batch::summarise(runs);
    QCOMPARE(s.failures, 5);
    QCOMPARE(s.pareto.size(), 3);
    QCOMPARE(s.pareto[0].key, QStringLiteral("noise"));
    QCOMPARE(s.pareto[0].failures, 3);
    QCOMPARE(s.pareto[0].name, QStringLiteral("NOISE"));
    QCOMPARE(s.pareto[1].key, QStringLiteral("speed")); // ties keep the order they came in
    QCOMPARE(s.pareto[2].key, QStringLiteral("gap"));
    QVERIFY(same(s.pareto[1].cumulative, 0.8));
    QVERIFY(same(s.pareto[2].cumulative, 1.0));

    // Text and skipped checks have no values; a second occurrence of a key
    // (a second reference) is a series of its own.
    QStringList keys;
    for (const Batch::CheckSeries &c : s.checks)
        keys << c.key;
    QCOMPARE(keys, QStringList({"noise", "speed", "bias", "bias#2", "gap"}));
    QCOMPARE(s.checks[2].values, QVector<double>({1, 2}));
    QCOMPARE(s.checks[2].runs, QVector<int>({0, 2}));
    QCOMPARE(s.checks[3].values, QVector<double>({3}));
    QCOMPARE(s.checks[0].failures, 3);
}

QTEST_GUILESS_MAIN(TestBatchStats)
#include "tst_batchstats.moc"
