#ifndef VANTOSCOPE_LIPKG_H
#define VANTOSCOPE_LIPKG_H

#include "bytequeue.h"
#include "framedecode.h"
#include "points/pointdata.h"
#include "timesource.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <cstdint>
#include <vector>

// Decoder for the streaming sensor models: splits the byte stream into
// checked frames, turns frames into points, assembles complete 360-degree
// scans, filters them and publishes each with mapReady().
class LiPkg : public QObject
{
    Q_OBJECT
public:
    // Assembly state is trimmed to this many points (and speed values) when
    // no angle wrap arrives to release it.
    static constexpr int maxPendingPoints = 16384;

    explicit LiPkg(QObject *parent = nullptr);

    // Takes the next chunk of the stream and decodes what it can.
    void pushData(const QByteArray &data);
    // Forgets everything received, as a new decoder would: buffered bytes,
    // the partial scan, the last scan, the error count and the speed and
    // rate history. The model, filter and clock stay as set.
    void resetReceiveState();

    void setModelType(int type);
    int modelType() const { return modelType_; }
    void setFilterVariant(int variant);
    int filterVariant() const { return filterVariant_; }
    bool filterEnabled() const { return filterEnabled_; }
    // The clock the scan rate is timed by; the system's monotonic clock
    // unless a caller (a replay, a test) gives another.
    void setTimeSource(TimeSource source);

    // Figures of the last scan.
    PointList currentScan() const { return scan; }
    int errorCount() const { return pkgErrorCount; }
    double rotationSpeed() const;
    double scanRate() const;
    int validCount() const { return scanValidCount; }
    int pointTotal() const { return pointsPerScan; }
    // Index in currentScan() of the point nearest to `angle` (degrees).
    int nearestPointIndex(double angle) const;

    // The last information record of a Pkg36 information frame (all 0 until
    // one has arrived).
    QByteArray deviceInfoRecord() const;

    // Sizes of the internal state, for invariant checks.
    int rxBufferSize() const { return rxBuffer.size(); }
    int pendingPointCount() const { return static_cast<int>(pendingPoints.size()); }
    int speedListSize() const { return static_cast<int>(speedList.size()); }
    int scanStartIndex() const { return scanStart; }
    int scanEndIndex() const { return scanEnd; }

signals:
    void pkgReady();
    void mapReady();
    void errorIncrease();

public slots:
    void clearPkgErrorCount();
    void setFilterEnabled(bool value);

private:
    FrameDecode::Format currentFormat() const;
    void parse(FrameDecode::Format format);
    void countError();
    void queueSpeed(uint16_t speed);
    void takeFrame(FrameDecode::Format format, const uint8_t *frame);

    void appendPoints(const std::vector<PointData> &points);
    void trimPendingPoints();
    void shiftWrapIndexes(int removed);
    int findWrap(int from) const;
    void assemble();
    void buildScan();
    void releaseScan();

    FrameDecode::InfoRecord infoRecord{};
    ByteQueue rxBuffer;
    std::vector<PointData> pendingPoints;
    // Indexes j in pendingPoints where the angle wraps between point j - 1
    // and point j, ascending; kept as points arrive so that finding a wrap
    // never rescans the pending points.
    std::vector<int> wrapIndexes;
    int pkgErrorCount = 0;
    std::vector<uint16_t> speedList;
    PointList scan;
    int scanValidCount = 0;
    int scanStart = 0;
    int scanEnd = 0;
    int filterVariant_ = 0;
    TimeSource now = monotonicNanoseconds;
    qint64 lastScanTime = 0;
    bool scanTimed = false;
    uint16_t scanPeriodMs = 0;
    int modelType_ = 0;
    int pointsPerScan = 0;
    bool filterEnabled_ = true;
    bool crcPassedOnce = false;
    std::vector<PointData> convertedPoints;
};

#endif
