#ifndef VANTOSCOPE_LIPKG_H
#define VANTOSCOPE_LIPKG_H

#include "pointdata.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTime>
#include <QVector>
#include <cstdint>

// Decoder for the streaming sensor models: splits the byte stream into
// checked frames, turns frames into points, assembles complete 360-degree
// scans, filters them and publishes each with mapReady().
class LiPkg : public QObject
{
    Q_OBJECT
public:
    explicit LiPkg(QObject *parent = nullptr);

    // Takes the next chunk of the stream and decodes what it can.
    void pushData(const QByteArray &data);

    void setModelType(int type);
    int modelType() const { return modelType_; }
    void setFilterVariant(int variant);
    int filterVariant() const { return filterVariant_; }
    bool filterEnabled() const { return filterEnabled_; }

    // Figures read by the map view.
    QList<PointData> currentScan() const { return scan; }
    int errorCount() const { return pkgErrorCount; }
    double rotationSpeed() const;
    double scanRate() const;
    int validCount() const;
    int pointTotal() const { return pointsPerScan; }
    // Index in currentScan() of the point nearest to `angle` (degrees).
    int nearestPointIndex(double angle) const;

signals:
    void pkgReady();
    void mapReady();
    void errorIncrease();

public slots:
    void clearPkgErrorCount();
    void setEnableFilter(bool value);

private slots:
    void assemble();

private:
    QByteArray rxBuffer;
    QList<PointData> scan;
    int pkgErrorCount = 0;
    QVector<uint16_t> speedList;
    QTime scanTimer;
    uint16_t scanPeriodMs = 0;
    int modelType_ = 0;
    int filterVariant_ = 0;
    int pointsPerScan = 0;
    bool filterEnabled_ = true;
};

#endif
