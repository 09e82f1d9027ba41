#ifndef VANTOSCOPE_LIMAPVIEW_H
#define VANTOSCOPE_LIMAPVIEW_H

#include "pointdata.h"

#include <QList>
#include <QPoint>
#include <QWidget>

class LiPkg;
class QTRNet;
class QSettings;

// The central polar point map: draws the latest scan, the grid and the
// status figures of the selected decoder.
class LiMapView : public QWidget
{
    Q_OBJECT
public:
    explicit LiMapView(QWidget *parent = nullptr);

    void setPkg(LiPkg *pkg);
    void setNet(QTRNet *net);
    void setDecoderKind(int kind);
    int decoderKindValue() const { return decoderKind; }
    void setScale(double value);
    double scaleValue() const { return scale; }
    // Shift of the drawing origin, (up, right) in pixels.
    void setOffset(const QPoint &value);
    QPoint offsetValue() const { return offset; }
    void resetView(bool value);

    void loadSettings(QSettings &settings);
    void saveSettings(QSettings &settings) const;

public slots:
    void updateMap();
    void updateMap(QList<PointData> map);

private:
    int decoderKind = 1;
    double scale = 1.9;
    QPoint offset{40, 5};
    LiPkg *pkg = nullptr;
    QTRNet *trNet = nullptr;
    QList<PointData> points;
};

#endif
