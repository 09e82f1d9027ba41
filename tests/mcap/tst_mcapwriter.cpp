// The writer's files read back record by record, by the layout the MCAP
// format description gives each record type; the npm reader opens the
// decoder's files as well (tests/node).
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
    int offset = 0; // of the opcode, from the file's start
    int length = 0; // of the whole record
    QByteArray content;
};

// A record's fields in order; reading past its end gives zeros and !ok().
struct Fields
{
    explicit Fields(const QByteArray &bytes) : bytes(bytes) {}
    template <typename T> T next()
    {
        T value = 0;
        ok = ok && Bytes::Reader(bytes).read(at, value);
        at += int(sizeof(T));
        return value;
    }
    QByteArray take(qint64 n)
    {
        ok = ok && n >= 0 && at + n <= bytes.size();
        const QByteArray out = ok ? bytes.mid(at, int(n)) : QByteArray();
        at += int(n);
        return out;
    }
    QByteArray string() { return take(next<uint32_t>()); }
    QByteArray bytes;
    int at = 0;
    bool ok = true;
};

QVector<Record> recordsOf(const QByteArray &bytes, int from, int to)
{
    QVector<Record> out;
    Bytes::Reader reader(bytes);
    while (from + 9 <= to) {
        const auto length = qint64(reader.u64(from + 1));
        if (length < 0 || from + 9 + length > to)
            break;
        out << Record{reader.u8(from), from, int(9 + length), bytes.mid(from + 9, int(length))};
        from += out.last().length;
    }
    return out;
}

uint32_t crcOf(const QByteArray &bytes)
{
    return uint32_t(
        ::crc32(0, reinterpret_cast<const Bytef *>(bytes.constData()), uInt(bytes.size())));
}

struct Chunk
{
    uint64_t start, end, size;
    uint32_t crc;
    QByteArray compression, records;
};

// A chunk with its records uncompressed by the library that made them.
Chunk chunkOf(const Record &record)
{
    Fields f(record.content);
    Chunk c{f.next<uint64_t>(), f.next<uint64_t>(), f.next<uint64_t>(),
            f.next<uint32_t>(), f.string(),         {}};
    const QByteArray body = f.take(qint64(f.next<uint64_t>()));
    c.records = QByteArray(int(c.size), '\0');
    size_t n = c.size;
    if (c.compression == "zstd") {
        n = ZSTD_decompress(c.records.data(), n, body.constData(), size_t(body.size()));
    } else if (c.compression == "lz4") {
        LZ4F_dctx *context = nullptr;
        LZ4F_createDecompressionContext(&context, LZ4F_VERSION);
        size_t in = size_t(body.size());
        LZ4F_decompress(context, c.records.data(), &n, body.constData(), &in, nullptr);
        LZ4F_freeDecompressionContext(context);
    } else {
        c.records = body;
    }
    if (n != c.size)
        c.records = "decompression failed";
    return c;
}

struct Message
{
    uint16_t channel;
    uint64_t time;
    QByteArray data;
};
const QVector<Message> sampleMessages = {{1, 1'765'000'000'000'000'000ULL, "{\"a\":1}"},
                                         {2, 1'765'000'000'000'000'001ULL, "{}"},
                                         {1, 1'765'000'000'100'000'000ULL, QByteArray(120, 'x')},
                                         {2, 1'765'000'000'200'000'000ULL, "[1,2,3]"},
                                         {1, 1'765'000'000'300'000'000ULL, "null"}};

// Two schemas, two channels and messages on both, over several chunks (one
// is cut past 100 bytes of records), split into the file's sections.
struct Sample
{
    QByteArray file;
    QVector<Record> data, summary, offsets; // data: Header first, Data End last
    Record footer;
};

Sample writeSample(Compression compression)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    McapWriter writer;
    writer.open(&buffer, {compression, 100, {}, "tst_mcapwriter"});
    const uint16_t a = writer.addSchema("foxglove.LaserScan", "jsonschema", "{\"a\":1}");
    const uint16_t b = writer.addSchema("foxglove.PointCloud", "jsonschema", "{}");
    writer.addChannel(a, "/scan", "json", {{"model", "Dogwood"}});
    writer.addChannel(b, "/points", "json");
    for (const Message &m : sampleMessages)
        writer.write(m.channel, m.time, m.time + 7, m.data);
    writer.close();

    Sample s;
    s.file = buffer.data();
    const int size = int(s.file.size());
    s.footer = recordsOf(s.file, size - 8 - 29, size - 8).value(0);
    Fields footer(s.footer.content);
    const auto summaryStart = int(footer.next<uint64_t>());
    const auto offsetStart = int(footer.next<uint64_t>());
    s.data = recordsOf(s.file, 8, summaryStart);
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

} // namespace

Q_DECLARE_METATYPE(Compression)

class TestMcapWriter : public QObject
{
    Q_OBJECT

private slots:
    void dataSection_data()
    {
        QTest::addColumn<Compression>("compression");
        QTest::newRow("uncompressed") << Compression::None;
        QTest::newRow("zstd") << Compression::Zstd;
        QTest::newRow("lz4") << Compression::Lz4;
    }
    // Magic and Header; Chunks of whole Schema, Channel and Message records
    // with their times, sizes and CRC-32; after each, one Message Index per
    // channel pointing at its messages; Data End with the section's CRC-32.
    void dataSection()
    {
        QFETCH(Compression, compression);
        const Sample s = writeSample(compression);
        QCOMPARE(s.file.left(8), QByteArray("\x89MCAP0\r\n"));
        QCOMPARE(s.file.right(8), QByteArray("\x89MCAP0\r\n"));
        QCOMPARE(s.data.first().opcode, uint8_t(0x01));
        Fields header(s.data.first().content);
        QCOMPARE(header.string(), QByteArray());
        QCOMPARE(header.string(), QByteArray("tst_mcapwriter"));

        QVector<Message> messages;
        std::map<uint16_t, uint32_t> sequence;
        int schemas = 0, channels = 0, chunks = 0, indexed = 0;
        for (int i = 0; i < s.data.size(); ++i) {
            if (s.data[i].opcode != 0x06)
                continue;
            ++chunks;
            const Chunk chunk = chunkOf(s.data[i]);
            QCOMPARE(chunk.compression, McapWriter::compressionName(compression));
            QCOMPARE(chunk.crc, crcOf(chunk.records));
            const QVector<Record> inner = recordsOf(chunk.records, 0, int(chunk.records.size()));
            QCOMPARE(inner.last().offset + inner.last().length, int(chunk.size));
            uint64_t first = UINT64_MAX, last = 0;
            for (const Record &r : inner) {
                schemas += r.opcode == 0x03;
                channels += r.opcode == 0x04;
                if (r.opcode != 0x05)
                    continue;
                Fields f(r.content);
                Message m{f.next<uint16_t>(), 0, {}};
                QCOMPARE(f.next<uint32_t>(), sequence[m.channel]++);
                m.time = f.next<uint64_t>();
                QCOMPARE(f.next<uint64_t>(), m.time + 7); // publish time
                m.data = f.take(r.content.size() - f.at);
                first = std::min(first, m.time);
                last = std::max(last, m.time);
                messages << m;
            }
            if (first != UINT64_MAX)
                QVERIFY(chunk.start == first && chunk.end == last);
            Bytes::Reader records(chunk.records);
            for (int j = i + 1; j < s.data.size() && s.data[j].opcode == 0x07; ++j) {
                Fields f(s.data[j].content);
                const auto channel = f.next<uint16_t>();
                const uint32_t entries = f.next<uint32_t>() / 16;
                for (uint32_t k = 0; k < entries; ++k, ++indexed) {
                    const auto time = f.next<uint64_t>();
                    const auto at = int(f.next<uint64_t>());
                    QCOMPARE(records.u8(at), uint8_t(0x05));
                    QCOMPARE(records.u16(at + 9), channel);
                    QCOMPARE(records.u64(at + 9 + 6), time);
                }
                QVERIFY(f.ok && f.at == s.data[j].content.size());
            }
        }
        QVERIFY2(chunks >= 3, "chunks are cut at their size");
        QVERIFY(schemas == 2 && channels == 2);
        QCOMPARE(indexed, sampleMessages.size());
        QCOMPARE(messages.size(), sampleMessages.size());
        for (int i = 0; i < messages.size(); ++i)
            QVERIFY(messages[i].channel == sampleMessages[i].channel &&
                    messages[i].time == sampleMessages[i].time &&
                    messages[i].data == sampleMessages[i].data);
        QCOMPARE(s.data.last().opcode, uint8_t(0x0F));
        QCOMPARE(Bytes::Reader(s.data.last().content).u32(0),
                 crcOf(s.file.left(s.data.last().offset)));
    }

    // The summary repeats the Schemas and Channels, counts in Statistics
    // what the file holds, has a Chunk Index per chunk pointing at it and
    // its Message Indexes; Summary Offsets find each group, and the Footer
    // carries the summary's CRC-32.
    void summarySection()
    {
        const Sample s = writeSample(Compression::Zstd);
        QVector<QByteArray> inChunks, inSummary;
        const QVector<Record> chunks = ofType(s.data, 0x06);
        for (const Record &r : chunks) {
            const QByteArray records = chunkOf(r).records;
            for (const Record &inner : recordsOf(records, 0, int(records.size())))
                if (inner.opcode == 0x03 || inner.opcode == 0x04)
                    inChunks << char(inner.opcode) + inner.content;
        }
        for (const Record &r : s.summary)
            if (r.opcode == 0x03 || r.opcode == 0x04)
                inSummary << char(r.opcode) + r.content;
        QCOMPARE(inSummary, inChunks);

        Fields st(ofType(s.summary, 0x0B).value(0).content);
        QCOMPARE(st.next<uint64_t>(), uint64_t(sampleMessages.size()));
        QCOMPARE(st.next<uint16_t>(), uint16_t(2)); // schemas
        QCOMPARE(st.next<uint32_t>(), 2u);          // channels
        QCOMPARE(st.next<uint32_t>(), 0u);          // attachments
        QCOMPARE(st.next<uint32_t>(), 0u);          // metadata
        QCOMPARE(st.next<uint32_t>(), uint32_t(chunks.size()));
        QCOMPARE(st.next<uint64_t>(), sampleMessages.first().time);
        QCOMPARE(st.next<uint64_t>(), sampleMessages.last().time);
        QCOMPARE(st.string().toHex(), QByteArray("0100"
                                                 "0300000000000000"
                                                 "0200"
                                                 "0200000000000000"));
        QVERIFY(st.ok);

        const QVector<Record> indexes = ofType(s.summary, 0x08);
        QCOMPARE(indexes.size(), chunks.size());
        for (int i = 0; i < indexes.size(); ++i) {
            Fields f(indexes[i].content);
            const Chunk chunk = chunkOf(chunks[i]);
            QVERIFY(f.next<uint64_t>() == chunk.start && f.next<uint64_t>() == chunk.end);
            QCOMPARE(int(f.next<uint64_t>()), chunks[i].offset);
            QCOMPARE(int(f.next<uint64_t>()), chunks[i].length);
            Fields offsets(f.string());
            int indexBytes = 0;
            while (offsets.at < offsets.bytes.size()) {
                const auto channel = offsets.next<uint16_t>();
                const Record index =
                    recordsOf(s.file, int(offsets.next<uint64_t>()), int(s.file.size())).value(0);
                QVERIFY(index.opcode == 0x07 && Bytes::Reader(index.content).u16(0) == channel);
                indexBytes += index.length;
            }
            QCOMPARE(int(f.next<uint64_t>()), indexBytes);
            QCOMPARE(f.string(), QByteArray("zstd"));
            QCOMPARE(qint64(f.next<uint64_t>()), chunks[i].content.size() - 8 * 4 - 4 - 4 - 4);
            QCOMPARE(f.next<uint64_t>(), chunk.size);
            QVERIFY(f.ok);
        }

        QStringList groups;
        for (const Record &r : s.offsets) {
            Fields f(r.content);
            const auto opcode = f.next<uint8_t>();
            const auto start = int(f.next<uint64_t>());
            const auto length = int(f.next<uint64_t>());
            int covered = 0;
            for (const Record &g : recordsOf(s.file, start, start + length))
                covered += g.opcode == opcode ? g.length : 0;
            QCOMPARE(covered, length);
            groups << QString::number(opcode, 16);
        }
        QCOMPARE(groups, QStringList({"3", "4", "b", "8"}));
        const int summaryStart = s.data.last().offset + s.data.last().length;
        QCOMPARE(Bytes::Reader(s.footer.content).u64(0), uint64_t(summaryStart));
        QCOMPARE(Bytes::Reader(s.footer.content).u32(16),
                 crcOf(s.file.mid(summaryStart, s.footer.offset + 9 + 16 - summaryStart)));
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
        QCOMPARE(buffer.data().right(8), buffer.data().left(8));
        QCOMPARE(recordsOf(buffer.data(), 8, int(buffer.data().size()) - 8).last().opcode,
                 uint8_t(0x02));

        QFile full(QStringLiteral("/dev/full"));
        QVERIFY(full.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        McapWriter writer;
        writer.open(&full, {});
        const uint16_t channel =
            writer.addChannel(writer.addSchema("s", "jsonschema", "{}"), "/scan", "json");
        writer.write(channel, 1, 1, QByteArray(3 << 20, 'x'));
        QVERIFY(!writer.close());
        QVERIFY(!writer.errorString().isEmpty());
    }
};

QTEST_APPLESS_MAIN(TestMcapWriter)
#include "tst_mcapwriter.moc"
