#include "editions/modelrules.h"

#include <utility>

// The earlier edition keeps no model table: it knows eight names and decides
// everything by comparing them.

namespace Edition {

namespace {

const QString fir = QStringLiteral("Fir");

} // namespace

QStringList modelNames()
{
    return {QStringLiteral("Alder"),
            QStringLiteral("Birch"),
            QStringLiteral("Cedar"),
            QStringLiteral("Dogwood"),
            fir,
            QStringLiteral("Ginkgo"),
            QStringLiteral("Hazel"),
            QStringLiteral("Larch")};
}

QVector<int> baudRates()
{
    return {115200, 230400, 921600};
}

RangeCorrection rangeCorrectionFor(int typeCode)
{
    switch (typeCode) {
    case 0:
    case 3:
        return {8.1, -22.5156, 0.11923};
    case 1:
    case 2:
        return {5.9, -20.14, 0.11923};
    default:
        return {};
    }
}

ModelChoice modelChoice(const QString &name)
{
    ModelChoice choice;
    if (name == fir) {
        // The filter variant and the type code stay as they were.
        choice.baudrate = 921600;
        choice.decoderKind = DecoderKind::CommandProtocol;
        return choice;
    }
    if (name == QLatin1String("Dogwood") || name == QLatin1String("Larch")) {
        choice.baudrate = 230400;
        choice.filterVariant = 1;
    } else {
        choice.baudrate = 115200;
        choice.filterVariant = 0;
    }

    // Cedar, Dogwood and Larch have no type code of their own: the stream
    // decoder keeps the one set last.
    static const std::pair<const char *, int> typeCodes[] = {
        {"Alder", 0}, {"Birch", 1}, {"Ginkgo", 2}, {"Hazel", 3}};
    for (const auto &[model, code] : typeCodes)
        if (name == QLatin1String(model))
            choice.modelType = code;

    const bool flagInConfidence = name == QLatin1String("Ginkgo") || name == QLatin1String("Hazel");
    choice.decoderKind =
        flagInConfidence ? DecoderKind::StreamFlagInConfidence : DecoderKind::Stream;
    return choice;
}

} // namespace Edition
