// The writer's files read back one record type at a time, by the layout
// the MCAP format description gives each record.
#include "bytes/littleendian.h"
#include "mcap/mcapwriter.h"

#include <QBuffer>
#include <QFile>
#include <QtTest>
#include <lz4frame.h>
#include <map>
#include <zlib.h>
#include <zstd.h>

namespace {

using Compression = McapWriter::Compression;

struct Record
{
    uint8_t opcode = 0;
    qint64 offset = 0; // of the opcode, from the file's start
    qint64 length = 0; // of the whole record
    QByteArray content;
};

// Fields read in order from a record's content, never past its end.
class Fields
{
public:
    explicit Fields(const QByteArray &bytes) : bytes(bytes), reader(bytes) {}
    uint8_t u8() { return take<uint8_t>(); }
    uint16_t u16() { return take<uint16_t>(); }
    uint32_t u32() { return take<uint32_t>(); }
    uint64_t u64() { return take<uint64_t>(); }
    QByteArray bytesOf(qint64 n)
    {
        if (n < 0 || at + n > bytes.size()) {
            bad = true;
            return {};
        }
        const QByteArray out = bytes.mid(int(at), int(n));
        at += n;
        return out;
    }
    QByteArray string() { return bytesOf(u32()); }
    QByteArray rest() { return bytesOf(bytes.size() - at); }
    bool ok() const { return !bad; }

private:
    template <typename T> T take()
    {
        T value = 0;
        if (!reader.read(int(at), value))
            bad = true;
        at += qint64(sizeof(T));
        return value;
    }
    QByteArray bytes;
    Bytes::Reader reader;
    qint64 at = 0;
    bool bad = false;
};

QVector<Record> recordsOf(const QByteArray &bytes, qint64 from, qint64 to)
{
    QVector<Record> out;
    Bytes::Reader reader(bytes);
    while (from + 9 <= to) {
        Record r;
        r.opcode = reader.u8(int(from));
        const auto length = qint64(reader.u64(int(from) + 1));
        if (length < 0 || from + 9 + length > to)
            break;
        r.offset = from;
        r.length = 9 + length;
        r.content = bytes.mid(int(from + 9), int(length));
        out << r;
        from += r.length;
    }
    return out;
}

QByteArray decompressed(const QByteArray &compression, const QByteArray &data, qint64 size)
{
    QByteArray out(int(size), '\0');
    if (compression == "zstd") {
        const size_t n =
            ZSTD_decompress(out.data(), size_t(size), data.constData(), size_t(data.size()));
        return ZSTD_isError(n) || qint64(n) != size ? QByteArray("zstd failed") : out;
    }
    if (compression == "lz4") {
        LZ4F_dctx *context = nullptr;
        LZ4F_createDecompressionContext(&context, LZ4F_VERSION);
        size_t outSize = size_t(size), inSize = size_t(data.size());
        const size_t left =
            LZ4F_decompress(context, out.data(), &outSize, data.constData(), &inSize, nullptr);
        LZ4F_freeDecompressionContext(context);
        return left != 0 || qint64(outSize) != size ? QByteArray("lz4 failed") : out;
    }
    return data;
}

uint32_t crcOf(const QByteArray &bytes)
{
    return uint32_t(
        ::crc32(0, reinterpret_cast<const Bytef *>(bytes.constData()), uInt(bytes.size())));
}

// Two schemas, two channels and messages on both, spread over several
// chunks (a chunk is cut past 100 bytes of records).
struct Sample
{
    QByteArray file;
    QVector<Record> data;    // the data section, Data End last
    QVector<Record> summary; // from the footer's summary start to the footer
    QVector<Record> offsets; // the summary offset section
    Record footer;
};

struct Message
{
    uint16_t channel;
    uint64_t time;
    QByteArray data;
};
const QVector<Message> sampleMessages = {
    {1, 1'765'000'000'000'000'000ULL, "{\"a\":1}"},
    {2, 1'765'000'000'000'000'001ULL, "{}"},
    {1, 1'765'000'000'100'000'000ULL, QByteArray(120, 'x')},
    {2, 1'765'000'000'200'000'000ULL, "[1,2,3]"},
    {1, 1'765'000'000'300'000'000ULL, "null"},
};

Sample writeSample(Compression compression)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    McapWriter writer;
    McapWriter::Options options;
    options.compression = compression;
    options.chunkBytes = 100;
    options.library = "tst_mcapwriter";
    writer.open(&buffer, options);
    const uint16_t a =
        writer.addSchema("foxglove.LaserScan", "jsonschema", "{\"type\":\"object\"}");
    const uint16_t b = writer.addSchema("foxglove.PointCloud", "jsonschema", "{}");
    writer.addChannel(a, "/scan", "json", {{"model", "Dogwood"}});
    writer.addChannel(b, "/points", "json");
    for (const Message &m : sampleMessages)
        writer.write(m.channel, m.time, m.time + 7, m.data);
    if (!writer.close())
        qWarning() << writer.errorString();

    Sample s;
    s.file = buffer.data();
    Bytes::Reader reader(s.file);
    const qint64 size = s.file.size();
    const auto footers = recordsOf(s.file, size - 8 - 29, size - 8);
    if (footers.size() == 1)
        s.footer = footers[0];
    Fields footer(s.footer.content);
    const auto summaryStart = qint64(footer.u64());
    const auto offsetStart = qint64(footer.u64());
    s.data = recordsOf(s.file, 8, summaryStart ? summaryStart : size - 8 - 29);
    s.summary = recordsOf(s.file, summaryStart, offsetStart);
    s.offsets = recordsOf(s.file, offsetStart, s.footer.offset);
    return s;
}

QVector<Record> ofType(const QVector<Record> &records, uint8_t opcode)
{
    QVector<Record> out;
    for (const Record &r : records)
        if (r.opcode == opcode)
            out << r;
    return out;
}

struct Chunk
{
    uint64_t start, end, size;
    uint32_t crc;
    QByteArray compression, records;
};

Chunk chunkOf(const Record &record)
{
    Fields f(record.content);
    Chunk c;
    c.start = f.u64();
    c.end = f.u64();
    c.size = f.u64();
    c.crc = f.u32();
    c.compression = f.string();
    const QByteArray body = f.bytesOf(qint64(f.u64()));
    c.records = decompressed(c.compression, body, qint64(c.size));
    return c;
}

} // namespace

Q_DECLARE_METATYPE(Compression)

class TestMcapWriter : public QObject
{
    Q_OBJECT

    void compressions()
    {
        QTest::addColumn<Compression>("compression");
        QTest::newRow("uncompressed") << Compression::None;
        QTest::newRow("zstd") << Compression::Zstd;
        QTest::newRow("lz4") << Compression::Lz4;
    }

private slots:
    void headerAndMagic()
    {
        const Sample s = writeSample(Compression::None);
        QCOMPARE(s.file.left(8), QByteArray("\x89MCAP0\r\n"));
        QCOMPARE(s.file.right(8), QByteArray("\x89MCAP0\r\n"));
        QVERIFY(!s.data.isEmpty());
        QCOMPARE(s.data[0].opcode, uint8_t(0x01));
        Fields f(s.data[0].content);
        QCOMPARE(f.string(), QByteArray());
        QCOMPARE(f.string(), QByteArray("tst_mcapwriter"));
        QVERIFY(f.ok());
    }

    // Each chunk holds whole records and says what it holds: its times, its
    // size and the CRC-32 of its records, compressed as asked.
    void chunksAndMessages_data() { compressions(); }
    void chunksAndMessages()
    {
        QFETCH(Compression, compression);
        const Sample s = writeSample(compression);
        const QVector<Record> chunks = ofType(s.data, 0x06);
        QVERIFY2(chunks.size() >= 3, "chunks are cut at their size");
        QVector<Message> messages;
        std::map<uint16_t, uint32_t> sequence;
        int schemas = 0, channels = 0;
        for (const Record &record : chunks) {
            const Chunk chunk = chunkOf(record);
            QCOMPARE(chunk.compression, McapWriter::compressionName(compression));
            QCOMPARE(qint64(chunk.records.size()), qint64(chunk.size));
            QCOMPARE(chunk.crc, crcOf(chunk.records));
            uint64_t first = UINT64_MAX, last = 0;
            const auto inner = recordsOf(chunk.records, 0, chunk.records.size());
            qint64 covered = 0;
            for (const Record &r : inner) {
                covered += r.length;
                schemas += r.opcode == 0x03;
                channels += r.opcode == 0x04;
                if (r.opcode != 0x05)
                    continue;
                Fields f(r.content);
                Message m;
                m.channel = f.u16();
                QCOMPARE(f.u32(), sequence[m.channel]++);
                m.time = f.u64();
                QCOMPARE(f.u64(), m.time + 7); // publish time
                m.data = f.rest();
                first = std::min(first, m.time);
                last = std::max(last, m.time);
                messages << m;
            }
            QCOMPARE(covered, qint64(chunk.records.size()));
            if (first != UINT64_MAX) {
                QCOMPARE(chunk.start, first);
                QCOMPARE(chunk.end, last);
            }
        }
        QCOMPARE(schemas, 2);
        QCOMPARE(channels, 2);
        QCOMPARE(messages.size(), sampleMessages.size());
        for (int i = 0; i < messages.size(); ++i) {
            QCOMPARE(messages[i].channel, sampleMessages[i].channel);
            QCOMPARE(messages[i].time, sampleMessages[i].time);
            QCOMPARE(messages[i].data, sampleMessages[i].data);
        }
    }

    // After each chunk, one index per channel in it, each entry pointing at
    // a message of that channel and time within the uncompressed records.
    void messageIndexes_data() { compressions(); }
    void messageIndexes()
    {
        QFETCH(Compression, compression);
        const Sample s = writeSample(compression);
        int indexed = 0;
        for (int i = 0; i < s.data.size(); ++i) {
            if (s.data[i].opcode != 0x06)
                continue;
            const Chunk chunk = chunkOf(s.data[i]);
            Bytes::Reader inner(chunk.records);
            for (int j = i + 1; j < s.data.size() && s.data[j].opcode == 0x07; ++j) {
                Fields f(s.data[j].content);
                const uint16_t channel = f.u16();
                const uint32_t bytes = f.u32();
                QCOMPARE(bytes % 16, 0u);
                for (uint32_t k = 0; k < bytes / 16; ++k) {
                    const uint64_t time = f.u64();
                    const auto offset = int(f.u64());
                    QCOMPARE(inner.u8(offset), uint8_t(0x05));
                    QCOMPARE(inner.u16(offset + 9), channel);
                    QCOMPARE(inner.u64(offset + 9 + 6), time);
                    ++indexed;
                }
                QVERIFY(f.ok());
            }
        }
        QCOMPARE(indexed, sampleMessages.size());
    }

    // The summary repeats the schemas and channels, counts what the file
    // holds, and indexes every chunk with its message indexes.
    void summaryRecords_data() { compressions(); }
    void summaryRecords()
    {
        QFETCH(Compression, compression);
        const Sample s = writeSample(compression);
        const QVector<Record> chunks = ofType(s.data, 0x06);
        QVector<QByteArray> inChunks;
        for (const Record &r : chunks)
            for (const Record &inner : recordsOf(chunkOf(r).records, 0, chunkOf(r).size))
                if (inner.opcode == 0x03 || inner.opcode == 0x04)
                    inChunks << QByteArray(1, char(inner.opcode)) + inner.content;
        QVector<QByteArray> inSummary;
        for (const Record &r : s.summary)
            if (r.opcode == 0x03 || r.opcode == 0x04)
                inSummary << QByteArray(1, char(r.opcode)) + r.content;
        QCOMPARE(inSummary, inChunks);

        const QVector<Record> statistics = ofType(s.summary, 0x0B);
        QCOMPARE(statistics.size(), 1);
        Fields st(statistics[0].content);
        QCOMPARE(st.u64(), uint64_t(sampleMessages.size()));
        QCOMPARE(st.u16(), uint16_t(2)); // schemas
        QCOMPARE(st.u32(), 2u);          // channels
        QCOMPARE(st.u32(), 0u);          // attachments
        QCOMPARE(st.u32(), 0u);          // metadata
        QCOMPARE(st.u32(), uint32_t(chunks.size()));
        QCOMPARE(st.u64(), sampleMessages.first().time);
        QCOMPARE(st.u64(), sampleMessages.last().time);
        Fields counts(st.string());
        QCOMPARE(counts.u16(), uint16_t(1));
        QCOMPARE(counts.u64(), uint64_t(3));
        QCOMPARE(counts.u16(), uint16_t(2));
        QCOMPARE(counts.u64(), uint64_t(2));
        QVERIFY(st.ok() && counts.ok());

        const QVector<Record> indexes = ofType(s.summary, 0x08);
        QCOMPARE(indexes.size(), chunks.size());
        for (int i = 0; i < indexes.size(); ++i) {
            Fields f(indexes[i].content);
            const Chunk chunk = chunkOf(chunks[i]);
            QCOMPARE(f.u64(), chunk.start);
            QCOMPARE(f.u64(), chunk.end);
            QCOMPARE(qint64(f.u64()), chunks[i].offset);
            QCOMPARE(qint64(f.u64()), chunks[i].length);
            Fields offsets(f.string());
            const qint64 indexLength = qint64(f.u64());
            qint64 sum = 0;
            while (offsets.ok()) {
                const uint16_t channel = offsets.u16();
                const auto at = qint64(offsets.u64());
                if (!offsets.ok())
                    break;
                const QVector<Record> one = recordsOf(s.file, at, s.file.size());
                QVERIFY(!one.isEmpty() && one[0].opcode == 0x07);
                QCOMPARE(Bytes::Reader(one[0].content).u16(0), channel);
                sum += one[0].length;
            }
            QCOMPARE(sum, indexLength);
            QCOMPARE(f.string(), McapWriter::compressionName(compression));
            Fields chunkFields(chunks[i].content);
            const qint64 head = 8 + 8 + 8 + 4 + 4 + chunk.compression.size();
            QCOMPARE(qint64(f.u64()), chunks[i].content.size() - head - 8); // compressed size
            QCOMPARE(f.u64(), chunk.size);
            QVERIFY(f.ok());
        }
    }

    // Summary offsets find each group; Data End and the footer carry the
    // CRC-32s of the data section and of the summary.
    void offsetsAndChecksums()
    {
        const Sample s = writeSample(Compression::Zstd);
        QCOMPARE(s.data.last().opcode, uint8_t(0x0F));
        QCOMPARE(Bytes::Reader(s.data.last().content).u32(0),
                 crcOf(s.file.left(int(s.data.last().offset))));
        QStringList groups;
        for (const Record &r : s.offsets) {
            Fields f(r.content);
            const uint8_t opcode = f.u8();
            const auto start = qint64(f.u64());
            const auto length = qint64(f.u64());
            const QVector<Record> group = recordsOf(s.file, start, start + length);
            QVERIFY(!group.isEmpty());
            qint64 covered = 0;
            for (const Record &g : group) {
                QCOMPARE(g.opcode, opcode);
                covered += g.length;
            }
            QCOMPARE(covered, length);
            groups << QString::number(opcode, 16);
        }
        QCOMPARE(groups, QStringList({"3", "4", "b", "8"}));
        Fields footer(s.footer.content);
        const auto summaryStart = qint64(footer.u64());
        footer.u64();
        const uint32_t crc = footer.u32();
        QCOMPARE(summaryStart, s.data.last().offset + s.data.last().length);
        QCOMPARE(crc, crcOf(s.file.mid(int(summaryStart),
                                       int(s.footer.offset + 9 + 16 - summaryStart))));
    }

    // A file with nothing in it is still whole, and a device that fails
    // makes close() fail.
    void emptyFileAndFailedDevice()
    {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        McapWriter empty;
        QVERIFY(empty.open(&buffer, {}));
        QVERIFY(empty.close());
        QCOMPARE(buffer.data().left(8), buffer.data().right(8));
        QCOMPARE(recordsOf(buffer.data(), 8, buffer.data().size() - 8).last().opcode,
                 uint8_t(0x02));

        QFile full(QStringLiteral("/dev/full"));
        QVERIFY(full.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        McapWriter writer;
        writer.open(&full, {});
        const uint16_t schema = writer.addSchema("s", "jsonschema", "{}");
        const uint16_t channel = writer.addChannel(schema, "/scan", "json");
        writer.write(channel, 1, 1, QByteArray(3 << 20, 'x'));
        QVERIFY(!writer.close());
        QVERIFY(!writer.errorString().isEmpty());
    }
};

QTEST_APPLESS_MAIN(TestMcapWriter)
#include "tst_mcapwriter.moc"
