#ifndef VANTOSCOPE_CHECK_EVALUATION_H
#define VANTOSCOPE_CHECK_EVALUATION_H

#include "benchprofile.h"
#include "checkreport.h"
#include "scanstatistics.h"

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

// Every check of one sensor against the profile's limits; the report's
// header fields (tool, model, source, start) are left to the caller.
CheckReport evaluate(const ScanStatistics &stats, const LinkFacts &facts,
                     const BenchProfile &profile);

#endif
