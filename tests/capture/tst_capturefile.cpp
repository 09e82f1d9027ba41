// The capture file as the recorder writes it and as other tools leave it.
#include "capture/capturereader.h"
#include "capture/capturewriter.h"
#include "capture/pcapng.h"
#include "pcapngblocks.h"

#include <QBuffer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Chunk
{
    CaptureDirection direction;
    QByteArray data;
    qint64 timeNs;
};

QVector<CaptureRecord> readAll(CaptureReader &reader)
{
    QVector<CaptureRecord> records;
    CaptureRecord record;
    while (reader.readNext(record))
        records.append(record);
    return records;
}

QVector<CaptureRecord> readBytes(const QByteArray &bytes, CaptureReader &reader)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    if (!reader.open(&buffer))
        return {};
    return readAll(reader);
}

CaptureMetadata benchMetadata()
{
    CaptureMetadata m;
    m.application = QStringLiteral("vantoscope-test 1.0");
    m.comment = QStringLiteral("bench, room 2");
    m.edition = QStringLiteral("full");
    m.model = QStringLiteral("Dogwood");
    m.portName = QStringLiteral("/dev/ttyUSB0");
    m.baudrate = 230400;
    return m;
}

// Chunks with every byte value, both directions and times past 2^32 ns.
QVector<Chunk> sampleChunks()
{
    QVector<Chunk> chunks;
    const qint64 start = 1'765'000'000'123'456'789LL;
    for (int i = 0; i < 40; ++i) {
        QByteArray data;
        for (int b = 0; b < 1 + (i * 37) % 300; ++b)
            data.append(static_cast<char>((b * 7 + i) & 0xFF));
        const auto direction = i % 5 == 3 ? CaptureDirection::Outbound : CaptureDirection::Inbound;
        chunks.append({direction, data, start + i * 2'777'777'777LL + i});
    }
    return chunks;
}

QString tool(const char *name)
{
    return QStandardPaths::findExecutable(QString::fromLatin1(name));
}

} // namespace

class TestCaptureFile : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(dir.isValid()); }
    void writtenCaptureReadsBack();
    void cutOffCaptureReadsToItsLastWholeRecord();
    void mergedSectionsOfEitherByteOrderRead();
    void damageEndsTheRecordsAndIsReported_data();
    void damageEndsTheRecordsAndIsReported();
    void otherFilesAreRefusedOrReadRaw();
    void tcpdumpListsEveryRecord();
    void editcapAndMergecapOutputReads();
    void writeFailureIsReported();

private:
    QString writeSample(const QString &name, const QVector<Chunk> &chunks,
                        const QString &version = {});
    QTemporaryDir dir;
};

QString TestCaptureFile::writeSample(const QString &name, const QVector<Chunk> &chunks,
                                     const QString &version)
{
    const QString path = dir.filePath(name);
    CaptureWriter writer;
    if (!writer.open(path, benchMetadata()))
        return {};
    for (int i = 0; i < chunks.size(); ++i) {
        if (i == chunks.size() / 2 && !version.isEmpty())
            writer.setVersionText(version);
        writer.append(chunks[i].direction, chunks[i].data, chunks[i].timeNs);
    }
    return writer.close() ? path : QString();
}

void TestCaptureFile::writtenCaptureReadsBack()
{
    const QVector<Chunk> chunks = sampleChunks();
    const QString path = writeSample("round.pcapng", chunks, "v1.2.10 hw:1f");
    QVERIFY(!path.isEmpty());

    CaptureReader reader;
    QVERIFY2(reader.open(path), qPrintable(reader.errorString()));
    QCOMPARE(reader.format(), CaptureReader::Format::Pcapng);
    const QVector<CaptureRecord> records = readAll(reader);
    QVERIFY(!reader.truncated());
    QVERIFY(!reader.damaged());
    QCOMPARE(records.size(), chunks.size());
    for (int i = 0; i < chunks.size(); ++i) {
        QCOMPARE(records[i].data, chunks[i].data);
        QCOMPARE(records[i].timeNs, chunks[i].timeNs);
        QCOMPARE(records[i].direction, chunks[i].direction);
        QCOMPARE(records[i].interface, 0);
    }
    QCOMPARE(reader.versionText(), QStringLiteral("v1.2.10 hw:1f"));
    QCOMPARE(reader.interfaces().size(), 1);
    const CaptureMetadata read = reader.interfaces()[0].metadata;
    const CaptureMetadata written = benchMetadata();
    QCOMPARE(reader.interfaces()[0].linkType, 147);
    QCOMPARE(read.application, written.application);
    QCOMPARE(read.comment, written.comment);
    QCOMPARE(read.edition, written.edition);
    QCOMPARE(read.model, written.model);
    QCOMPARE(read.portName, written.portName);
    QCOMPARE(read.baudrate, written.baudrate);

    // A version learnt after the last chunk still reaches the file.
    const QString late = dir.filePath("late.pcapng");
    CaptureWriter writer;
    QVERIFY(writer.open(late, benchMetadata()));
    writer.append(CaptureDirection::Inbound, "abc", 5);
    writer.setVersionText("v2.0.1 hw:2");
    QVERIFY(writer.close());
    QVERIFY(reader.open(late));
    QCOMPARE(readAll(reader).size(), 1);
    QCOMPARE(reader.versionText(), QStringLiteral("v2.0.1 hw:2"));

    // Rewinding starts over with the same records.
    QVERIFY(reader.open(path));
    CaptureRecord first;
    QVERIFY(reader.readNext(first) && reader.readNext(first));
    QVERIFY(reader.rewind());
    QCOMPARE(readAll(reader).size(), chunks.size());
}

void TestCaptureFile::cutOffCaptureReadsToItsLastWholeRecord()
{
    const QVector<Chunk> chunks = sampleChunks().mid(0, 6);
    QFile file(writeSample("cut.pcapng", chunks));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray whole = file.readAll();
    const QByteArray withoutLast = [&] {
        QFile shorter(writeSample("shorter.pcapng", chunks.mid(0, 5)));
        return shorter.open(QIODevice::ReadOnly) ? shorter.readAll() : QByteArray();
    }();
    QVERIFY(whole.startsWith(withoutLast) && whole.size() > withoutLast.size());

    for (int cut = withoutLast.size(); cut < whole.size(); ++cut) {
        CaptureReader reader;
        const QVector<CaptureRecord> records = readBytes(whole.left(cut), reader);
        QCOMPARE(records.size(), 5);
        QCOMPARE(records.last().data, chunks[4].data);
        QCOMPARE(reader.truncated(), cut > withoutLast.size());
        QVERIFY(!reader.damaged());
    }
    CaptureReader reader;
    QCOMPARE(readBytes(whole, reader).size(), 6);
    QVERIFY(!reader.truncated());
}

void TestCaptureFile::mergedSectionsOfEitherByteOrderRead()
{
    using Wire::PcapngBlocks;
    PcapngBlocks blocks;
    blocks.section(false, "first")
        .interface(147, 6,
                   {PcapngBlocks::text(2, "ttyUSB0"),
                    PcapngBlocks::text(1, "model=Alder"),
                    {0x7ABC, "unknown option"}})
        .block(0x0BAD0BAD, "a block nobody knows")
        .packet(0, 1'000'000, "a1")    // microseconds: 1 s
        .packet(0, 2'000'000, "a2", 2) // sent to the sensor
        .section(true, "second")       // big-endian, as from another machine
        .interface(1, 9)               // Ethernet
        .interface(147, 0x80 | 10, {PcapngBlocks::text(3, "Fir"), {8, {}}})
        .packet(1, 3 * 1024, "b1")          // 2^-10 s ticks: 3 s
        .packet(0, 4'000'000'000ULL, "eth") // not the sensor line
        .packet(1, 1 * 1024, "b2", 0)       // earlier than the record before
        .packet(1, 5 * 1024, "b3", 1, {PcapngBlocks::text(1, "version=v9 hw:1")});
    blocks.section(true);
    const QByteArray bytes = blocks.bytes();

    CaptureReader reader;
    const QVector<CaptureRecord> records = readBytes(bytes, reader);
    QVERIFY2(!reader.damaged(), qPrintable(reader.errorString()));
    QCOMPARE(records.size(), 6);
    const QByteArrayList data = {"a1", "a2", "b1", "eth", "b2", "b3"};
    const QVector<qint64> seconds = {1, 2, 3, 4, 4, 5};
    const QVector<int> interfaces = {0, 0, 2, 1, 2, 2};
    for (int i = 0; i < records.size(); ++i) {
        QCOMPARE(records[i].data, data[i]);
        QCOMPARE(records[i].timeNs, seconds[i] * 1'000'000'000LL);
        QCOMPARE(records[i].interface, interfaces[i]);
    }
    QCOMPARE(records[1].direction, CaptureDirection::Outbound);
    QCOMPARE(records[4].direction, CaptureDirection::Inbound);
    QByteArrayList decoded;
    for (const CaptureRecord &record : records)
        if (reader.feedsDecoders(record))
            decoded.append(record.data);
    QCOMPARE(decoded, (QByteArrayList{"a1", "b1", "b2", "b3"}));
    QCOMPARE(reader.interfaces().size(), 3);
    QCOMPARE(reader.interfaces()[0].metadata.model, QStringLiteral("Alder"));
    QCOMPARE(reader.interfaces()[0].metadata.portName, QStringLiteral("ttyUSB0"));
    QCOMPARE(reader.interfaces()[0].metadata.application, QStringLiteral("first"));
    QCOMPARE(reader.interfaces()[1].linkType, 1);
    QCOMPARE(reader.interfaces()[2].metadata.model, QStringLiteral("Fir"));
    QCOMPARE(reader.interfaces()[2].metadata.application, QStringLiteral("second"));
    QCOMPARE(reader.versionText(), QStringLiteral("v9 hw:1"));
}

void TestCaptureFile::damageEndsTheRecordsAndIsReported_data()
{
    QTest::addColumn<QByteArray>("tail");
    Wire::PcapngBlocks little;
    little.section(false);
    auto raw = [&](uint32_t type, uint32_t length, int bodyBytes, uint32_t trailer) {
        return little.u32(type) + little.u32(length) + QByteArray(bodyBytes, 'x') +
               little.u32(trailer);
    };
    QTest::newRow("shorter than a block") << raw(6, 8, 0, 8);
    QTest::newRow("not a multiple of four") << raw(6, 22, 10, 22);
    QTest::newRow("over the block limit") << raw(6, Pcapng::maxBlockLength + 4, 16, 0);
    QTest::newRow("lengths differ") << raw(6, 32, 20, 28);
    QTest::newRow("section of unknown version")
        << little.u32(0x0A0D0D0A) + little.u32(28) + little.u32(0x1A2B3C4D) + little.u16(2) +
               little.u16(0) + little.u64(0) + little.u32(28);
}

void TestCaptureFile::damageEndsTheRecordsAndIsReported()
{
    QFETCH(QByteArray, tail);
    Wire::PcapngBlocks blocks;
    blocks.section(false).interface(147, 9).packet(0, 7, "good");
    CaptureReader reader;
    const QVector<CaptureRecord> records =
        readBytes(blocks.bytes() + tail + blocks.bytes(), reader);
    QCOMPARE(records.size(), 1);
    QCOMPARE(records[0].data, QByteArray("good"));
    QVERIFY(reader.damaged());
    QVERIFY(reader.errorString().contains("damaged"));
}

void TestCaptureFile::otherFilesAreRefusedOrReadRaw()
{
    auto write = [&](const QString &name, const QByteArray &bytes) {
        QFile file(dir.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        return file.fileName();
    };
    CaptureReader reader;
    QVERIFY(!reader.open(write("notes.txt", "hello, this is text")));
    QVERIFY(reader.errorString().contains("not a capture"));
    QVERIFY(!reader.open(write("old.pcap", QByteArray::fromHex("d4c3b2a102000400"))));
    QVERIFY(reader.errorString().contains("pcap file"));
    QVERIFY(!reader.open(write("empty.pcapng", {})));

    // Raw bytes: 64-byte records, ten bits a byte at the line speed.
    QByteArray stream(150, 'r');
    QVERIFY2(reader.open(write("room.bin", stream), 115200), qPrintable(reader.errorString()));
    QCOMPARE(reader.format(), CaptureReader::Format::Raw);
    const QVector<CaptureRecord> records = readAll(reader);
    QCOMPARE(records.size(), 3);
    QCOMPARE(records[2].data.size(), 150 - 128);
    QCOMPARE(records[0].timeNs, 64 * 10'000'000'000LL / 115200);
    QCOMPARE(records[2].timeNs, 150 * 10'000'000'000LL / 115200);
    QCOMPARE(reader.interfaces()[0].metadata.baudrate, 115200);
}

void TestCaptureFile::tcpdumpListsEveryRecord()
{
    const QString tcpdump = tool("tcpdump");
    if (tcpdump.isEmpty())
        QFAIL("tcpdump is not installed (scripts/deps.sh installs it)");
    const QVector<Chunk> chunks = sampleChunks();
    const QString path = writeSample("listed.pcapng", chunks, "v1.2.10 hw:1f");
    QProcess process;
    process.start(tcpdump, {"-n", "-tt", "--time-stamp-precision=nano", "-r", path});
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitCode(), 0);
    // One heading line per record (the hex dump lines below it are indented).
    QByteArrayList headings;
    for (const QByteArray &line : process.readAllStandardOutput().split('\n'))
        if (!line.isEmpty() && !line.startsWith('\t'))
            headings.append(line);
    QCOMPARE(headings.size(), chunks.size());
    const qint64 t = chunks.last().timeNs;
    const QByteArray stamp = QByteArray::number(t / 1'000'000'000) + '.' +
                             QByteArray::number(t % 1'000'000'000).rightJustified(9, '0');
    QVERIFY2(headings.last().startsWith(stamp + ' '), headings.last().constData());
}

void TestCaptureFile::editcapAndMergecapOutputReads()
{
    const QString editcap = tool("editcap"), mergecap = tool("mergecap");
    if (editcap.isEmpty() || mergecap.isEmpty())
        QFAIL("editcap and mergecap are not installed (scripts/deps.sh installs wireshark-common)");
    QVector<Chunk> first = sampleChunks(), second = sampleChunks();
    for (Chunk &c : second)
        c.timeNs += 1'000'000'000; // interleaves with the first
    const QString a = writeSample("a.pcapng", first), b = writeSample("b.pcapng", second);
    auto run = [](const QString &program, const QStringList &arguments) {
        QProcess process;
        process.start(program, arguments);
        return process.waitForFinished(60000) && process.exitCode() == 0;
    };
    const QString merged = dir.filePath("merged.pcapng");
    // Each file keeps its own interface, as when merging two benches.
    QVERIFY(run(mergecap, {"-I", "none", "-w", merged, a, b}));
    QVERIFY(run(editcap, {"-r", merged, dir.filePath("part.pcapng"), "11-50"}));

    CaptureReader reader;
    QVERIFY2(reader.open(merged), qPrintable(reader.errorString()));
    QVector<CaptureRecord> records = readAll(reader);
    QVERIFY(!reader.damaged() && !reader.truncated());
    QCOMPARE(records.size(), first.size() + second.size());
    for (int i = 1; i < records.size(); ++i)
        QVERIFY(records[i].timeNs >= records[i - 1].timeNs);
    QCOMPARE(reader.interfaces().size(), 2);
    QCOMPARE(reader.interfaces()[1].metadata.model, QStringLiteral("Dogwood"));
    QCOMPARE(reader.interfaces()[1].metadata.baudrate, 230400);

    QVERIFY2(reader.open(dir.filePath("part.pcapng")), qPrintable(reader.errorString()));
    const QVector<CaptureRecord> part = readAll(reader);
    QCOMPARE(part.size(), 40);
    QCOMPARE(part[0].data, records[10].data);
    QCOMPARE(part[0].timeNs, records[10].timeNs);
}

void TestCaptureFile::writeFailureIsReported()
{
    if (!QFile::exists("/dev/full"))
        QSKIP("no /dev/full to write to");
    CaptureWriter writer;
    QSignalSpy failed(&writer, &CaptureWriter::failed);
    // The headers alone fit in no disk that is full.
    const bool opened = writer.open("/dev/full", benchMetadata());
    QVERIFY(!opened || !writer.append(CaptureDirection::Inbound, QByteArray(2 << 20, 'x'), 1));
    QCOMPARE(failed.count(), 1);
    QVERIFY(!writer.errorString().isEmpty());
    QVERIFY(!writer.isOpen());
    QVERIFY(!writer.append(CaptureDirection::Inbound, "more", 2));
}

QTEST_GUILESS_MAIN(TestCaptureFile)
#include "tst_capturefile.moc"
