#include "lipkg.h"

LiPkg::LiPkg(QObject *parent) : QObject(parent)
{
    registerPointDataMetaType();
    connect(this, &LiPkg::pkgReady, this, &LiPkg::assemble);
}

void LiPkg::pushData(const QByteArray &data)
{
    rxBuffer.append(data);
    // Frame parsing comes with the frame formats; until then nothing is kept.
    rxBuffer.clear();
}

void LiPkg::setModelType(int type) { modelType_ = type; }

void LiPkg::setFilterVariant(int variant) { filterVariant_ = variant; }

double LiPkg::rotationSpeed() const
{
    return speedList.isEmpty() ? 0.0 : speedList.last() / 360.0;
}

double LiPkg::scanRate() const { return scanPeriodMs == 0 ? 0.0 : 1000.0 / scanPeriodMs; }

int LiPkg::validCount() const
{
    int n = 0;
    for (const PointData &p : scan)
        if (p.distance != 0)
            ++n;
    return n;
}

int LiPkg::nearestPointIndex(double angle) const
{
    Q_UNUSED(angle);
    return scan.isEmpty() ? -1 : scan.size() - 1;
}

void LiPkg::clearPkgErrorCount() { pkgErrorCount = 0; }

void LiPkg::setEnableFilter(bool value) { filterEnabled_ = value; }

void LiPkg::assemble() {}
