#include "editions/modelrules.h"

#include "editions/modeltable.h"

namespace Edition {

QStringList modelNames()
{
    QStringList names;
    for (const Models::Record &row : Models::rows())
        names.append(row.displayName());
    return names;
}

QVector<int> baudRates()
{
    return {115200, 153600, 230400, 921600};
}

RangeCorrection rangeCorrectionFor(int typeCode)
{
    switch (typeCode) {
    case 0:
    case 9:
        return {8.1, -22.5156, 0.11923};
    case 3:
    case 8:
    case 16:
    case 19:
        return {5.9, -20.14, 0.11923};
    case 17:
    case 20:
        return {5.9, -18.975571, 0.112785};
    default:
        return {};
    }
}

// A name outside the table gives zeros throughout.
ModelChoice modelChoice(const QString &name)
{
    ModelChoice choice;
    const Models::Record *row = Models::find(name, Qt::CaseSensitive);
    if (!row) {
        choice.filterVariant = 0;
        choice.modelType = 0;
        return choice;
    }
    choice.baudrate = row->baudrate;
    choice.filterVariant = row->filterVariant;
    choice.modelType = row->typeCode;
    choice.decoderKind = row->decoderKind;
    return choice;
}

} // namespace Edition
