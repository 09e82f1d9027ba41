#include "framebounds.h"

namespace FrameDecode {

namespace {

Examined needMore()
{
    return Examined{};
}

Examined reject(int length, bool countsError, bool endsRun = false)
{
    return Examined{Examined::Reject, length, countsError, endsRun};
}

Examined frame(int length, bool endsRun = false)
{
    return Examined{Examined::Frame, length, false, endsRun};
}

bool isPkg47Header(const uint8_t *b)
{
    return b[0] == 0x54 && (b[1] == 0x2C || b[1] == 0xEC);
}

bool isPkg36Header(const uint8_t *b)
{
    return b[0] == 0x55 && b[1] == 0xAA && (b[2] == pkg36Measurement || b[2] == pkg36Information);
}

bool isPkgVariableHeader(const uint8_t *b)
{
    return (b[0] == 0xAA && b[1] == 0x55) || isPkgVariableResponse(b);
}

} // namespace

int pkg47HeaderOffset(const uint8_t *bytes, int size)
{
    int i = 0;
    while (i < size - 1 && !isPkg47Header(bytes + i))
        ++i;
    return i;
}

int pkg36HeaderOffset(const uint8_t *bytes, int size)
{
    int i = 0;
    while (i < size - 2 && !isPkg36Header(bytes + i))
        ++i;
    return i;
}

int pkgVariableHeaderOffset(const uint8_t *bytes, int size)
{
    int i = 0;
    while (i < size - 1 && !isPkgVariableHeader(bytes + i))
        ++i;
    return i;
}

Examined examinePkg47(const uint8_t *bytes, int size)
{
    if (size < pkg47Size)
        return needMore();
    // A mismatch costs the two header bytes only: a frame may start inside
    // the rejected one.
    if (!pkg47CrcMatches(bytes))
        return reject(2, true);
    return frame(pkg47Size);
}

Examined examinePkg36(const uint8_t *bytes, int size)
{
    if (size < pkg36Size)
        return needMore();
    if (!pkg36ChecksumMatches(bytes))
        return reject(2, true);
    return frame(pkg36Size);
}

bool isPkgVariableResponse(const uint8_t *frame)
{
    return frame[0] == 0xA5 && frame[1] == 0x5A;
}

Examined examinePkgVariable(const uint8_t *bytes, int size)
{
    if (size < pkgVariableResponseSize)
        return needMore();
    // A response header ends the run whatever it holds. Only responses of
    // type 6 are known; any other header is skipped like a bad sample count,
    // so it cannot stall the stream. Neither counts as an error.
    if (isPkgVariableResponse(bytes)) {
        if (bytes[6] == pkgVariableResponseType)
            return frame(pkgVariableResponseSize, true);
        return reject(2, false, true);
    }
    // A packet is looked at only once this many bytes are buffered, however
    // short its sample count makes it.
    if (size < pkgVariableMinBuffered)
        return needMore();
    // Too many samples: the header is dropped silently (no error) and the run
    // ends, so the bytes behind it are searched in the next run.
    const int sampleCount = bytes[3];
    if (sampleCount > pkgVariableMaxSamples)
        return reject(2, false, true);
    const int length = pkgVariableHeaderSize + 3 * sampleCount;
    if (size < length)
        return needMore();
    if (!pkgVariableChecksumMatches(bytes, sampleCount))
        return reject(2, true);
    return frame(length);
}

const FrameRules &frameRules(Format format)
{
    static const FrameRules pkg47{pkg47Size, pkg47BufferLimit, pkg47HeaderOffset, examinePkg47};
    static const FrameRules pkg36{pkg36Size, pkg36BufferLimit, pkg36HeaderOffset, examinePkg36};
    static const FrameRules pkgVariable{pkgVariableHeaderSize, pkgVariableBufferLimit,
                                        pkgVariableHeaderOffset, examinePkgVariable};
    switch (format) {
    case Format::Pkg36:
        return pkg36;
    case Format::PkgVariable:
        return pkgVariable;
    case Format::Pkg47:
        break;
    }
    return pkg47;
}

} // namespace FrameDecode
