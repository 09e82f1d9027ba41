#include "bytes/littleendian.h"

#include <QtTest>
#include <limits>

namespace {

constexpr quint64 sentinel = 0xA5A5A5A5A5A5A5A5;

struct Outcome
{
    bool done;
    quint64 read; // what read() left in the variable
    quint64 got;  // what the accessor gave
};

template <typename T>
Outcome readAs(const Bytes::Reader &reader, int offset, T (Bytes::Reader::*get)(int) const)
{
    T v = T(sentinel);
    const bool done = reader.read(offset, v);
    return {done, v, (reader.*get)(offset)};
}

} // namespace

class TestLittleEndian : public QObject
{
    Q_OBJECT

private slots:
    void readsFields_data();
    void readsFields();
    void writesLittleEndian();
};

void TestLittleEndian::readsFields_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("bigEndian");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<quint64>("value");

    const QByteArray eight = QByteArray::fromHex("0102030405060788");
    QTest::newRow("u16, low byte first") << eight << false << 0 << 2 << true << quint64(0x0201);
    QTest::newRow("u32, top bit set")
        << QByteArray::fromHex("785634f2") << false << 0 << 4 << true << quint64(0xF2345678);
    QTest::newRow("u64") << eight << false << 0 << 8 << true << quint64(0x8807060504030201);
    QTest::newRow("u32, big-endian") << eight << true << 4 << 4 << true << quint64(0x05060788);
    QTest::newRow("u8, last byte") << eight << false << 7 << 1 << true << quint64(0x88);
    QTest::newRow("u16 ending at the last byte")
        << eight << false << 6 << 2 << true << quint64(0x8807);
    QTest::newRow("u16 one byte past the end") << eight << false << 7 << 2 << false << quint64(0);
    QTest::newRow("u32 past the end") << eight << false << 5 << 4 << false << quint64(0);
    QTest::newRow("u64 of seven bytes") << eight.left(7) << false << 0 << 8 << false << quint64(0);
    QTest::newRow("offset near the int limit")
        << eight << false << std::numeric_limits<int>::max() << 2 << false << quint64(0);
    QTest::newRow("negative offset") << eight << false << -1 << 2 << false << quint64(0);
    QTest::newRow("empty data") << QByteArray() << false << 0 << 1 << false << quint64(0);
}

void TestLittleEndian::readsFields()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, bigEndian);
    QFETCH(int, offset);
    QFETCH(int, width);
    QFETCH(bool, ok);
    QFETCH(quint64, value);

    // The reader sees only the first `data.size()` bytes of a longer buffer,
    // as a frame inside a receive buffer.
    const QByteArray buffer = data + QByteArray(8, '\x5A');
    const Bytes::Reader reader(buffer.constData(), static_cast<int>(data.size()), bigEndian);
    const Outcome outcome = width == 1   ? readAs(reader, offset, &Bytes::Reader::u8)
                            : width == 2 ? readAs(reader, offset, &Bytes::Reader::u16)
                            : width == 4 ? readAs(reader, offset, &Bytes::Reader::u32)
                                         : readAs(reader, offset, &Bytes::Reader::u64);
    QCOMPARE(outcome.done, ok);
    // A refused read leaves the variable alone; the accessors give 0.
    QCOMPARE(outcome.read, ok ? value : sentinel >> (64 - 8 * width));
    QCOMPARE(outcome.got, value);
}

void TestLittleEndian::writesLittleEndian()
{
    QByteArray out("x");
    Bytes::appendU16(out, 0x8001);
    Bytes::appendU32(out, 0xF2345678);
    Bytes::appendU64(out, 0x8807060504030201);
    QCOMPARE(out.toHex(), QByteArray("780180785634f20102030405060788"));
}

QTEST_GUILESS_MAIN(TestLittleEndian)
#include "tst_littleendian.moc"
