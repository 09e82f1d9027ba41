#ifndef VANTOSCOPE_DEBUGPKG_H
#define VANTOSCOPE_DEBUGPKG_H

#include "lidarinfo.h"
#include "serviceframe.h"

#include <QByteArray>
#include <QObject>
#include <array>
#include <cstdint>
#include <vector>

// Service frames understood by every model: builds the information request
// and recognises information, voltage and status replies in the received
// stream, whatever scan protocol surrounds them.
class DebugPkg : public QObject
{
    Q_OBJECT
public:
    static constexpr int frameBufferSize = 8192;
    // Received bytes waiting for the frame buffer are capped at this many;
    // beyond it the oldest are dropped. One frame is handled per call, so a
    // device that sends several frames per chunk would otherwise grow the
    // queue without bound.
    static constexpr int queueLimit = 4 * frameBufferSize;

    enum Command : uint8_t
    {
        Information = 127,
        PhotodiodeVoltage = 249,
        Status = 253,
    };

    explicit DebugPkg(QObject *parent = nullptr);

    // Queues a chunk of received bytes and moves queued bytes into the
    // frame buffer until one service frame is recognised; the bytes behind
    // it wait for the next call (at most queueLimit of them).
    void pushData(const QByteArray &data);
    // The request frame for `command` with `value`.
    static QByteArray requestBytes(uint8_t command, uint16_t value);

    // Forgets the received stream: queued and buffered bytes, and the
    // status and voltage last reported.
    void resetReceiveState();
    // Read-only state, for diagnostics and invariant checks.
    uint8_t lastStatusByte() const { return statusByte; }
    uint16_t photodiodeVoltage() const { return pdVoltage; }
    int bufferedFrameBytes() const { return frameLength; }
    int queuedBytes() const { return static_cast<int>(rxQueue.size() - queueHead); }

signals:
    void dataReady();
    void lidarInfoReady(LidarInfoTypedef lidarInfo);

private:
    struct Frame
    {
        uint8_t command = 0;
        QByteArray payload;
    };
    bool checkFrame(Frame &frame);

    std::array<uint8_t, frameBufferSize> frameBuffer{};
    int frameLength = 0;
    // Positions p in frameBuffer with AA at p - 1 and p, oldest first.
    std::vector<int> startPairs;
    std::vector<uint8_t> rxQueue;
    size_t queueHead = 0;
    std::array<uint8_t, ServiceFrame::maxBody> content{};
    uint8_t statusByte = 255;
    uint16_t pdVoltage = 0;
};

#endif
