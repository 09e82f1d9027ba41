#ifndef VANTOSCOPE_CHECK_MARGINS_H
#define VANTOSCOPE_CHECK_MARGINS_H

#include "benchprofile.h"
#include "checkreport.h"

// Where a figure stands against its limits.
enum class LimitZone
{
    Unknown, // not measured
    Within,
    Near, // within, but closer to a limit than nearShare of its scale
    Outside,
};

// The scale a margin is measured on: the band between two limits, or the
// size of a single limit (1 for a limit of 0).
constexpr double nearShare = 0.1;

// How far `value` lies inside its limits, as a share of their scale:
// negative outside, +infinity without a limit, NaN when not measured.
double limitMargin(double value, const CheckLimit &limit);
LimitZone limitZone(double value, const CheckLimit &limit);

// The check that came out worst: of the failed ones, a text that failed or
// else the number furthest beyond its limit; without a failure, the number
// nearest to its limit (a count held to none that was none does not count).
// Null when no check was judged.
const CheckResult *worstCheck(const CheckReport &report);

#endif
