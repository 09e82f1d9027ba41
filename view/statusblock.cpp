#include "statusblock.h"

#include "editions/edition.h"

#include <QCoreApplication>

namespace {

constexpr int firstBaseline = 30;
constexpr int lineSpacing = 25;

QString tr(const char *text)
{
    return QCoreApplication::translate("LiMapView", text);
}

} // namespace

StatusBlock::StatusBlock(const SensorScan &figures, Edition::DecoderKind kind, bool showError)
{
    int baseline = firstBaseline;
    auto add = [&](const QString &text) {
        lines_.append(Line{text, baseline});
        baseline += lineSpacing;
    };
    if (showError)
        add(tr("Error:  %1").arg(figures.errors));
    if (Edition::usesCommandProtocol(kind)) {
        add(tr("Rate : %1 hz").arg(figures.rate, 0, 'f', 1));
        add(tr("Valid:  %1/%2").arg(figures.valid).arg(figures.total));
        if constexpr (Edition::showsPixelSum)
            add(tr("PixSum:  %1").arg(figures.pixelSum));
    } else {
        add(tr("Speed:  %1").arg(figures.speed, 0, 'f', 1));
        add(tr("Rate :  %1").arg(figures.rate, 0, 'f', 1));
        add(tr("Valid:  %1/%2").arg(figures.valid).arg(figures.total));
    }
}
