#include "checkreport.h"

#include <cmath>

QString verdictText(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Pass:
        return QStringLiteral("pass");
    case Verdict::Fail:
        return QStringLiteral("fail");
    case Verdict::Skipped:
        break;
    }
    return QStringLiteral("skipped");
}

QString numberText(double value)
{
    if (std::isnan(value))
        return QStringLiteral("-");
    const double magnitude = std::fabs(value);
    if (magnitude == std::floor(magnitude) && magnitude < 1e9)
        return QString::number(value, 'f', 0);
    const int decimals = magnitude >= 100 ? 1 : magnitude >= 1 ? 2 : magnitude >= 0.01 ? 4 : 6;
    return QString::number(value, 'f', decimals);
}

QString CheckResult::valueText() const
{
    return isText() ? text : numberText(value);
}

QString CheckResult::limitText(bool ascii) const
{
    const QString atLeast = ascii ? QStringLiteral(">= ") : QStringLiteral("≥ ");
    const QString atMost = ascii ? QStringLiteral("<= ") : QStringLiteral("≤ ");
    if (low && high)
        return QStringLiteral("%1 .. %2").arg(numberText(*low), numberText(*high));
    if (low)
        return atLeast + numberText(*low);
    if (high)
        return atMost + numberText(*high);
    return QStringLiteral("-");
}

int CheckReport::failures() const
{
    int n = 0;
    for (const CheckResult &c : checks)
        n += c.verdict == Verdict::Fail;
    return n;
}

int CheckReport::counted() const
{
    int n = 0;
    for (const CheckResult &c : checks)
        n += c.verdict != Verdict::Skipped;
    return n;
}

QString CheckReport::verdictLine() const
{
    const int failed = failures();
    return failed == 0 ? QStringLiteral("PASS")
                       : QStringLiteral("FAIL: %1 of %2 checks failed").arg(failed).arg(counted());
}
