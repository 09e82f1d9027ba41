#include "modelsetup.h"

#include "edition.h"
#include "lipkg.h"
#include "modelrules.h"
#include "qtrnet.h"

namespace {

// The decoder part of the window's deviceChanged.
ModelSetup::Applied choose(const QString &name, LiPkg &pkg, QTRNet &trNet)
{
    const Edition::ModelChoice choice = Edition::modelChoice(name);
    if (choice.modelType) {
        if constexpr (Edition::commandProtocolTakesTypeCode)
            trNet.setModelType(*choice.modelType);
        pkg.setModelType(*choice.modelType);
    }
    if (choice.filterVariant)
        pkg.setFilterVariant(*choice.filterVariant);
    return {name, choice.baudrate, Edition::usesCommandProtocol(choice.decoderKind)};
}

} // namespace

namespace ModelSetup {

QStringList modelNames()
{
    return Edition::modelNames();
}

QString canonicalName(const QString &name)
{
    for (const QString &known : modelNames())
        if (known.compare(name, Qt::CaseInsensitive) == 0)
            return known;
    return {};
}

Applied applyModel(const QString &name, LiPkg &pkg, QTRNet &trNet)
{
    choose(modelNames().constFirst(), pkg, trNet);
    return choose(name, pkg, trNet);
}

} // namespace ModelSetup
