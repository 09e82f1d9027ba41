#include "lipkg.h"

#include "editions/edition.h"
#include "filter/scanfilter.h"
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
    connect(this, &LiPkg::pkgReady, this, &LiPkg::assemble);
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
        const int take = std::min(room, data.size() - offset);
        rxBuffer.append(data.constData() + offset, take);
        offset += take;
        parse(format);
    }
}

void LiPkg::parse(Format format)
{
    switch (format) {
    case Format::Pkg36:
        parsePkg36();
        break;
    case Format::PkgVariable:
        parsePkgVariable();
        break;
    case Format::Pkg47:
        parsePkg47();
        break;
    }
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

void LiPkg::parsePkg47()
{
    if (rxBuffer.size() < pkg47Size)
        return;
    if (rxBuffer.size() > pkg47BufferLimit) {
        countError();
        rxBuffer.clear();
        return;
    }
    int i = 0;
    do {
        const int size = rxBuffer.size();
        i = 0;
        while (i < size - 1 && !(rxBuffer.at(i) == 0x54 &&
                                 (rxBuffer.at(i + 1) == 0x2C || rxBuffer.at(i + 1) == 0xEC)))
            ++i;
        if constexpr (Edition::classic) {
            if (!crcPassedOnce && i < size - 1 && rxBuffer.at(i + 1) == 0xEC)
                qCDebug(lcLiPkg) << "find";
        }
        if (i > 0) {
            countError();
            rxBuffer.removeFront(i);
        }
        if (rxBuffer.size() < pkg47Size)
            return;
        const uint8_t *frame = rxBuffer.data();
        if (!pkg47CrcMatches(frame)) {
            countError();
            rxBuffer.removeFront(2);
            continue;
        }
        crcPassedOnce = true;
        if (pkg47SpanImplausible(frame))
            countError();
        frameQueue47.emplace_back();
        std::copy(frame, frame + pkg47Size, frameQueue47.back().begin());
        queueSpeed(readU16(frame + 2));
        emit pkgReady();
        rxBuffer.removeFront(pkg47Size);
    } while (i < rxBuffer.size() - 1);
}

void LiPkg::parsePkg36()
{
    if (rxBuffer.size() < pkg36Size)
        return;
    if (rxBuffer.size() > pkg36BufferLimit) {
        countError();
        rxBuffer.clear();
        return;
    }
    int i = 0;
    do {
        const int size = rxBuffer.size();
        i = 0;
        while (i < size - 2 && !(rxBuffer.at(i) == 0x55 && rxBuffer.at(i + 1) == 0xAA &&
                                 (rxBuffer.at(i + 2) == pkg36Measurement ||
                                  rxBuffer.at(i + 2) == pkg36Information)))
            ++i;
        if (i > 0) {
            countError();
            rxBuffer.removeFront(i);
        }
        if (rxBuffer.size() < pkg36Size)
            return;
        const uint8_t *frame = rxBuffer.data();
        if (!pkg36ChecksumMatches(frame)) {
            countError();
            rxBuffer.removeFront(2);
            continue;
        }
        if (frame[2] == pkg36Information) {
            infoRecord = infoRecordFromFrame(frame);
            qCDebug(lcLiPkg).noquote() << deviceInfoLine(infoRecord);
        } else {
            frameQueue36.emplace_back();
            std::copy(frame, frame + pkg36Size, frameQueue36.back().begin());
            // The top two bits of each distance word are flags, not distance.
            for (int p = 0; p < pkg36Points; ++p)
                frameQueue36.back()[static_cast<size_t>(8 + 3 * p + 1)] &= 0x3F;
            queueSpeed(readU16(frame + 4));
            emit pkgReady();
        }
        rxBuffer.removeFront(pkg36Size);
    } while (i < rxBuffer.size() - 1);
}

void LiPkg::parsePkgVariable()
{
    if (rxBuffer.size() < pkgVariableHeaderSize)
        return;
    if (rxBuffer.size() > pkgVariableBufferLimit) {
        countError();
        rxBuffer.clear();
        return;
    }
    int i = 0;
    do {
        const int size = rxBuffer.size();
        for (i = 0; i < size - 1; ++i) {
            if (rxBuffer.at(i) == 0xAA && rxBuffer.at(i + 1) == 0x55) {
                headerIsResponse = false;
                break;
            }
            if (rxBuffer.at(i) == 0xA5 && rxBuffer.at(i + 1) == 0x5A) {
                headerIsResponse = true;
                break;
            }
        }
        if (i > 0) {
            countError();
            rxBuffer.removeFront(i);
        }
        if (rxBuffer.size() < pkgVariableResponseSize)
            return;
        if (headerIsResponse) {
            // Only responses of type 6 are known; any other header is skipped
            // like a bad sample count, so it cannot stall the stream.
            rxBuffer.removeFront(rxBuffer.at(6) == pkgVariableResponseType ? pkgVariableResponseSize
                                                                           : 2);
            return;
        }
        if (rxBuffer.size() < pkgVariableMinBuffered)
            return;
        const int sampleCount = rxBuffer.at(3);
        if (sampleCount > pkgVariableMaxSamples) {
            rxBuffer.removeFront(2);
            return;
        }
        const int length = pkgVariableHeaderSize + 3 * sampleCount;
        if (rxBuffer.size() < length)
            return;
        const uint8_t *packet = rxBuffer.data();
        if (!pkgVariableChecksumMatches(packet, sampleCount)) {
            countError();
            rxBuffer.removeFront(2);
            continue;
        }
        const uint8_t ct = packet[2];
        if ((ct & 1) == 0) {
            packetQueue.emplace_back();
            PkgVariablePacket &queued = packetQueue.back();
            queued.fill(0);
            std::copy(packet, packet + length, queued.begin());
            queueSpeed(static_cast<uint16_t>((ct >> 1) * 36));
            emit pkgReady();
        }
        rxBuffer.removeFront(length);
    } while (i < rxBuffer.size() - 1);
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

void LiPkg::setEnableFilter(bool value)
{
    filterEnabled_ = value;
}

void LiPkg::convertQueuedFrames()
{
    convertedPoints.clear();
    switch (currentFormat()) {
    case Format::Pkg36:
        for (const Pkg36Frame &frame : frameQueue36)
            convertPkg36(frame.data(), convertedPoints);
        frameQueue36.clear();
        break;
    case Format::PkgVariable:
        for (const PkgVariablePacket &packet : packetQueue)
            convertPkgVariable(packet.data(), convertedPoints);
        packetQueue.clear();
        break;
    case Format::Pkg47:
        for (const Pkg47Frame &frame : frameQueue47)
            convertPkg47(frame.data(), convertedPoints);
        frameQueue47.clear();
        break;
    }
    appendPoints(convertedPoints);
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
    convertQueuedFrames();
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
    scan = QList<PointData>();
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
