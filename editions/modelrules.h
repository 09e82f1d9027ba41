#ifndef VANTOSCOPE_MODELRULES_H
#define VANTOSCOPE_MODELRULES_H

#include "editions/modeltable.h"

#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

// The sensor models an edition knows and what choosing one of them puts in
// force, read from the model table. Each edition has its own reading of it
// (full/, classic/).
namespace Edition {

using DecoderKind = Models::DecoderKind;

struct ModelChoice
{
    int baudrate = 0;                 // speed made current in the baud selector
    std::optional<int> filterVariant; // for the stream decoder; unset: it keeps its variant
    std::optional<int> modelType;     // type code for the decoders; unset: they keep theirs
    DecoderKind decoderKind = DecoderKind::CommandProtocol;
};

// Model names in the order of the device selector; the first is in force
// from the start.
QStringList modelNames();
// Items of the baud selector.
QVector<int> baudRates();
// What choosing `name` sets.
ModelChoice modelChoice(const QString &name);

// What is in force once `name` is chosen after start-up, where the first
// model is chosen: what the choice leaves unset keeps the first model's
// value (0 where that is unset too).
inline ModelChoice choiceAfterStartUp(const QString &name)
{
    const ModelChoice first = modelChoice(modelNames().constFirst());
    ModelChoice choice = modelChoice(name);
    choice.filterVariant = choice.filterVariant.value_or(first.filterVariant.value_or(0));
    choice.modelType = choice.modelType.value_or(first.modelType.value_or(0));
    return choice;
}

// Constants of the stream decoder's correcting cluster filter for a sensor
// type code: the range offset (mm) and the line of the lateral offset over
// the distance. Type codes without known constants get zeros, so their
// points pass the correction unchanged. The editions know different codes.
struct RangeCorrection
{
    double rangeOffset = 0.0;
    double lateralIntercept = 0.0;
    double lateralSlope = 0.0;
};
RangeCorrection rangeCorrectionFor(int typeCode);

inline bool usesCommandProtocol(DecoderKind kind)
{
    return kind == DecoderKind::CommandProtocol;
}
// Map scale the view gets for a decoder kind.
inline double mapScaleFor(DecoderKind kind)
{
    return usesCommandProtocol(kind) ? 10.0 : 1.9;
}

} // namespace Edition

#endif
