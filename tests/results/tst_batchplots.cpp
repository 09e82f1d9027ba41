// The batch report's plots as the page carries them: every plot's PNG
// decodes to the very pixels drawn, and a chart of more runs than pixel
// columns still shows a bar in each column.
#include "batchreport/batchplots.h"
#include "batchreport/quickpng.h"
#include "reportplots/plotkit.h"

#include <QtTest>

namespace {

Batch::CheckSeries series(int n, double spread)
{
    Batch::CheckSeries c;
    c.key = QStringLiteral("noise");
    c.unit = QStringLiteral("mm");
    c.low = 0;
    c.high = 20;
    for (int i = 0; i < n; ++i) {
        c.values.append(5 + (i % 2 ? spread : 0) + (i % 7) * 0.01);
        c.runs.append(i);
    }
    c.capability = Batch::capability(c.values, c.low, c.high);
    c.flags = Batch::westernElectric(c.values, c.capability.mean, c.capability.sigmaWithin);
    return c;
}

} // namespace

class TestBatchPlots : public QObject
{
    Q_OBJECT
private slots:
    void pngKeepsThePixels_data();
    void pngKeepsThePixels();
};

void TestBatchPlots::pngKeepsThePixels_data()
{
    QTest::addColumn<QImage>("plot");
    QTest::addColumn<bool>("dense");
    const Batch::CheckSeries few = series(40, 3), many = series(5000, 10);
    QTest::newRow("histogram") << histogramPlot(many) << false;
    QTest::newRow("chart of a few runs") << controlChart(few) << false;
    QTest::newRow("chart of more runs than pixels") << controlChart(many) << true;
    QTest::newRow("pareto") << paretoPlot({{"noise", "Range noise", 3, 0.75, 0.75},
                                           {"speed", "Speed", 1, 0.25, 1.0}},
                                          4)
                            << false;
}

void TestBatchPlots::pngKeepsThePixels()
{
    QFETCH(QImage, plot);
    QFETCH(bool, dense);
    const QImage decoded = QImage::fromData(quickPng(plot), "png");
    QVERIFY(!decoded.isNull());
    QCOMPARE(decoded.size(), plot.size());
    QVERIFY(decoded.convertToFormat(QImage::Format_RGB32) ==
            plot.convertToFormat(QImage::Format_RGB32));
    if (!dense)
        return;
    // Values alternating 10 apart: every pixel column of the plot area
    // holds a bar of the series' colour.
    const QRect area(68 * Plot::plotScale, 36 * Plot::plotScale,
                     (batchPlotWidth - 68 - 16) * Plot::plotScale,
                     (batchPlotHeight - 36 - 52) * Plot::plotScale);
    // (The frame is drawn over the outer two.)
    int columns = 0;
    for (int x = area.left() + 2; x < area.left() + area.width() - 2; ++x) {
        int blue = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            blue += plot.pixelColor(x, y) == Plot::seriesBlue;
        columns += blue > 20;
    }
    QVERIFY2(columns == area.width() - 4, qPrintable(QString::number(columns)));
}

QTEST_MAIN(TestBatchPlots)
#include "tst_batchplots.moc"
