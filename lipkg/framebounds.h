#ifndef VANTOSCOPE_FRAMEBOUNDS_H
#define VANTOSCOPE_FRAMEBOUNDS_H

#include "framedecode.h"

#include <cstdint>

// Where frames of the three stream formats start and end in received bytes.
// These functions hold no state and touch nothing but the bytes they are
// given; LiPkg runs them from one loop (LiPkg::parse), which owns the buffer,
// the error count and what happens to a frame once found.
namespace FrameDecode {

// What the bytes at a header hold.
struct Examined
{
    enum Kind
    {
        NeedMore, // nothing can be decided before more bytes arrive
        Reject,   // drop `length` bytes and look again
        Frame     // a checked frame of `length` bytes starts here
    };
    Kind kind = NeedMore;
    int length = 0;
    // A rejection that counts as one packet error.
    bool countsError = false;
    // The parser run stops behind these bytes even when more are buffered;
    // what is left waits for the next chunk.
    bool endsRun = false;
};

struct FrameRules
{
    // Fewer bytes than this buffered start no run at all.
    int runMinimum;
    // More bytes than this buffered are discarded, as one packet error.
    int bufferLimit;
    // The number of bytes before the first header in `bytes`. Without a
    // header it leaves the bytes that might still begin one: the last byte
    // (the last two for Pkg36).
    int (*headerOffset)(const uint8_t *bytes, int size);
    // `bytes` start where headerOffset found a header (or hold too few bytes
    // to tell).
    Examined (*examine)(const uint8_t *bytes, int size);
};

int pkg47HeaderOffset(const uint8_t *bytes, int size);
int pkg36HeaderOffset(const uint8_t *bytes, int size);
int pkgVariableHeaderOffset(const uint8_t *bytes, int size);

Examined examinePkg47(const uint8_t *bytes, int size);
Examined examinePkg36(const uint8_t *bytes, int size);
// Frames are measurement packets (0xAA 0x55) and responses of type 6
// (0xA5 0x5A, 11 bytes); isPkgVariableResponse tells them apart.
Examined examinePkgVariable(const uint8_t *bytes, int size);
bool isPkgVariableResponse(const uint8_t *frame);

const FrameRules &frameRules(Format format);

} // namespace FrameDecode

#endif
