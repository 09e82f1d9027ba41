#ifndef VANTOSCOPE_CHECK_EVALUATION_H
#define VANTOSCOPE_CHECK_EVALUATION_H

#include "benchprofile.h"
#include "checkreport.h"
#include "scanstatistics.h"

#include <cmath>
#include <optional>

// What happened on the line, beside the scans.
struct LinkFacts
{
    bool live = true;
    qint64 bytes = 0;
    // Command-protocol models, live: how long the handshake took, unset
    // when it got no answer.
    bool handshakeExpected = false;
    std::optional<double> handshakeMs;
    QString versionText;
    // False for a raw byte file: its times are only the line speed's.
    bool timestamps = true;
};

// Bins whose distance jumps between surfaces from scan to scan, as when
// something moves through them (or at the edge of an object): more than a
// small share of their returns lie far from the bin's median.
QVector<bool> unsteadyBins(const ScanStatistics &stats);

// Whether bin `bin` counts toward the range noise figures: it sees
// something in nearly every scan and is not one of the `unsteady` bins.
bool countsForNoise(const ScanStatistics &stats, const QVector<bool> &unsteady, int bin);

// The q-quantile (0 to 1) of `values`, interpolated between the two nearest
// ranks; NaN without values.
double quantile(QVector<double> values, double q);

// A reference target's distance over the run: the least-squares slope of
// its window means against the windows' mean times, each window weighted by
// its returns.
struct DriftFit
{
    int windows = 0;                     // windows with returns in the sector
    double slopeMmPerMin = std::nan(""); // NaN with fewer than two windows
    double interceptMm = std::nan("");   // at the start of the run
    double standardError = std::nan(""); // of the slope, mm/min
    // The drift is judged only when the run pins it down this well.
    static constexpr double judgedWithin = 1.0;
};
DriftFit referenceDrift(const ScanStatistics &stats, int target);

// How long the speed (or frame rate) took to settle: from the first scan
// to the start of the first window after which every window's mean stays
// within ±settleBand of the final mean, the mean over the last quarter of
// the run.
struct Settling
{
    static constexpr double band = 0.01;
    int windows = 0;
    double finalMean = std::nan("");
    double seconds = std::nan(""); // NaN when too short or never settled
    bool settled = false;
};
Settling speedSettling(const ScanStatistics &stats);

// Every check of one sensor against the profile's limits; the report's
// header fields (tool, model, source, start) are left to the caller.
CheckReport evaluate(const ScanStatistics &stats, const LinkFacts &facts,
                     const BenchProfile &profile);

#endif
