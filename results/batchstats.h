#ifndef VANTOSCOPE_RESULTS_BATCHSTATS_H
#define VANTOSCOPE_RESULTS_BATCHSTATS_H

#include "runrecord.h"

#include <QString>
#include <QVector>
#include <cmath>
#include <functional>
#include <optional>
#include <vector>

// What a supervisor reads from a batch of runs: yield, each check's
// capability against its limits, its individuals chart with the Western
// Electric rules, and which checks fail most.
namespace Batch {

// Below this a capability index is flagged.
constexpr double capableIndex = 1.33;
// d2 for moving ranges of two: σ within = average moving range / d2.
constexpr double d2 = 1.128;

struct Capability
{
    int n = 0;
    double mean = 0, sigma = 0, min = 0, max = 0; // sigma: overall, n - 1
    double sigmaWithin = 0;                       // average moving range / d2
    // NaN without a limit or with fewer than two values; with σ 0,
    // +infinity inside the limits, -infinity outside and NaN right on one.
    double ppk = 0, cpk = 0;

    static bool low(double index) { return index < capableIndex; } // NaN is not flagged
};

// `values` in run order. With one limit, its side alone gives the index.
Capability capability(const QVector<double> &values, std::optional<double> low,
                      std::optional<double> high);

// The Western Electric rules on an individuals chart, as bits of a point's
// flags. A point is flagged by the rule whose pattern it completes:
enum Rule
{
    BeyondThree = 1,      // 1: this point beyond 3σ
    TwoOfThreeBeyond = 2, // 2: it and one of the two before beyond 2σ on its side
    FourOfFiveBeyond = 4, // 3: it and three of the four before beyond 1σ on its side
    EightOnOneSide = 8,   // 4: it and the seven before on one side of the centre
};
QVector<int> westernElectric(const QVector<double> &values, double centre, double sigma);

struct Yield
{
    int runs = 0;
    int units = 0;     // a run without a unit counts as a unit tested once
    int firstPass = 0; // units whose first run passed
    int finalPass = 0; // units whose last run passed
    int retested = 0;  // units with more than one run
    double firstPassYield() const { return units ? double(firstPass) / units : std::nan(""); }
    double finalYield() const { return units ? double(finalPass) / units : std::nan(""); }
};
// `runs` in start order; a unit's first and last runs are its lowest and
// highest attempts among them.
Yield yieldOf(const QVector<RunRecord> &runs);

// One check across the batch. A key that appears more than once in a run
// (one per reference target) is a series per occurrence: "reference_bias",
// "reference_bias#2".
struct CheckSeries
{
    QString key;
    QString name; // of the latest run
    QString unit;
    std::optional<double> low, high; // of the latest run
    QVector<double> values;          // measured values in run order (skipped checks left out)
    QVector<int> runs;               // the index in the batch of each value's run
    int failures = 0;
    Capability capability;
    QVector<int> flags; // Western Electric rules, per value
};

struct ParetoEntry
{
    QString key;
    QString name;
    int failures = 0;
    double share = 0;      // of all failures
    double cumulative = 0; // of all failures, up to this one
};

struct Summary
{
    Yield yield;
    QVector<CheckSeries> checks; // numeric checks, in the order they first appear
    QVector<ParetoEntry> pareto; // failing checks, most failures first
    int failures = 0;
};

// A batch's measurements as its figures need them: numbers, with the check
// keys interned and the texts that repeat in every run (names, units)
// left where they are kept. A batch of ten thousand runs is a few hundred
// thousand of these.
struct Measured
{
    enum Verdict : quint8
    {
        Other, // passed, or anything else that is neither of these
        Failed,
        Skipped,
    };
    int run = 0;      // the index in the batch of its run
    int position = 0; // where it comes in its run
    int key = 0;      // the index of its check key in MeasuredBatch::keys
    double value = 0; // NaN for a text check or a value not measured
    Verdict verdict = Other;
};

struct MeasuredBatch
{
    QVector<QString> keys;
    std::vector<Measured> rows; // in run order, each run's in its order
};

// What a batch's figures take from a measurement besides its number: only
// asked for the few whose texts the summary shows.
struct MeasuredLabel
{
    QString name;
    QString unit;
    std::optional<double> low, high;
};
// The labels of `rows`, one each in their order.
using Labeller = std::function<QVector<MeasuredLabel>(const std::vector<Measured> &rows)>;

// `runs` in start order, without their measurements unless `label` reads
// them there.
Summary summarise(const QVector<RunRecord> &runs, const MeasuredBatch &batch,
                  const Labeller &label);
Summary summarise(const QVector<RunRecord> &runs);
// A capability index for people: "1.52", "∞", "-∞", "-" for none.
QString indexText(double index);
// "2 of 3 (66.7 %)".
QString shareText(int part, int whole);

// A run's measurements under their series keys.
QVector<QString> seriesKeys(const RunRecord &run);

} // namespace Batch

#endif
