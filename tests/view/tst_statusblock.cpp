// The status block's lines from a scan's figures, without a widget: built
// with Qt Core alone.
#include "editions/edition.h"
#include "view/statusblock.h"

#include <QtTest>

Q_DECLARE_METATYPE(Edition::DecoderKind)

using Lines = QVector<StatusBlock::Line>;
Q_DECLARE_METATYPE(Lines)

namespace {

// Readable in a failure message.
QStringList shown(const Lines &lines)
{
    QStringList out;
    for (const StatusBlock::Line &line : lines)
        out << QString::number(line.baseline) + QLatin1Char(' ') + line.text;
    return out;
}

} // namespace

class TestStatusBlock : public QObject
{
    Q_OBJECT
private slots:
    void linesFromFigures_data();
    void linesFromFigures();
    void valuesCompareByTextAndBaseline();
};

void TestStatusBlock::linesFromFigures_data()
{
    QTest::addColumn<SensorScan>("figures");
    QTest::addColumn<Edition::DecoderKind>("kind");
    QTest::addColumn<bool>("showError");
    QTest::addColumn<Lines>("expected");

    SensorScan stream;
    stream.speed = 9.96;
    stream.rate = 10.04;
    stream.valid = 412;
    stream.total = 455;
    stream.errors = 3;
    stream.pixelSum = 77;                       // not shown for a streaming model
    stream.points = {PointData{}, PointData{}}; // the figures, not the points, count

    SensorScan frame;
    frame.family = SensorScan::Family::CommandProtocol;
    frame.rate = 12.34;
    frame.valid = 150;
    frame.total = 160;
    frame.errors = 12;
    frame.pixelSum = 65535;

    using Edition::DecoderKind;
    QTest::newRow("streaming") << stream << DecoderKind::Stream << false
                               << Lines{{"Speed:  10.0", 30},
                                        {"Rate :  10.0", 55},
                                        {"Valid:  412/455", 80}};
    QTest::newRow("streaming, error shown") << stream << DecoderKind::StreamFlagInConfidence << true
                                            << Lines{{"Error:  3", 30},
                                                     {"Speed:  10.0", 55},
                                                     {"Rate :  10.0", 80},
                                                     {"Valid:  412/455", 105}};

    Lines command{{"Rate : 12.3 hz", 30}, {"Valid:  150/160", 55}};
    if (Edition::showsPixelSum)
        command.append({"PixSum:  65535", 80});
    QTest::newRow("command protocol") << frame << DecoderKind::CommandProtocol << false << command;
    Lines commandWithError{{"Error:  12", 30}};
    for (StatusBlock::Line line : command) {
        line.baseline += 25;
        commandWithError.append(line);
    }
    QTest::newRow("command protocol, error shown")
        << frame << DecoderKind::CommandProtocol << true << commandWithError;
    QTest::newRow("nothing published yet")
        << SensorScan() << DecoderKind::Stream << false
        << Lines{{"Speed:  0.0", 30}, {"Rate :  0.0", 55}, {"Valid:  0/0", 80}};
}

void TestStatusBlock::linesFromFigures()
{
    QFETCH(SensorScan, figures);
    QFETCH(Edition::DecoderKind, kind);
    QFETCH(bool, showError);
    QFETCH(Lines, expected);
    const StatusBlock block(figures, kind, showError);
    QCOMPARE(shown(block.lines()), shown(expected));
    QVERIFY(block == StatusBlock(figures, kind, showError));
}

void TestStatusBlock::valuesCompareByTextAndBaseline()
{
    SensorScan scan;
    const StatusBlock plain(scan, Edition::DecoderKind::Stream, false);
    QVERIFY(plain != StatusBlock(scan, Edition::DecoderKind::Stream, true));
    QVERIFY(plain != StatusBlock(scan, Edition::DecoderKind::CommandProtocol, false));
    scan.valid = 1;
    QVERIFY(plain != StatusBlock(scan, Edition::DecoderKind::Stream, false));
    QVERIFY(StatusBlock().lines().isEmpty());
}

QTEST_GUILESS_MAIN(TestStatusBlock)
#include "tst_statusblock.moc"
