#include "lipkg.h"

#include "bytes/littleendian.h"
#include "editions/edition.h"
#include "filter/scanfilter.h"
#include "framebounds.h"
#include "lipkglogging.h"
#include "points/pointsearch.h"

#include <algorithm>
#include <utility>

using namespace FrameDecode;

namespace {

bool isWrap(const PointData &before, const PointData &after)
{
    return after.angle - before.angle < 0 && after.angle < 10.0 && before.angle > 350.0;
}

} // namespace

LiPkg::LiPkg(QObject *parent) : QObject(parent)
{
    registerPointDataMetaType();
}

Format LiPkg::currentFormat() const
{
    if constexpr (Edition::pkg47Only)
        return Format::Pkg47;
    return formatForModel(modelType_);
}

void LiPkg::pushData(const QByteArray &data)
{
    const Format format = currentFormat();
    const int limit = bufferLimit(format);
    if (data.size() <= limit) {
        rxBuffer.append(data.constData(), data.size());
        parse(format);
        return;
    }
    // A chunk larger than the buffer limit (the event loop was busy) is fed in
    // slices that fill the buffer up to the limit, so its frames are decoded
    // instead of being discarded with it. Every run removes bytes from a full
    // buffer, so each slice has room; only a buffer that stays full would
    // reach the limit and be discarded.
    int offset = 0;
    while (offset < data.size()) {
        const int room = std::max(limit - rxBuffer.size(), 1);
        const int take = std::min(room, static_cast<int>(data.size()) - offset);
        rxBuffer.append(data.constData() + offset, take);
        offset += take;
        parse(format);
    }
}

// One run over the buffered bytes, the same for every format: give up on an
// overfull buffer, then take header after header. Bytes skipped to reach a
// header are one packet error per run of them.
//
// The run goes on only while fewer bytes were skipped at the top of the
// round than are left behind the frame, less one. This compares a count from
// before the frame was removed with the size after it, so a long skip ends
// the run early: a complete frame behind it waits for the next chunk.
// Saved captures decode the way they always have because of it; keep it.
void LiPkg::parse(Format format)
{
    const FrameRules &rules = frameRules(format);
    if (rxBuffer.size() < rules.runMinimum)
        return;
    if (rxBuffer.size() > rules.bufferLimit) {
        countError();
        rxBuffer.clear();
        return;
    }
    int skipped = 0;
    do {
        const int size = rxBuffer.size();
        skipped = rules.headerOffset(rxBuffer.data(), size);
        if constexpr (Edition::logsEcHeaderFinds) {
            if (format == Format::Pkg47 && !crcPassedOnce && skipped < size - 1 &&
                rxBuffer.at(skipped + 1) == 0xEC)
                qCDebug(lcLiPkg) << "find";
        }
        if (skipped > 0) {
            countError();
            rxBuffer.removeFront(skipped);
        }
        const Examined found = rules.examine(rxBuffer.data(), rxBuffer.size());
        if (found.kind == Examined::NeedMore)
            return;
        if (found.kind == Examined::Frame)
            takeFrame(format, rxBuffer.data());
        else if (found.countsError)
            countError();
        // Listeners of pkgReady still see the frame in the buffer.
        rxBuffer.removeFront(found.length);
        if (found.endsRun)
            return;
    } while (skipped < rxBuffer.size() - 1);
}

void LiPkg::countError()
{
    ++pkgErrorCount;
    emit errorIncrease();
}

void LiPkg::queueSpeed(uint16_t speed)
{
    speedList.push_back(speed);
    if (speedList.size() > static_cast<size_t>(maxPendingPoints))
        speedList.erase(speedList.begin(), speedList.end() - maxPendingPoints / 2);
}

// A checked frame: its points are assembled (which may publish a scan with
// mapReady) before pkgReady tells listeners about the frame.
void LiPkg::takeFrame(Format format, const uint8_t *frame)
{
    convertedPoints.clear();
    switch (format) {
    case Format::Pkg47:
        crcPassedOnce = true;
        // Accepted all the same; the error only shows the sensor misbehaves.
        if (pkg47SpanImplausible(frame))
            countError();
        queueSpeed(Bytes::Reader(frame, pkg47Size).u16(2));
        convertPkg47(frame, convertedPoints);
        break;
    case Format::Pkg36:
        if (frame[2] == pkg36Information) {
            infoRecord = infoRecordFromFrame(frame);
            qCDebug(lcLiPkg).noquote() << deviceInfoLine(infoRecord);
            return;
        }
        queueSpeed(Bytes::Reader(frame, pkg36Size).u16(4));
        convertPkg36(frame, convertedPoints);
        break;
    case Format::PkgVariable:
        // Responses, and packets with bit 0 of CT set, carry no points.
        if (isPkgVariableResponse(frame) || (frame[2] & 1) != 0)
            return;
        queueSpeed(static_cast<uint16_t>((frame[2] >> 1) * 36));
        convertPkgVariable(frame, convertedPoints);
        break;
    }
    appendPoints(convertedPoints);
    assemble();
    emit pkgReady();
}

void LiPkg::resetReceiveState()
{
    infoRecord = {};
    rxBuffer.clear();
    pendingPoints.clear();
    wrapIndexes.clear();
    pkgErrorCount = 0;
    speedList.clear();
    scan = PointList();
    scanValidCount = 0;
    scanStart = 0;
    scanEnd = 0;
    lastScanTime = 0;
    scanTimed = false;
    scanPeriodMs = 0;
    pointsPerScan = 0;
    crcPassedOnce = false;
}

void LiPkg::setModelType(int type)
{
    modelType_ = type;
}

void LiPkg::setTimeSource(TimeSource source)
{
    now = source ? std::move(source) : TimeSource(monotonicNanoseconds);
}

void LiPkg::setFilterVariant(int variant)
{
    filterVariant_ = variant;
}

double LiPkg::rotationSpeed() const
{
    return speedList.empty() ? 0.0 : speedList.back() / 360.0;
}

double LiPkg::scanRate() const
{
    return scanPeriodMs == 0 ? 0.0 : 1000.0 / scanPeriodMs;
}

int LiPkg::nearestPointIndex(double angle) const
{
    return findNearestPoint(scan, angle);
}

QByteArray LiPkg::deviceInfoRecord() const
{
    return QByteArray(reinterpret_cast<const char *>(infoRecord.data()), infoRecordSize);
}

void LiPkg::clearPkgErrorCount()
{
    pkgErrorCount = 0;
}

void LiPkg::setFilterEnabled(bool value)
{
    filterEnabled_ = value;
}

void LiPkg::appendPoints(const std::vector<PointData> &points)
{
    for (const PointData &p : points) {
        if (!pendingPoints.empty() && isWrap(pendingPoints.back(), p))
            wrapIndexes.push_back(static_cast<int>(pendingPoints.size()));
        pendingPoints.push_back(p);
    }
    if (pendingPoints.size() > static_cast<size_t>(maxPendingPoints))
        trimPendingPoints();
}

// Without angle wraps nothing is ever released; drop the oldest half so a
// stream that never wraps cannot grow the state without bound.
void LiPkg::trimPendingPoints()
{
    const int dropped = static_cast<int>(pendingPoints.size()) - maxPendingPoints / 2;
    pendingPoints.erase(pendingPoints.begin(), pendingPoints.begin() + dropped);
    scanStart = std::max(scanStart - dropped, 0);
    scanEnd = std::max(scanEnd - dropped, 0);
    shiftWrapIndexes(dropped);
}

// After the first `removed` pending points are gone, wraps move down; a wrap
// whose earlier point was removed is no longer a wrap.
void LiPkg::shiftWrapIndexes(int removed)
{
    auto out = wrapIndexes.begin();
    for (int w : wrapIndexes)
        if (w - removed >= 1)
            *out++ = w - removed;
    wrapIndexes.erase(out, wrapIndexes.end());
}

// The first index j + 1 with j >= from where the angle wraps from above 350
// to below 10 degrees between point j and point j + 1, or -1.
int LiPkg::findWrap(int from) const
{
    const auto it = std::lower_bound(wrapIndexes.begin(), wrapIndexes.end(), from + 1);
    return it == wrapIndexes.end() ? -1 : *it;
}

void LiPkg::assemble()
{
    const int from = scanEnd <= 3 ? scanEnd : scanEnd - 3;
    const int start = findWrap(from);
    if (start < 0)
        return;
    scanStart = start;
    const int end = findWrap(start + 50);
    if (end < 0)
        return;
    scanEnd = end;
    if (end - start < 100) {
        emit errorIncrease();
    } else {
        pointsPerScan = end - start;
        // Whole milliseconds since the previous scan, truncated like the
        // 16-bit period the rate is worked out from.
        const qint64 t = now();
        if (scanTimed)
            scanPeriodMs = static_cast<uint16_t>((t - lastScanTime) / 1000000);
        lastScanTime = t;
        scanTimed = true;
        buildScan();
        emit mapReady();
    }
    releaseScan();
}

void LiPkg::buildScan()
{
    std::vector<PointData> points;
    points.reserve(static_cast<size_t>(scanEnd - scanStart) + 1);
    for (int i = scanStart; i < scanEnd; ++i)
        if (pendingPoints[static_cast<size_t>(i)].distance != 0)
            points.push_back(pendingPoints[static_cast<size_t>(i)]);
    if (filterEnabled_)
        points = ScanFilter::apply(points, filterVariant_, modelType_,
                                   speedList.empty() ? 0 : speedList.back());
    scanValidCount = static_cast<int>(std::count_if(
        points.begin(), points.end(), [](const PointData &p) { return p.distance != 0; }));
    points.push_back(endOfScanMarker());
    scan = PointList();
    scan.reserve(static_cast<int>(points.size()));
    for (const PointData &p : points)
        scan.append(p);
}

void LiPkg::releaseScan()
{
    const int released = std::min(scanStart, static_cast<int>(pendingPoints.size()));
    pendingPoints.erase(pendingPoints.begin(), pendingPoints.begin() + released);
    scanEnd -= released;
    scanStart = 0;
    shiftWrapIndexes(released);
    if (speedList.size() > 1)
        speedList.erase(speedList.begin(), speedList.end() - 1);
}
