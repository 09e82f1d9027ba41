// The batch report's plots as the page carries them: a plot's PNG decodes
// to the very pixels drawn, and a chart of more runs than pixel columns
// still shows a bar in each column.
#include "batchreport/batchplots.h"
#include "batchreport/quickpng.h"
#include "reportplots/plotkit.h"

#include <QtTest>

class TestBatchPlots : public QObject
{
    Q_OBJECT
private slots:
    void pngKeepsThePixels_data();
    void pngKeepsThePixels();
};

void TestBatchPlots::pngKeepsThePixels_data()
{
    // Values alternating 10 apart.
    Batch::CheckSeries many;
    many.key = QStringLiteral("noise");
    many.low = 0;
    many.high = 20;
    for (int i = 0; i < 5000; ++i)
        many.values.append(5 + (i % 2) * 10 + (i % 7) * 0.01);
    many.capability = Batch::capability(many.values, many.low, many.high);
    QTest::addColumn<QImage>("plot");
    QTest::addColumn<bool>("dense");
    QTest::newRow("histogram") << histogramPlot(many) << false;
    QTest::newRow("chart of more runs than pixels") << controlChart(many) << true;
    QTest::newRow("pareto") << paretoPlot({{"noise", "Range noise", 3, 0.75, 0.75}}, 3) << false;
}

void TestBatchPlots::pngKeepsThePixels()
{
    QFETCH(QImage, plot);
    QFETCH(bool, dense);
    const QImage decoded = QImage::fromData(quickPng(plot), "png");
    QCOMPARE(decoded.size(), plot.size());
    QVERIFY(decoded.convertToFormat(QImage::Format_RGB32) ==
            plot.convertToFormat(QImage::Format_RGB32));
    // Every pixel column inside the plot area's frame holds a bar.
    const int left = 68 * Plot::plotScale, width = (batchPlotWidth - 68 - 16) * Plot::plotScale;
    for (int x = left + 2; dense && x < left + width - 2; ++x) {
        int blue = 0;
        for (int y = 0; y < plot.height(); ++y)
            blue += plot.pixelColor(x, y) == Plot::seriesBlue;
        QVERIFY2(blue > 20, qPrintable(QString::number(x)));
    }
}

QTEST_MAIN(TestBatchPlots)
#include "tst_batchplots.moc"
