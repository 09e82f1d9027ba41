#include "debugpkg.h"

#include "debugpkglogging.h"

DebugPkg::DebugPkg(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<LidarInfoTypedef>("LidarInfoTypedef");
}

QByteArray DebugPkg::requestBytes(uint8_t command, uint16_t value)
{
    return ServiceFrame::encodeRequest(command, 0, value);
}

void DebugPkg::resetReceiveState()
{
    frameLength = 0;
    startPairs.clear();
    rxQueue.clear();
    queueHead = 0;
    statusByte = 255;
    pdVoltage = 0;
}

void DebugPkg::pushData(const QByteArray &data)
{
    rxQueue.insert(rxQueue.end(), data.constBegin(), data.constEnd());
    if (rxQueue.size() - queueHead > static_cast<size_t>(queueLimit)) {
        // Keep the newest bytes. What the frame buffer holds no longer
        // continues into the queue, so it starts afresh too.
        queueHead = rxQueue.size() - queueLimit;
        frameLength = 0;
        startPairs.clear();
    }

    Frame frame;
    bool recognised = false;
    while (queueHead < rxQueue.size()) {
        const uint8_t byte = rxQueue[queueHead++];
        frameBuffer[frameLength] = byte;
        if (frameLength > 0 && byte == ServiceFrame::startByte &&
            frameBuffer[frameLength - 1] == ServiceFrame::startByte)
            startPairs.push_back(frameLength);
        ++frameLength;

        if (byte == ServiceFrame::endByte && frameLength >= ServiceFrame::minimumSize &&
            frameBuffer[frameLength - 2] == ServiceFrame::endByte && checkFrame(frame)) {
            recognised = true;
            break;
        }
        if (frameLength == frameBufferSize) {
            // Nothing recognisable in a full buffer: start afresh and go on
            // with the queued bytes, which may hold the next frame.
            frameLength = 0;
            startPairs.clear();
        }
    }
    if (queueHead == rxQueue.size()) {
        rxQueue.clear();
        queueHead = 0;
    } else if (queueHead > rxQueue.size() / 2) {
        rxQueue.erase(rxQueue.begin(), rxQueue.begin() + static_cast<std::ptrdiff_t>(queueHead));
        queueHead = 0;
    }
    if (!recognised)
        return;

    frameLength = 0;
    startPairs.clear();
    switch (frame.command) {
    case Information:
        emit lidarInfoReady(LidarInfoTypedef::fromPayload(frame.payload));
        break;
    case PhotodiodeVoltage:
        if (frame.payload.size() >= 2) {
            pdVoltage =
                static_cast<uint16_t>(uint8_t(frame.payload[0]) | (uint8_t(frame.payload[1]) << 8));
            qCDebug(lcDebugPkg) << "PDVoltage" << pdVoltage;
        }
        break;
    case Status:
        if (!frame.payload.isEmpty())
            statusByte = static_cast<uint8_t>(frame.payload[0]);
        break;
    default:
        break;
    }
    emit dataReady();
}

bool DebugPkg::checkFrame(Frame &frame)
{
    // The start pair nearest the end that leaves room for the fixed fields.
    const int n = frameLength;
    const int latestStart = n - 13;
    auto pair = startPairs.crbegin();
    while (pair != startPairs.crend() && *pair > latestStart)
        ++pair;
    if (pair == startPairs.crend())
        return false;
    const int bodyBegin = *pair + 1;
    const int bodyEnd = n - 2;
    if (bodyEnd - bodyBegin > ServiceFrame::maxBody)
        return false;

    int k = 0;
    for (int i = bodyBegin; i < bodyEnd; ++i) {
        // An escape takes the next byte as it is, even the first end byte.
        if (frameBuffer[i] == ServiceFrame::escapeByte)
            ++i;
        content[k++] = frameBuffer[i];
        if (k == ServiceFrame::maxBody)
            return false;
    }

    uint8_t sum = 0;
    for (int i = 0; i < k - 1; ++i)
        sum = static_cast<uint8_t>(sum + content[i]);
    if (k < 2 || sum != content[k - 1] || content[0] != ServiceFrame::marker)
        return false;
    frame.command = content[1];
    const int payloadSize = k - 1 - ServiceFrame::headerSize;
    frame.payload =
        payloadSize > 0
            ? QByteArray(reinterpret_cast<const char *>(content.data()) + ServiceFrame::headerSize,
                         payloadSize)
            : QByteArray();
    return true;
}
