#include "framesplitter.h"

#include "bytes/littleendian.h"
#include "trframe.h"

#include <algorithm>

void FrameSplitter::append(const char *data, int size)
{
    if (size <= 0)
        return;
    buffer.insert(buffer.end(), data, data + size);
    // push_back grows geometrically; reserving the exact size here would
    // reallocate and copy the whole prefix for every small chunk.
    uint8_t sum = prefixSum.back();
    for (int i = 0; i < size; ++i) {
        sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(data[i]));
        prefixSum.push_back(sum);
    }
}

FrameSplitter::Verdict FrameSplitter::examine(uint64_t position, uint64_t &frameEnd) const
{
    const uint64_t available = end() - position;
    const uint8_t *p = at(position);
    if (available < TRFrame::lengthOffset + 2) {
        frameEnd = position + TRFrame::lengthOffset + 2; // length field still missing
        return Verdict::Incomplete;
    }
    const uint32_t n = Bytes::Reader(p, TRFrame::lengthOffset + 2).u16(TRFrame::lengthOffset);
    frameEnd = position + TRFrame::overhead + n;
    if (frameEnd > end())
        return Verdict::Incomplete;
    const size_t first = position - base + TRFrame::headerSize;
    const size_t checksumAt = position - base + TRFrame::payloadOffset + n;
    const uint8_t sum = static_cast<uint8_t>(prefixSum[checksumAt] - prefixSum[first]);
    return sum == buffer[checksumAt] ? Verdict::Frame : Verdict::NoFrame;
}

void FrameSplitter::decode(uint64_t position, TRData &frame) const
{
    const uint8_t *p = at(position);
    const Bytes::Reader header(p, TRFrame::payloadOffset);
    const int n = header.u16(TRFrame::lengthOffset);
    frame.address = p[4];
    frame.command = p[5];
    frame.parameter = header.u16(6);
    frame.payload = QByteArray(reinterpret_cast<const char *>(p + TRFrame::payloadOffset), n);
}

bool FrameSplitter::takeFrame(TRData &frame)
{
    // Headers seen earlier whose frame has arrived since are checked first,
    // in stream order; they all lie before the unexamined bytes.
    while (!waiting.empty() && waiting.top().completeAt <= end()) {
        due.push(waiting.top());
        waiting.pop();
    }
    while (!due.empty()) {
        const uint64_t position = due.top().position;
        due.pop();
        if (position < resume)
            continue; // inside or before a frame already taken
        uint64_t frameEnd = 0;
        switch (examine(position, frameEnd)) {
        case Verdict::Frame:
            decode(position, frame);
            resume = frameEnd;
            return true;
        case Verdict::Incomplete:
            waiting.push({frameEnd, position});
            break;
        case Verdict::NoFrame:
            break;
        }
    }

    // A start position is examined once at least five bytes follow it.
    uint64_t position = std::max(scanned, resume);
    while (position < end() && end() - position > TRFrame::headerSize) {
        if (!TRFrame::isHeader(at(position))) {
            ++position;
            continue;
        }
        uint64_t frameEnd = 0;
        const Verdict verdict = examine(position, frameEnd);
        if (verdict == Verdict::Frame) {
            decode(position, frame);
            resume = scanned = frameEnd;
            // Every header still waiting lies before this frame.
            waiting = {};
            return true;
        }
        if (verdict == Verdict::Incomplete)
            waiting.push({frameEnd, position});
        ++position;
    }
    scanned = std::max(scanned, position);
    return false;
}

int FrameSplitter::liveBytes() const
{
    const uint64_t from = std::min(scanned, std::max(resume, end() > uint64_t(TRFrame::maxLength)
                                                                 ? end() - TRFrame::maxLength
                                                                 : uint64_t(0)));
    return static_cast<int>(end() - std::max(from, base));
}

void FrameSplitter::compact()
{
    // A header still waiting completes at most one longest frame after its
    // start, so nothing older than that, and nothing before the last frame
    // taken, can still become a frame.
    const uint64_t keepFrom = end() - static_cast<uint64_t>(liveBytes());
    const size_t dead = keepFrom - base;
    if (dead == buffer.size()) {
        buffer.clear();
        prefixSum.assign(1, 0);
        base = keepFrom;
    } else if (dead >= static_cast<size_t>(slack)) {
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(dead));
        prefixSum.erase(prefixSum.begin(), prefixSum.begin() + static_cast<std::ptrdiff_t>(dead));
        base = keepFrom;
    }
    // A single huge chunk must not pin its memory for the rest of the run.
    const size_t keepCapacity = 4 * (TRFrame::maxLength + slack);
    if (buffer.capacity() > keepCapacity && buffer.size() < keepCapacity / 4) {
        buffer.shrink_to_fit();
        prefixSum.shrink_to_fit();
    }
}
