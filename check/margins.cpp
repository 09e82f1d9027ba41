#include "margins.h"

#include <cmath>
#include <limits>

namespace {

CheckLimit limitOf(const CheckResult &check)
{
    return {check.low, check.high};
}

} // namespace

double limitMargin(double value, const CheckLimit &limit)
{
    if (std::isnan(value))
        return value;
    if (!limit.low && !limit.high)
        return std::numeric_limits<double>::infinity();
    const auto scaleOf = [](double bound) { return bound != 0 ? std::fabs(bound) : 1.0; };
    const double scale = limit.low && limit.high && *limit.high > *limit.low
                             ? *limit.high - *limit.low
                             : scaleOf(limit.low ? *limit.low : *limit.high);
    double margin = std::numeric_limits<double>::infinity();
    if (limit.low)
        margin = std::min(margin, (value - *limit.low) / scale);
    if (limit.high)
        margin = std::min(margin, (*limit.high - value) / scale);
    return margin;
}

LimitZone limitZone(double value, const CheckLimit &limit)
{
    const double margin = limitMargin(value, limit);
    if (std::isnan(margin))
        return LimitZone::Unknown;
    if (margin < 0)
        return LimitZone::Outside;
    // A single limit of 0 (no stall, no error) has no room to be near.
    const bool zeroLimit = limit.low.has_value() != limit.high.has_value() &&
                           (limit.low ? *limit.low : *limit.high) == 0;
    return margin < nearShare && !zeroLimit ? LimitZone::Near : LimitZone::Within;
}

const CheckResult *worstCheck(const CheckReport &report)
{
    const CheckResult *worst = nullptr;
    double lowest = std::numeric_limits<double>::infinity();
    const bool failed = report.failures() > 0;
    for (const CheckResult &c : report.checks) {
        if (c.verdict == Verdict::Skipped || (failed && c.verdict != Verdict::Fail))
            continue;
        // A count held to none (stalls, errors) that had none is not close
        // to failing.
        if (!failed && !c.isText() && c.value == 0 && (c.high == 0.0 || c.low == 0.0))
            continue;
        double margin =
            c.isText() ? std::numeric_limits<double>::infinity() : limitMargin(c.value, limitOf(c));
        // A failed text (no information reply, an old firmware) or a figure
        // that could not be measured is as bad as it gets.
        if (failed && (c.isText() || std::isnan(margin)))
            margin = -std::numeric_limits<double>::infinity();
        if (!worst || margin < lowest) {
            worst = &c;
            lowest = margin;
        }
    }
    return worst;
}
