#include "limapview.h"

#include "lipkg.h"
#include "qtrnet.h"

#include <QSettings>

LiMapView::LiMapView(QWidget *parent) : QWidget(parent) { registerPointDataMetaType(); }

void LiMapView::setPkg(LiPkg *value)
{
    pkg = value;
    connect(pkg, &LiPkg::mapReady, this, qOverload<>(&LiMapView::updateMap));
}

void LiMapView::setNet(QTRNet *value) { trNet = value; }

void LiMapView::setDecoderKind(int kind) { decoderKind = kind; }

void LiMapView::setScale(double value) { scale = value; }

void LiMapView::setOffset(const QPoint &value) { offset = value; }

void LiMapView::resetView(bool value) { Q_UNUSED(value); }

void LiMapView::loadSettings(QSettings &settings) { Q_UNUSED(settings); }

void LiMapView::saveSettings(QSettings &settings) const { Q_UNUSED(settings); }

void LiMapView::updateMap()
{
    if (pkg)
        points = pkg->currentScan();
}

void LiMapView::updateMap(QList<PointData> map) { points = map; }
