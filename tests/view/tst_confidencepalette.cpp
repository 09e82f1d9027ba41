// Confidence colours by decoder kind, without a widget.
#include "view/confidencepalette.h"

#include <QtTest>

Q_DECLARE_METATYPE(Edition::DecoderKind)

class TestConfidencePalette : public QObject
{
    Q_OBJECT
private slots:
    void colourByKind_data();
    void colourByKind();
    void paletteIsContinuousAndClamped();
};

void TestConfidencePalette::colourByKind_data()
{
    QTest::addColumn<Edition::DecoderKind>("kind");
    QTest::addColumn<int>("confidence");
    QTest::addColumn<QColor>("expected");
    using Edition::DecoderKind;
    QTest::newRow("stream: grey") << DecoderKind::Stream << 77 << QColor(77, 77, 77);
    QTest::newRow("stream: white") << DecoderKind::Stream << 255 << QColor(255, 255, 255);
    QTest::newRow("flag set: red") << DecoderKind::StreamFlagInConfidence << 77 << QColor(Qt::red);
    QTest::newRow("flag set at 255: red")
        << DecoderKind::StreamFlagInConfidence << 255 << QColor(Qt::red);
    QTest::newRow("flag clear: grey of the rest")
        << DecoderKind::StreamFlagInConfidence << 76 << QColor(76, 76, 76);
    QTest::newRow("command protocol: anchor")
        << DecoderKind::CommandProtocol << 128 << QColor(199, 68, 151);
    QTest::newRow("command protocol: between anchors")
        << DecoderKind::CommandProtocol << 8 << QColor(22, 4, 38);
    QTest::newRow("command protocol: top")
        << DecoderKind::CommandProtocol << 255 << QColor(255, 254, 251);
}

void TestConfidencePalette::colourByKind()
{
    QFETCH(Edition::DecoderKind, kind);
    QFETCH(int, confidence);
    QFETCH(QColor, expected);
    const QColor colour = ConfidencePalette::colorFor(uint8_t(confidence), kind);
    QCOMPARE(colour, expected);
    QCOMPARE(colour.alpha(), 255);
}

void TestConfidencePalette::paletteIsContinuousAndClamped()
{
    // Linear between anchors 16 apart: no channel jumps more than its
    // steepest run allows from one entry to the next.
    for (int c = 1; c < 256; ++c) {
        const QColor a = ConfidencePalette::intensityColor(c - 1);
        const QColor b = ConfidencePalette::intensityColor(c);
        QVERIFY2(qAbs(a.red() - b.red()) <= 4 && qAbs(a.green() - b.green()) <= 6 &&
                     qAbs(a.blue() - b.blue()) <= 9,
                 qPrintable(QString::number(c)));
    }
    QCOMPARE(ConfidencePalette::intensityColor(-5), ConfidencePalette::intensityColor(0));
    QCOMPARE(ConfidencePalette::intensityColor(300), ConfidencePalette::intensityColor(255));
    QCOMPARE(ConfidencePalette::intensityColor(0), QColor(16, 0, 2));
}

QTEST_GUILESS_MAIN(TestConfidencePalette)
#include "tst_confidencepalette.moc"
