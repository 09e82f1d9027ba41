#include "editions/modelrules.h"

#include "editions/modeltable.h"

namespace Edition {

namespace {

const Models::Record *knownRow(const QString &name)
{
    const Models::Record *row = Models::find(name, Qt::CaseSensitive);
    return row && row->classic.known ? row : nullptr;
}

} // namespace

QStringList modelNames()
{
    QStringList names;
    for (const Models::Record &row : Models::rows())
        if (row.classic.known)
            names.append(row.displayName());
    return names;
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

// A name this edition does not know is taken for a plain streaming model at
// 115200 baud.
ModelChoice modelChoice(const QString &name)
{
    ModelChoice choice;
    const Models::Record *row = knownRow(name);
    if (!row) {
        choice.baudrate = 115200;
        choice.filterVariant = 0;
        choice.decoderKind = DecoderKind::Stream;
        return choice;
    }
    choice.baudrate = row->baudrate;
    if (row->classic.setsFilterVariant)
        choice.filterVariant = row->filterVariant;
    choice.modelType = row->classic.typeCode;
    choice.decoderKind = row->decoderKind;
    return choice;
}

} // namespace Edition
