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
