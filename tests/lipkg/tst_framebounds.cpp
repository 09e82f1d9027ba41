#include "lipkg/framebounds.h"
#include "streambuilder.h"
#include "streamframes.h"

#include <QtTest>

// The frame rules of the three stream formats on their own: where a header
// starts and what the bytes at a header hold.
class TestFrameBounds : public QObject
{
    Q_OBJECT

private slots:
    void headerOffset_data();
    void headerOffset();
    void examine_data();
    void examine();
};

static const FrameDecode::FrameRules &rulesOf(int modelType)
{
    return FrameDecode::frameRules(FrameDecode::formatForModel(modelType));
}

static const uint8_t *bytesOf(const QByteArray &bytes)
{
    return reinterpret_cast<const uint8_t *>(bytes.constData());
}

void TestFrameBounds::headerOffset_data()
{
    QTest::addColumn<int>("modelType");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("offset");
    QTest::newRow("Pkg47 behind garbage") << pkg47Model << garbage(5) + pkg47Frame() << 5;
    QTest::newRow("Pkg47 0xEC variant") << pkg47Model << pkg47Frame(1000, 0xEC) << 0;
    QTest::newRow("Pkg47 none keeps the last byte") << pkg47Model << garbage(10) + "\x54" << 10;
    QTest::newRow("Pkg36 needs its type byte")
        << pkg36Model << QByteArray("\x55\xAA\x04", 3) + pkg36Frame() << 3;
    QTest::newRow("Pkg36 none keeps the last two bytes") << pkg36Model << garbage(10) << 8;
    QTest::newRow("PkgVariable response header")
        << pkgVariableModel << garbage(3) + Wire::encodePkgVariableResponse(6) << 3;
    QTest::newRow("PkgVariable none keeps the last byte") << pkgVariableModel << garbage(10) << 9;
    QTest::newRow("empty") << pkgVariableModel << QByteArray() << 0;
}

void TestFrameBounds::headerOffset()
{
    QFETCH(int, modelType);
    QFETCH(QByteArray, bytes);
    QFETCH(int, offset);
    QCOMPARE(rulesOf(modelType).headerOffset(bytesOf(bytes), bytes.size()), offset);
}

void TestFrameBounds::examine_data()
{
    using E = FrameDecode::Examined;
    QTest::addColumn<int>("modelType");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("countsError");
    QTest::addColumn<bool>("endsRun");

    QByteArray bad47 = pkg47Frame();
    bad47[46] = char(bad47[46] ^ 1);
    QByteArray bad36 = pkg36Frame();
    bad36[20] = char(bad36[20] ^ 1);
    QByteArray badVariable = pkgVariablePacket(20);
    badVariable[15] = char(badVariable[15] ^ 0x40);
    QByteArray samples51 = pkgVariablePacket(50) + QByteArray(3, char(0));
    samples51[3] = char(51);

    QTest::newRow("Pkg47 frame, more behind")
        << pkg47Model << pkg47Frame() + pkg47Frame() << int(E::Frame) << 47 << false << false;
    QTest::newRow("Pkg47 one byte short")
        << pkg47Model << pkg47Frame().left(46) << int(E::NeedMore) << 0 << false << false;
    QTest::newRow("Pkg47 bad CRC") << pkg47Model << bad47 << int(E::Reject) << 2 << true << false;
    QTest::newRow("Pkg36 information frame")
        << pkg36Model << Wire::encodePkg36Info(QByteArray(28, char(1))) << int(E::Frame) << 36
        << false << false;
    QTest::newRow("Pkg36 bad checksum")
        << pkg36Model << bad36 << int(E::Reject) << 2 << true << false;
    QTest::newRow("PkgVariable packet")
        << pkgVariableModel << pkgVariablePacket(20) << int(E::Frame) << 70 << false << false;
    QTest::newRow("PkgVariable short packet waits for 27 bytes")
        << pkgVariableModel << pkgVariablePacket(0) + garbage(16) << int(E::NeedMore) << 0 << false
        << false;
    QTest::newRow("PkgVariable short packet with 27 bytes")
        << pkgVariableModel << pkgVariablePacket(0) + garbage(17) << int(E::Frame) << 10 << false
        << false;
    QTest::newRow("PkgVariable packet one byte short")
        << pkgVariableModel << pkgVariablePacket(50).left(159) << int(E::NeedMore) << 0 << false
        << false;
    QTest::newRow("PkgVariable 51 samples: silent drop that ends the run")
        << pkgVariableModel << samples51 << int(E::Reject) << 2 << false << true;
    QTest::newRow("PkgVariable bad checksum")
        << pkgVariableModel << badVariable << int(E::Reject) << 2 << true << false;
    QTest::newRow("PkgVariable response of type 6 ends the run")
        << pkgVariableModel << Wire::encodePkgVariableResponse(6) + pkgVariablePacket()
        << int(E::Frame) << 11 << false << true;
    QTest::newRow("PkgVariable other response: silent drop that ends the run")
        << pkgVariableModel << Wire::encodePkgVariableResponse(5) + pkgVariablePacket()
        << int(E::Reject) << 2 << false << true;
}

void TestFrameBounds::examine()
{
    QFETCH(int, modelType);
    QFETCH(QByteArray, bytes);
    QFETCH(int, kind);
    QFETCH(int, length);
    QFETCH(bool, countsError);
    QFETCH(bool, endsRun);
    const FrameDecode::Examined found = rulesOf(modelType).examine(bytesOf(bytes), bytes.size());
    QCOMPARE(int(found.kind), kind);
    QCOMPARE(found.length, length);
    QCOMPARE(found.countsError, countsError);
    QCOMPARE(found.endsRun, endsRun);
}

QTEST_GUILESS_MAIN(TestFrameBounds)
#include "tst_framebounds.moc"
