#include "qtrnet.h"

#include "editions/edition.h"
#include "points/pointsearch.h"
#include "trframe.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSerialPort>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {

constexpr int pauseMs = 50;
constexpr int stopSettleMs = 200;
constexpr int columnsSettleMs = 200;
constexpr int handshakeTimeoutMs = 1000;

// Runs the event loop until `clock` reaches `untilMs` or `done` holds,
// sleeping while there is nothing to do.
template <typename Done>
void processEventsUntil(const QElapsedTimer &clock, qint64 untilMs, Done done)
{
    QTimer wake;
    wake.setSingleShot(true);
    while (!done()) {
        const qint64 left = untilMs - clock.elapsed();
        if (left <= 0)
            break;
        wake.start(static_cast<int>(left));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

void processEventsFor(qint64 ms)
{
    QElapsedTimer clock;
    clock.start();
    processEventsUntil(clock, ms, [] { return false; });
}

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

QTRNet::QTRNet(QSerialPort *serialPort) : QObject(serialPort), port(serialPort)
{
    if (!serialPort)
        throw std::invalid_argument("SerialPort is NULL");
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

bool QTRNet::sendFrame(uint8_t address, uint8_t command, const QByteArray &payload)
{
    if (busy || !port->isOpen())
        return false;
    port->write(TRFrame::encode(address, command, 0, payload));
    pauseAfterWrite();
    return true;
}

bool QTRNet::sendCommand(uint8_t address, uint8_t command, uint32_t value)
{
    return sendFrame(address, command, littleEndian(value, 4));
}

bool QTRNet::sendShortCommand(uint8_t address, uint8_t command, uint16_t value)
{
    return sendFrame(address, command, littleEndian(value, 2));
}

void QTRNet::pauseAfterWrite()
{
    if (busy)
        return;
    busy = true;
    processEventsFor(pauseMs);
    busy = false;
}

void QTRNet::startLidar()
{
    QElapsedTimer clock;
    clock.start();
    cancelled = false;
    const auto isCancelled = [this] { return cancelled; };

    sendCommand(1, Stop, 1);
    processEventsUntil(clock, stopSettleMs, isCancelled);
    if (cancelled)
        return;

    if (isMaple()) {
        sendCommand(1, Columns, 1);
        if (!busy) {
            busy = true;
            QElapsedTimer settle;
            settle.start();
            processEventsUntil(settle, columnsSettleMs, isCancelled);
            busy = false;
        }
    }
    if (cancelled)
        return;

    sendCommand(1, Calibration, 1);
    processEventsUntil(clock, handshakeTimeoutMs,
                       [this] { return cancelled || lastFrame.command == Calibration; });
    // Stopped or lost while waiting: no reply is missing, nothing to report.
    if (cancelled)
        return;
    // A reply left from an earlier connection satisfies the wait as well.
    if (lastFrame.command != Calibration) {
        emit errorMessage(tr("connect failed"));
        return;
    }
    applyCalibrationReply(lastFrame);
    sendShortCommand(1, MeasuredSamples, 1);
    enterStartedMode();
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
