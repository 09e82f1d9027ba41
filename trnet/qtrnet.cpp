#include "qtrnet.h"

#include "bytes/littleendian.h"
#include "editions/edition.h"
#include "points/pointsearch.h"
#include "trframe.h"

#include <algorithm>
#include <cstring>

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
    QByteArray payload;
    Bytes::appendU32(payload, value);
    return TRFrame::encode(address, command, 0, payload);
}

QByteArray QTRNet::shortCommandBytes(uint8_t address, uint8_t command, uint16_t value)
{
    QByteArray payload;
    Bytes::appendU16(payload, value);
    return TRFrame::encode(address, command, 0, payload);
}

void QTRNet::resetReceiveState()
{
    rxBuffer = FrameSplitter();
    scanList = PointList();
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
    const Bytes::Reader payload(bytes);
    // Words the reply is too short for keep their former values.
    auto copyWords = [&payload](int offset, uint32_t *words, int count) {
        for (int i = 0; i < count; ++i)
            if (!payload.read(offset + 4 * i, words[i]))
                return;
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
    uint16_t columns = 0;
    if (isMaple() && lastFrame.command == Columns &&
        Bytes::Reader(lastFrame.payload).read(0, columns)) {
        params.columns = columns;
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
