#ifndef VANTOSCOPE_FRAMESPLITTER_H
#define VANTOSCOPE_FRAMESPLITTER_H

#include "trdata.h"

#include <cstdint>
#include <queue>
#include <vector>

// Splits the received byte stream of the command/response protocol into
// frames, in stream order. A frame is taken wherever four header bytes start
// a frame whose length fits and whose checksum matches; bytes before and
// between frames are dropped with the next frame taken behind them.
//
// Every start position is examined once. A header whose frame has not fully
// arrived is remembered with the stream offset at which it will be complete
// and checked again only then, so the work per received byte stays constant
// however long the stream goes without a frame. Bytes that can no longer
// start a frame are released, which bounds the buffer to about one longest
// frame plus `slack` bytes.
class FrameSplitter
{
public:
    static constexpr int slack = 64 * 1024;

    void append(const char *data, int size);
    // Takes the next frame of the stream into `frame`; false when the bytes
    // present hold no further frame (yet).
    bool takeFrame(TRData &frame);
    // Releases the bytes that can no longer be part of a frame. Call after
    // takeFrame has returned false.
    void compact();

    // Bytes held in memory, including released bytes not yet reclaimed.
    int bufferSize() const { return static_cast<int>(buffer.size()); }
    // Bytes that may still belong to a frame.
    int liveBytes() const;
    // Headers waiting for the rest of their frame (some may be stale).
    int pendingHeaders() const { return static_cast<int>(waiting.size()); }
    uint64_t streamOffset() const { return base + buffer.size(); }

private:
    enum class Verdict
    {
        NoFrame,
        Frame,
        Incomplete
    };
    struct Pending
    {
        uint64_t completeAt; // stream offset at which it can be checked again
        uint64_t position;
        bool operator>(const Pending &o) const
        {
            return completeAt != o.completeAt ? completeAt > o.completeAt : position > o.position;
        }
    };
    struct ByPosition
    {
        bool operator()(const Pending &a, const Pending &b) const
        {
            return a.position > b.position;
        }
    };

    Verdict examine(uint64_t position, uint64_t &frameEnd) const;
    void decode(uint64_t position, TRData &frame) const;
    const uint8_t *at(uint64_t position) const { return buffer.data() + (position - base); }
    uint64_t end() const { return base + buffer.size(); }

    std::vector<uint8_t> buffer;
    // prefixSum[k]: byte sum of buffer[0, k) modulo 256, for O(1) checksums.
    std::vector<uint8_t> prefixSum{0};
    uint64_t base = 0;    // stream offset of buffer[0]
    uint64_t resume = 0;  // end of the last frame taken; nothing before it matters
    uint64_t scanned = 0; // start positions below this have been examined once
    std::priority_queue<Pending, std::vector<Pending>, std::greater<Pending>> waiting;
    std::priority_queue<Pending, std::vector<Pending>, ByPosition> due;
};

#endif
