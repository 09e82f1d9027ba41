#ifndef VANTOSCOPE_BYTEQUEUE_H
#define VANTOSCOPE_BYTEQUEUE_H

#include <algorithm>
#include <cstdint>
#include <vector>

// Receive queue of the stream decoder: bytes are appended at the tail and
// consumed from the head. Consuming only moves a read position; the consumed
// bytes are dropped in one move when new bytes are appended, so taking many
// frames off the head of one chunk costs no copying per frame.
class ByteQueue
{
public:
    int size() const { return static_cast<int>(bytes.size() - head); }
    bool isEmpty() const { return size() == 0; }

    // Byte `index` counted from the head; the caller keeps index < size().
    uint8_t at(int index) const { return bytes[head + static_cast<size_t>(index)]; }
    const uint8_t *data() const { return bytes.data() + head; }

    void append(const char *data, int length)
    {
        if (head > 0) {
            bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(head));
            head = 0;
        }
        if (length > 0)
            bytes.insert(bytes.end(), data, data + length);
    }

    // Drops `count` bytes at the head (never more than are present).
    void removeFront(int count)
    {
        if (count <= 0)
            return;
        head += std::min(static_cast<size_t>(count), bytes.size() - head);
        if (head == bytes.size())
            clear();
    }

    void clear()
    {
        bytes.clear();
        head = 0;
    }

private:
    std::vector<uint8_t> bytes;
    size_t head = 0;
};

#endif
