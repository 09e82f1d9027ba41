#include "qtrnet.h"

#include "editions/edition.h"
#include "points/pointsearch.h"
#include "trframe.h"

#include <algorithm>
#include <cstring>

namespace {

QByteArray littleEndian(uint32_t value, int size)
{
    QByteArray out(size, '\0');
    for (int i = 0; i < size; ++i)
        out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

uint32_t readU32(const QByteArray &bytes, int offset)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<uint8_t>(bytes[offset + i]);
    return value;
}

} // namespace

QTRNet::QTRNet(QObject *parent) : QObject(parent)
{
    registerPointDataMetaType();
    qRegisterMetaType<TRData *>("TRData*");
}

void QTRNet::setModelType(int type)
{
    modelType_ = type;
}

bool QTRNet::isMaple() const
{
    return Edition::commandProtocolTakesTypeCode && modelType_ == mapleModelType;
}

QByteArray QTRNet::commandBytes(uint8_t address, uint8_t command, uint32_t value)
{
    return TRFrame::encode(address, command, 0, littleEndian(value, 4));
}

QByteArray QTRNet::shortCommandBytes(uint8_t address, uint8_t command, uint16_t value)
{
    return TRFrame::encode(address, command, 0, littleEndian(value, 2));
}

void QTRNet::resetReceiveState()
{
    rxBuffer = FrameSplitter();
    scanList = QList<PointData>();
    sampleList.clear();
    lastTimestamp = 0;
    previousTimestamp = 0;
    rate = 0.0;
    sampleCount = 0;
    pixSum = 0;
}

void QTRNet::enterStartedMode()
{
    if constexpr (Edition::commandProtocolChoosesSampleMode)
        params.rawMode = isMaple() ? 0 : 1;
}

bool QTRNet::applyCalibrationReply(const TRData &frame)
{
    if (frame.command != Calibration)
        return false;
    const QByteArray &bytes = frame.payload;
    auto copyWords = [&bytes](int offset, uint32_t *words, int count) {
        for (int i = 0; i < count && offset + 4 * (i + 1) <= bytes.size(); ++i)
            words[i] = readU32(bytes, offset + 4 * i);
    };
    if (isMaple()) {
        copyWords(0, params.zoneSlope.data(), 6);
        copyWords(24, params.zoneIntercept.data(), 6);
        if (bytes.size() >= 72)
            std::memcpy(params.zoneExtra.data(), bytes.constData() + 48, params.zoneExtra.size());
    } else {
        copyWords(0, params.halfSlope.data(), 2);
        copyWords(8, params.halfIntercept.data(), 2);
    }
    return true;
}

void QTRNet::pushData(const QByteArray &data)
{
    rxBuffer.append(data.constData(), data.size());
    // A slot run from one of the signals below may deliver more bytes; the
    // loop that is already running takes them.
    if (draining)
        return;
    draining = true;
    while (rxBuffer.takeFrame(lastFrame))
        handleFrame();
    rxBuffer.compact();
    draining = false;
}

void QTRNet::handleFrame()
{
    if (isMaple() && lastFrame.command == Columns && lastFrame.payload.size() >= 2) {
        const auto *p = reinterpret_cast<const uint8_t *>(lastFrame.payload.constData());
        params.columns = p[0] | (p[1] << 8);
        if (params.columns == 160)
            params.columnStep = 2;
        else if (params.columns == 320)
            params.columnStep = 1;
    }
    emit dataReady(&lastFrame);
    if (isMaple())
        convertZoned(lastFrame);
    else
        convertDualHalf(lastFrame);
}

int QTRNet::validCount() const
{
    return static_cast<int>(std::count_if(scanList.cbegin(), scanList.cend(),
                                          [](const PointData &p) { return p.distance != 0; }));
}

int QTRNet::nearestPointIndex(double angle) const
{
    return findNearestPoint(scanList, angle);
}
