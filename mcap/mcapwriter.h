#ifndef VANTOSCOPE_MCAP_MCAPWRITER_H
#define VANTOSCOPE_MCAP_MCAPWRITER_H

#include <QByteArray>
#include <QString>
#include <QVector>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

class QIODevice;
struct ZSTD_CCtx_s;

// Writes an MCAP file in one pass, as the format's published description
// lays it out:
//   magic, Header,
//   data section: Chunks (holding the Schema, Channel and Message records),
//     each followed by one Message Index per channel it holds, then Data End
//     with the CRC-32 of the data section,
//   summary: Schemas, Channels, Statistics, Chunk Indexes (grouped by
//     opcode), one Summary Offset per group,
//   Footer with the summary's CRC-32, magic.
// Chunks are cut at chunkBytes of records and compressed as chosen; each
// carries the CRC-32 of its uncompressed records. Times are nanoseconds.
class McapWriter
{
public:
    enum class Compression
    {
        None,
        Zstd,
        Lz4,
    };
    struct Options
    {
        Compression compression = Compression::None;
        int chunkBytes = 1 << 20;
        QByteArray profile;
        QByteArray library;
    };
    // The name the format gives a compression ("", "zstd", "lz4").
    static QByteArray compressionName(Compression compression);

    McapWriter() = default;
    ~McapWriter();
    McapWriter(const McapWriter &) = delete;
    McapWriter &operator=(const McapWriter &) = delete;

    // Starts a file on `device`, open for writing; it stays the caller's.
    // False when the device fails. A writer writes one file.
    bool open(QIODevice *device, const Options &options);
    bool isOpen() const { return out != nullptr; }

    // Ids from 1, in the order added.
    uint16_t addSchema(const QByteArray &name, const QByteArray &encoding, const QByteArray &data);
    uint16_t addChannel(uint16_t schemaId, const QByteArray &topic,
                        const QByteArray &messageEncoding,
                        const std::map<QByteArray, QByteArray> &metadata = {});
    // One message on a channel added before; its sequence number counts the
    // channel's messages from 0. False once the device has failed.
    bool write(uint16_t channelId, uint64_t logTime, uint64_t publishTime, const char *data,
               int size);
    bool write(uint16_t channelId, uint64_t logTime, uint64_t publishTime, const QByteArray &data)
    {
        return write(channelId, logTime, publishTime, data.constData(), int(data.size()));
    }
    // Writes the last chunk, the summary and the footer. False when any
    // write failed, with errorString().
    bool close();
    QString errorString() const { return error; }

    uint64_t messageCount() const { return messages; }

private:
    struct Channel
    {
        uint16_t id;
        uint16_t schemaId;
        QByteArray record; // the whole record, as the summary repeats it
        uint32_t sequence = 0;
        uint64_t count = 0;
    };
    struct ChunkIndex
    {
        uint64_t startTime, endTime, offset, length;
        std::vector<std::pair<uint16_t, uint64_t>> indexOffsets;
        uint64_t indexLength, compressedSize, uncompressedSize;
    };

    void emitBytes(const QByteArray &bytes);
    void emitBytes(const char *data, qint64 size);
    void flushChunk();
    bool fail(const QString &reason);

    QIODevice *out = nullptr;
    Options options;
    QString error;
    uint64_t position = 0;
    uint32_t dataCrc = 0;
    QByteArray pending; // written out in large blocks
    std::vector<QByteArray> schemas;
    std::vector<Channel> channels;
    std::vector<ChunkIndex> chunkIndexes;
    uint64_t messages = 0;
    uint64_t firstTime = 0, lastTime = 0;

    // The chunk being filled.
    QByteArray records;
    uint64_t chunkStart = 0, chunkEnd = 0;
    bool chunkHasMessages = false;
    std::map<uint16_t, std::vector<std::pair<uint64_t, uint64_t>>> messageIndex;
    QByteArray compressed;
    ZSTD_CCtx_s *zstd = nullptr;
};

#endif
