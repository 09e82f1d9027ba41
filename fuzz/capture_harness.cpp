// libFuzzer entry point for the capture reader: any bytes, read as pcapng
// (or, without a pcapng header, as a raw byte file), must keep the reader's
// promises. A broken one aborts with its name.
#include "capturereader.h"

#include <QBuffer>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

// Reads everything once; the name of the first broken invariant, or nullptr.
const char *readThrough(CaptureReader &reader, qint64 size, qint64 *count)
{
    CaptureRecord record;
    qint64 bytes = 0;
    qint64 last = std::numeric_limits<qint64>::min();
    *count = 0;
    while (reader.readNext(record)) {
        ++*count;
        bytes += record.data.size();
        if (record.data.isEmpty())
            return "records carry bytes";
        // Every record's bytes are a part of the file of their own.
        if (bytes > size)
            return "records lie within the file";
        if (record.timeNs < last)
            return "times never go backwards";
        last = record.timeNs;
        if (record.interface < 0 || record.interface >= reader.interfaces().size())
            return "records name a known interface";
    }
    if (reader.interfaces().size() > CaptureReader::maxInterfaces)
        return "interfaces stay bounded";
    if (reader.truncated() && reader.damaged())
        return "a cut-off capture is not also damaged";
    return nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<int>(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    CaptureReader reader;
    if (!reader.open(&buffer, 115200))
        return 0;
    qint64 first = 0, again = 0;
    const char *broken = readThrough(reader, bytes.size(), &first);
    // Rewinding starts over from a clean state: the same records again.
    if (!broken && reader.rewind()) {
        broken = readThrough(reader, bytes.size(), &again);
        if (!broken && again != first)
            broken = "a rewind reads the same records";
    }
    if (broken) {
        std::fprintf(stderr, "capture invariant broken: %s\n", broken);
        std::abort();
    }
    return 0;
}
