// The HTML report of a bench check: a page that loads nothing from anywhere,
// shows hostile sensor and file texts only escaped, marks its failures and
// embeds five plots that decode; and the same for runs with no data to plot.
#include "check/evaluation.h"
#include "check/scanstatistics.h"
#include "reportplots/htmlreport.h"
#include "reportplots/reportplots.h"

#include <QRegularExpression>
#include <QXmlStreamReader>
#include <QtTest>
#include <random>

class TestHtmlReport : public QObject
{
    Q_OBJECT
private slots:
    void pageIsSelfContainedAndEscaped();
    void degenerateRunsStillGiveTheTableAndPlots_data();
    void degenerateRunsStillGiveTheTableAndPlots();
    void movingBinMarksLandAtTheirAngles();
};

namespace {

const QString hostile = QStringLiteral("<script>alert(1)</script>\"&'%1");
constexpr qint64 period = 166'666'667; // 6 rev/s

// A square room, 2 m to each wall, two points per degree with Gaussian
// noise; when `crossing`, something 1 m away covers 100°..110°.
SensorScan squareRoomScan(std::mt19937 &rng, qint64 time, int errors, bool crossing)
{
    std::normal_distribution<double> noise(0.0, 8.0);
    SensorScan scan;
    scan.speed = 6.0;
    scan.time = time;
    scan.errors = errors;
    for (int k = 0; k < 720; ++k) {
        PointData p;
        p.angle = k * 0.5 + 0.25;
        const double t = p.angle * M_PI / 180.0;
        const double wall = 2000.0 / std::max(std::fabs(std::sin(t)), std::fabs(std::cos(t)));
        const double d = crossing && p.angle > 100 && p.angle < 110 ? 1000.0 : wall;
        p.distance = static_cast<uint16_t>(std::lround(d + noise(rng)));
        scan.points.append(p);
    }
    scan.total = scan.valid = 720;
    return scan;
}

void fillRoom(ScanStatistics &stats, int scans, bool crossing)
{
    std::mt19937 rng(7);
    stats.setStart(0);
    qint64 t = 200'000'000;
    for (int i = 0; i < scans; ++i) {
        t += i == scans / 2 ? 4 * period : period; // one stall
        stats.add(squareRoomScan(rng, t, i / 40, crossing && i % 3 == 0));
    }
}

CheckResult result(const QString &key, double value, std::optional<double> high, Verdict verdict)
{
    CheckResult c;
    c.key = key;
    c.name = QStringLiteral("Check %1").arg(key);
    c.value = value;
    c.unit = QStringLiteral("mm");
    c.high = high;
    c.verdict = verdict;
    return c;
}

struct Row
{
    QString rowClass;
    QStringList cells;
};

// What a browser would take from the page, read as XML.
struct Page
{
    QString error;
    QStringList images;        // src of every <img>
    QStringList foreign;       // any other src or href, and event handlers
    QVector<QSize> imageSizes; // their width and height attributes
    QVector<Row> rows;         // of the checks table
    QString verdict;
    QString text; // all character data, unescaped
};

Page readPage(const QByteArray &html)
{
    Page page;
    QXmlStreamReader xml(html);
    bool inChecks = false;
    Row *row = nullptr;
    QString cell;
    bool inVerdict = false;
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement: {
            const QXmlStreamAttributes attributes = xml.attributes();
            for (const QXmlStreamAttribute &a : attributes) {
                const QString name = a.name().toString().toLower();
                if (name.startsWith(QLatin1String("on")))
                    page.foreign << name;
                if (name == QLatin1String("src") && xml.name() == QLatin1String("img"))
                    page.images << a.value().toString();
                else if (name == QLatin1String("src") || name == QLatin1String("href"))
                    page.foreign << a.value().toString();
            }
            const QString classes = attributes.value(QLatin1String("class")).toString();
            if (xml.name() == QLatin1String("img"))
                page.imageSizes << QSize(attributes.value(QLatin1String("width")).toInt(),
                                         attributes.value(QLatin1String("height")).toInt());
            if (xml.name() == QLatin1String("table"))
                inChecks = classes == QLatin1String("checks");
            if (inChecks && xml.name() == QLatin1String("tr")) {
                page.rows.append({classes, {}});
                row = &page.rows.last();
            }
            if (xml.name() == QLatin1String("td"))
                cell.clear();
            inVerdict = classes.split(QLatin1Char(' ')).contains(QLatin1String("verdict"));
            break;
        }
        case QXmlStreamReader::Characters:
            page.text += xml.text();
            cell += xml.text();
            if (inVerdict)
                page.verdict += xml.text();
            break;
        case QXmlStreamReader::EndElement:
            if (row && xml.name() == QLatin1String("td"))
                row->cells << cell;
            if (xml.name() == QLatin1String("tr"))
                row = nullptr;
            if (xml.name() == QLatin1String("table"))
                inChecks = false;
            inVerdict = false;
            break;
        default:
            break;
        }
    }
    if (xml.hasError())
        page.error = QStringLiteral("line %1: %2").arg(xml.lineNumber()).arg(xml.errorString());
    return page;
}

// Checks what every report page must hold, whatever the data.
void verifyPage(const QByteArray &html, const CheckReport &report, Page *out = nullptr)
{
    const Page page = readPage(html);
    QVERIFY2(page.error.isEmpty(), qPrintable(page.error));
    QVERIFY2(page.foreign.isEmpty(), qPrintable(page.foreign.join(QLatin1Char(' '))));
    const QString raw = QString::fromUtf8(html);
    for (const char *banned : {"<script", "http:", "https:", "url(", "@import", "<link"})
        QVERIFY2(!raw.contains(QLatin1String(banned), Qt::CaseInsensitive), banned);

    QCOMPARE(page.images.size(), 5);
    QCOMPARE(page.imageSizes, QVector<QSize>(5, QSize(plotWidth, plotHeight)));
    const QString prefix = QStringLiteral("data:image/png;base64,");
    for (const QString &src : page.images) {
        QVERIFY(src.startsWith(prefix));
        QImage image;
        QVERIFY(image.loadFromData(QByteArray::fromBase64(src.mid(prefix.size()).toLatin1(),
                                                          QByteArray::AbortOnBase64DecodingErrors),
                                   "PNG"));
        QCOMPARE(image.size(), QSize(plotWidth, plotHeight) * plotScale);
        // Something is drawn on the white.
        const QImage white = [&] {
            QImage w(image.size(), image.format());
            w.fill(Qt::white);
            return w;
        }();
        QVERIFY(image != white);
    }

    QCOMPARE(page.verdict.trimmed(), report.verdictLine());
    // The header row, then one row per check with its verdict as its class.
    QCOMPARE(page.rows.size(), 1 + std::max(1, static_cast<int>(report.checks.size())));
    for (int i = 0; i < report.checks.size(); ++i) {
        const CheckResult &c = report.checks[i];
        const Row &row = page.rows[i + 1];
        QCOMPARE(row.rowClass, verdictText(c.verdict));
        QCOMPARE(row.cells.size(), 6);
        QCOMPARE(row.cells[0], c.name);
        QCOMPARE(row.cells[1], c.valueText());
        QCOMPARE(row.cells[4].toLower(), verdictText(c.verdict));
        QCOMPARE(row.cells[5], c.note);
    }
    if (out)
        *out = page;
}

// Pixels of the moving-bin colour in `marked` that are not in `plain`, and
// their centre.
QPointF newMarkCentre(const QImage &marked, const QImage &plain, int *count)
{
    double sx = 0, sy = 0;
    int n = 0;
    for (int y = 0; y < marked.height(); ++y)
        for (int x = 0; x < marked.width(); ++x)
            if (marked.pixel(x, y) == movingBinColour && plain.pixel(x, y) != movingBinColour) {
                sx += x;
                sy += y;
                ++n;
            }
    *count = n;
    return n > 0 ? QPointF(sx / n, sy / n) : QPointF(-1, -1);
}

QVector<bool> marksAround(int centreBin)
{
    QVector<bool> marks(ScanStatistics::binCount, false);
    for (int d = -8; d <= 8; ++d)
        marks[(centreBin + d + ScanStatistics::binCount) % ScanStatistics::binCount] = true;
    return marks;
}

} // namespace

void TestHtmlReport::pageIsSelfContainedAndEscaped()
{
    ScanStatistics stats(6.0, false);
    fillRoom(stats, 120, true);
    const QVector<bool> unsteady = unsteadyBins(stats);
    QVERIFY(unsteady.contains(true));

    CheckReport report;
    report.toolVersion = QStringLiteral("2.3.12");
    report.model = QStringLiteral("Alder");
    report.edition = QStringLiteral("full");
    report.source = QStringLiteral("bench/") + hostile + QStringLiteral(".pcapng");
    report.live = false;
    report.start = QDateTime(QDate(2026, 3, 14), QTime(9, 26, 53), Qt::UTC);
    report.durationS = 20.5;
    report.sensorVersion = hostile;
    report.checks << result(QStringLiteral("noise_median"), 7.9, 12.0, Verdict::Pass)
                  << result(QStringLiteral("noise_p95"), 31.0, 20.0, Verdict::Fail)
                  << result(QStringLiteral("noise_p95_far"), std::nan(""), 30.0, Verdict::Skipped);
    report.checks[1].note = QStringLiteral("above the limit");
    report.checks[2].note = QStringLiteral("no steady bin in this band");
    CheckResult version;
    version.key = QStringLiteral("information_reply");
    version.name = QStringLiteral("Information reply");
    version.text = hostile;
    version.verdict = Verdict::Pass;
    version.note = hostile;
    report.checks << version;
    report.notes << QStringLiteral("A static scene is assumed.") << hostile;
    QCOMPARE(report.failures(), 1);

    const QByteArray html = htmlReport(report, stats, unsteady);
    Page page;
    verifyPage(html, report, &page);
    if (QTest::currentTestFailed())
        return;

    // Hostile texts are shown, never as markup: source, sensor version (in the
    // header and the table's value and note) and the note.
    QVERIFY(!html.contains(hostile.toUtf8()));
    QVERIFY(page.text.count(hostile) >= 5);
    QVERIFY(page.text.contains(QStringLiteral("2026-03-14T09:26:53Z")));
    QVERIFY(page.text.contains(QStringLiteral("A static scene is assumed.")));
    QCOMPARE(page.rows[2].rowClass, QStringLiteral("fail"));

    // The same run gives the same page, byte for byte.
    QCOMPARE(htmlReport(report, stats, unsteady), html);
}

void TestHtmlReport::degenerateRunsStillGiveTheTableAndPlots_data()
{
    QTest::addColumn<bool>("commandProtocol");
    QTest::addColumn<int>("scans");
    QTest::addColumn<int>("pointsPerScan");
    QTest::addColumn<double>("fieldOfView");
    QTest::addColumn<double>("speed");
    QTest::newRow("no scans") << false << 0 << 720 << 360.0 << 6.0;
    QTest::newRow("one scan") << false << 1 << 720 << 360.0 << 6.0;
    // Two returns per bin: no bin has a σ.
    QTest::newRow("no sigma anywhere") << false << 2 << 360 << 360.0 << 6.0;
    QTest::newRow("scans without points") << false << 30 << 0 << 360.0 << 6.0;
    QTest::newRow("frames, none lost, a fan") << true << 50 << 720 << 90.0 << 20.0;
    QTest::newRow("speed not finite") << false << 30 << 720 << 360.0 << qInf();
}

void TestHtmlReport::degenerateRunsStillGiveTheTableAndPlots()
{
    QFETCH(bool, commandProtocol);
    QFETCH(int, scans);
    QFETCH(int, pointsPerScan);
    QFETCH(double, fieldOfView);
    QFETCH(double, speed);
    ScanStatistics stats(commandProtocol ? 20.0 : 6.0, commandProtocol);
    stats.setFieldOfView(0, fieldOfView);
    stats.setStart(0);
    for (int i = 0; i < scans; ++i) {
        SensorScan scan;
        scan.family =
            commandProtocol ? SensorScan::Family::CommandProtocol : SensorScan::Family::Streaming;
        scan.time = (i + 1) * (commandProtocol ? 50'000'000 : period);
        scan.speed = commandProtocol ? 0 : speed;
        scan.rate = commandProtocol ? speed : 6.0;
        for (int k = 0; k < pointsPerScan; ++k)
            scan.points.append(PointData{360.0 * k / pointsPerScan, 1500, 200, 0, 0});
        scan.total = scan.valid = pointsPerScan;
        stats.add(scan);
    }
    LinkFacts facts;
    facts.live = false;
    CheckReport report = evaluate(stats, facts, BenchProfile::defaults(QStringLiteral("Alder")));
    QVERIFY(!report.checks.isEmpty());
    verifyPage(htmlReport(report, stats, unsteadyBins(stats)), report);
}

void TestHtmlReport::movingBinMarksLandAtTheirAngles()
{
    ScanStatistics stats(6.0, false);
    fillRoom(stats, 60, false);
    const QImage plainPolar = scanPolarPlot(stats, {});
    const QImage plainSigma = sigmaPlot(stats, {});

    struct Marks
    {
        QPointF polar, sigma;
    };
    auto marksAt = [&](int bin) {
        int polarCount = 0, sigmaCount = 0;
        const Marks m{
            newMarkCentre(scanPolarPlot(stats, marksAround(bin)), plainPolar, &polarCount),
            newMarkCentre(sigmaPlot(stats, marksAround(bin)), plainSigma, &sigmaCount)};
        // Every one of the 17 bins has its cross.
        [&] {
            QVERIFY2(polarCount > 17 * 4, qPrintable(QString::number(polarCount)));
            QVERIFY2(sigmaCount > 17 * 4, qPrintable(QString::number(sigmaCount)));
        }();
        return m;
    };
    const Marks ahead = marksAt(0), right = marksAt(90), behind = marksAt(180), left = marksAt(270);
    if (QTest::currentTestFailed())
        return;

    // Seen from above, 0° ahead and clockwise: ahead is up, 90° to the right.
    const double spread = plotScale * 100.0;
    QVERIFY(right.polar.x() > left.polar.x() + spread);
    QVERIFY(ahead.polar.y() < behind.polar.y() - spread);
    QVERIFY(std::fabs(ahead.polar.x() - behind.polar.x()) < plotScale * 10.0);
    // σ against angle: from left to right (the marks ahead wrap around both
    // ends), and the same σ at the same height.
    QVERIFY(right.sigma.x() < behind.sigma.x());
    QVERIFY(behind.sigma.x() < left.sigma.x());
    QVERIFY(std::fabs(right.sigma.y() - left.sigma.y()) < plotScale * 40.0);
}

QTEST_MAIN(TestHtmlReport)
#include "tst_htmlreport.moc"
