#include "editions/modelrules.h"

#include "devicetable.h"

namespace Edition {

namespace {

const QMap<QString, LidarParamTypedef> &deviceTable()
{
    static const QMap<QString, LidarParamTypedef> table = buildDeviceTable();
    return table;
}

} // namespace

QStringList modelNames()
{
    return deviceTable().keys();
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

// A name outside the table gives a record of zeros, like every lookup of
// the table.
ModelChoice modelChoice(const QString &name)
{
    const LidarParamTypedef param = deviceTable().value(name);
    ModelChoice choice;
    choice.baudrate = param.baudrate;
    choice.filterVariant = param.filterVariant;
    choice.modelType = param.modelType;
    choice.decoderKind = static_cast<DecoderKind>(param.decoderKind);
    return choice;
}

} // namespace Edition
