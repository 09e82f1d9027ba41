// The bench check without a sensor: statistics of synthetic scans whose
// noise, gaps, stalls and lost frames are known, the profile parser's
// errors, and the shape of the JSON and JUnit reports.
#include "check/benchprofile.h"
#include "check/evaluation.h"
#include "check/margins.h"
#include "check/reportwriters.h"
#include "check/scanstatistics.h"
#include "check/sensorcheck.h"
#include "pcapngblocks.h"
#include "streamframes.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamReader>
#include <QtTest>
#include <random>

class TestBenchCheck : public QObject
{
    Q_OBJECT
private slots:
    void statisticsOfKnownScans();
    void lostFramesFromGapsInTheFrameSequence();
    void aLostLineIsOneStall_data();
    void aLostLineIsOneStall();
    void errorsCountOnWhenTheDecoderStartsAfresh();
    void onlyTheSensorLineOfACaptureIsDecoded();
    void profileErrorsNameKeyAndLine_data();
    void profileErrorsNameKeyAndLine();
    void profileOverridesDefaults();
    void reportsHaveTheirStructure();
    void figuresNearALimit_data();
    void figuresNearALimit();
};

namespace {

const CheckResult *find(const CheckReport &report, const QString &key)
{
    for (const CheckResult &c : report.checks)
        if (c.key == key)
            return &c;
    return nullptr;
}

// A round room 2 m away, two points per degree with Gaussian noise, a dead
// sector from 200° to 210° and something crossing 100°..110° in every
// third scan.
SensorScan roomScan(std::mt19937 &rng, double sigma, qint64 time, int errors)
{
    std::normal_distribution<double> noise(0.0, sigma);
    SensorScan scan;
    scan.speed = 6.0;
    scan.time = time;
    scan.errors = errors;
    const bool crossing = (time / 166'666'667) % 3 == 0;
    for (int k = 0; k < 720; ++k) {
        const double angle = k * 0.5 + 0.25;
        PointData p;
        p.angle = angle;
        if (angle < 200 || angle > 210) {
            const double base = crossing && angle > 100 && angle < 110 ? 1000.0 : 2000.0;
            p.distance = static_cast<uint16_t>(std::lround(base + noise(rng)));
        }
        scan.points.append(p);
        scan.valid += p.distance > 0;
    }
    scan.total = 720;
    return scan;
}

} // namespace

void TestBenchCheck::statisticsOfKnownScans()
{
    std::mt19937 rng(3);
    ScanStatistics stats(6.0, false, {{0.0, 2000.0, 2.0}, {205.0, 1500.0, 1.0}});
    stats.setStart(0);
    qint64 t = 300'000'000; // first scan 0.3 s after the start
    for (int i = 0; i < 300; ++i) {
        // Three scans from the line's buffer at once, with an error from
        // joining the stream; then one stall: the scan after number 150
        // comes four periods late; and an error every 100 scans.
        t += i < 3 ? 1'000'000 : i == 150 ? 4 * 166'666'667 : 166'666'667;
        stats.add(roomScan(rng, 10.0, t, i < 3 ? 1 : 1 + i / 100));
    }
    stats.setAcceptedFrames(300 * 60);

    QCOMPARE(stats.scans(), 300);
    QCOMPARE(stats.stalls(), 1);
    QCOMPARE(stats.errors(), 2);
    QCOMPARE(stats.joiningErrors(), 1);
    QVERIFY(std::fabs(stats.timeToFirstScan() - 0.301) < 1e-6);
    // Timed from the fourth scan: 296 intervals over 299 periods.
    QVERIFY(std::fabs(stats.scanRate() - 296.0 / 299 * 6) < 1e-6);
    QCOMPARE(stats.intervals().count(), 296);
    QVERIFY(std::fabs(stats.largestGap().quantile(0.5) - 10.5) < 0.02);
    QCOMPARE(stats.coverage(), 350.0 / 360.0);

    const QVector<bool> unsteady = unsteadyBins(stats);
    for (int bin : {100, 105, 109})
        QVERIFY2(unsteady[bin], qPrintable(QString::number(bin)));
    QVERIFY(!unsteady[50] && !unsteady[111]);
    QVERIFY(std::isnan(stats.binSigma(205)));

    const CheckReport report = evaluate(stats, LinkFacts{}, BenchProfile::defaults("Alder"));
    // σ 10 mm with two points per bin and scan.
    const double noise = find(report, "noise_median")->value;
    QVERIFY2(noise > 9.5 && noise < 10.5, qPrintable(QString::number(noise)));
    QCOMPARE(find(report, "noise_p95_near")->verdict, Verdict::Skipped);
    QCOMPARE(find(report, "stalls")->verdict, Verdict::Fail);
    QCOMPARE(find(report, "errors_per_1000")->value, 1000.0 * 2 / (300 * 60 + 2));
    QCOMPARE(find(report, "information_reply")->verdict, Verdict::Fail);
    // The reference straight ahead is found; the one in the dead sector is not.
    QVERIFY(std::fabs(stats.referenceStats(0).mean() - 2000) < 1.0);
    QVERIFY(std::fabs(stats.referenceStats(0).stddev() - 10) < 0.5);
    const CheckResult *bias = find(report, "reference_bias");
    QVERIFY(bias && bias->verdict == Verdict::Pass);
    const CheckResult &unseen = report.checks[report.checks.size() - 2];
    QCOMPARE(unseen.key, QString("reference_sigma"));
    QCOMPARE(unseen.verdict, Verdict::Fail); // no return at 205°
    QCOMPARE(report.checks.last().key, QString("reference_drift"));
    QCOMPARE(report.checks.last().verdict, Verdict::Skipped);
}

void TestBenchCheck::lostFramesFromGapsInTheFrameSequence()
{
    ScanStatistics stats(15.0, true);
    stats.setFieldOfView(0, 90);
    const qint64 period = 1'000'000'000 / 15;
    qint64 t = 0;
    for (int i = 0; i < 100; ++i) {
        t += i == 40 ? 3 * period : i == 70 ? 2 * period : period; // 2 + 1 frames missing
        SensorScan scan;
        scan.family = SensorScan::Family::CommandProtocol;
        scan.time = t;
        scan.rate = 15.0;
        for (int c = 0; c < 160; ++c)
            scan.points.append({-45.0 + c * 90.0 / 159, 500, 100, 0, 0});
        scan.valid = scan.total = 160;
        stats.add(scan);
    }
    stats.setAcceptedFrames(100);
    QCOMPARE(stats.errors(), 3);
    QCOMPARE(stats.framesSeen(), 103);
    QCOMPARE(stats.stalls(), 0);
    QVERIFY(std::fabs(stats.largestGap().quantile(1.0) - 90.0 / 159) < 0.02);
    QCOMPARE(stats.coverage(), 1.0);
    QCOMPARE(stats.speed().mean(), 15.0);
}

void TestBenchCheck::aLostLineIsOneStall_data()
{
    QTest::addColumn<bool>("frames");
    QTest::addColumn<int>("errorsAfter"); // the decoder's count after the line is back
    QTest::newRow("streaming, decoder started afresh") << false << 1;
    QTest::newRow("streaming, decoder counting on") << false << 6;
    QTest::newRow("command protocol") << true << 0;
}

// Three seconds away and back: one stall, and the outage neither stands for
// lost frames or errors nor slows the scan rate.
void TestBenchCheck::aLostLineIsOneStall()
{
    QFETCH(bool, frames);
    QFETCH(int, errorsAfter);
    const double hz = frames ? 15.0 : 10.0;
    ScanStatistics stats(hz, frames);
    const qint64 period = static_cast<qint64>(1e9 / hz);
    qint64 t = 0;
    for (int i = 0; i < 60; ++i) {
        if (i == 30)
            stats.lineLost();
        t += i == 30 ? 3'000'000'000 : period;
        SensorScan scan;
        scan.family = frames ? SensorScan::Family::CommandProtocol : SensorScan::Family::Streaming;
        scan.time = t;
        scan.rate = scan.speed = hz;
        scan.errors = i < 30 ? 5 : errorsAfter;
        scan.points.append({0.0, 500, 100, 0, 0});
        scan.valid = scan.total = 1;
        stats.add(scan);
    }
    QCOMPARE(stats.stalls(), 1);
    QCOMPARE(stats.errors(), frames ? 0 : 6 - stats.joiningErrors());
    QVERIFY(std::fabs(stats.scanRate() - hz) < 0.01 * hz);
}

// The decoder's count going back (its count cleared from the map's menu)
// neither loses the errors before nor hides those after.
void TestBenchCheck::errorsCountOnWhenTheDecoderStartsAfresh()
{
    ScanStatistics stats(10.0, false);
    for (int i = 0; i < 40; ++i) {
        SensorScan scan;
        scan.time = (i + 1) * 100'000'000LL;
        scan.speed = 10;
        scan.errors = i < 20 ? 1 + i / 10 : (i - 20) / 10;
        stats.add(scan);
    }
    // 1 while joining, 2 before the clear, 1 after it.
    QCOMPARE(stats.joiningErrors(), 1);
    QCOMPARE(stats.errors(), 2);
}

void TestBenchCheck::onlyTheSensorLineOfACaptureIsDecoded()
{
    // Frames recorded on another interface of a merged capture (not serial
    // bytes) or sent to the sensor never reach the decoders.
    QByteArray frames;
    for (int i = 0; i < 30; ++i)
        frames += Wire::encodePkg47(3600, uint16_t(i * 1200), {}, uint16_t(i * 1200 + 1100));
    Wire::PcapngBlocks blocks;
    blocks.section(false)
        .interface(147, 6)
        .interface(1, 6)
        .packet(0, 1000, "\x54\x2c")
        .packet(1, 2000, frames)
        .packet(0, 3000, frames, 2);
    QBuffer capture;
    capture.setData(blocks.bytes());
    QVERIFY(capture.open(QIODevice::ReadOnly));

    SensorCheck check(QStringLiteral("Alder"), BenchProfile::defaults("Alder"), {}, false);
    QString error;
    QVERIFY2(check.runCapture(&capture, &error), qPrintable(error));
    QCOMPARE(check.bytes(), 2);
}

void TestBenchCheck::profileErrorsNameKeyAndLine_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("unknown key") << QByteArray("{\n  \"speed_cv\": {\"high\": 0.02},\n"
                                               "  \"sped_mean\": {\"low\": 5}\n}\n")
                                 << QStringList{"line 3", "unknown key \"sped_mean\""};
    QTest::newRow("unknown bound") << QByteArray("{\n  \"coverage\": {\"lo\": 0.9}\n}")
                                   << QStringList{"line 2", "\"lo\"", "coverage"};
    QTest::newRow("malformed") << QByteArray(
                                      "{\n  \"coverage\": {\"low\": 0.9}\n  \"stalls\": {}\n}")
                               << QStringList{"line 3"};
    QTest::newRow("not a number") << QByteArray("{\"stalls\": {\"high\": \"none\"}}")
                                  << QStringList{"line 1", "stalls", "number or null"};
    QTest::newRow("bad firmware") << QByteArray("{\n\n\"min_firmware\": 2}")
                                  << QStringList{"line 3", "min_firmware"};
    QTest::newRow("array") << QByteArray("[1, 2]") << QStringList{"JSON object"};
    QTest::newRow("reference without distance")
        << QByteArray("{\n\"references\": [{\"angle\": 0, \"halfwidth\": 2}]}")
        << QStringList{"line 2", "references", "positive \"distance\""};
    QTest::newRow("reference too wide")
        << QByteArray("{\"references\": [{\"angle\": 0, \"distance\": 900, \"halfwidth\": 200}]}")
        << QStringList{"references"};
    QTest::newRow("references not a list")
        << QByteArray("{\"references\": {\"angle\": 0, \"distance\": 900}}")
        << QStringList{"references", "list"};
}

void TestBenchCheck::profileErrorsNameKeyAndLine()
{
    QFETCH(QByteArray, json);
    QFETCH(QStringList, expected);
    BenchProfile profile = BenchProfile::defaults("Alder");
    const auto before = profile.limit("coverage").low;
    QString error;
    QVERIFY(!profile.apply(json, &error));
    for (const QString &part : expected)
        QVERIFY2(error.contains(part), qPrintable(error));
    // A refused profile changes nothing.
    QCOMPARE(profile.limit("coverage").low, before);
}

void TestBenchCheck::profileOverridesDefaults()
{
    BenchProfile profile = BenchProfile::defaults("Dogwood");
    QCOMPARE(*profile.limit("speed_mean").low, 9.0);
    QString error;
    QVERIFY2(profile.apply("{\"speed_mean\": {\"low\": 9.8, \"high\": null},"
                           " \"min_firmware\": \"1.3.0\"}",
                           &error),
             qPrintable(error));
    QCOMPARE(*profile.limit("speed_mean").low, 9.8);
    QVERIFY(!profile.limit("speed_mean").high);
    QCOMPARE(*profile.limit("speed_cv").high, 0.01); // untouched
    QVERIFY2(profile.apply(R"({"references": [{"angle": -90, "distance": 2400},
                                              {"angle": 0, "distance": 2300, "halfwidth": 2.5}]})",
                           &error),
             qPrintable(error));
    QCOMPARE(profile.references.size(), 2);
    QCOMPARE(profile.references[0].angle, -90.0);
    QCOMPARE(profile.references[0].halfWidth, 1.0);
    QCOMPARE(profile.references[1].distance, 2300.0);
    QCOMPARE(profile.references[1].halfWidth, 2.5);

    QCOMPARE(compareFirmware("v1.2.10 hw:1f", "1.2.9"), std::optional<int>(1));
    QCOMPARE(compareFirmware("v1.2.10 hw:1f", "1.10.0"), std::optional<int>(-1));
    QCOMPARE(compareFirmware("", "1.0.0"), std::nullopt);
    LinkFacts facts;
    facts.versionText = "v1.2.10 hw:1f";
    const CheckReport report = evaluate(ScanStatistics(10, false), facts, profile);
    const CheckResult *firmware = find(report, "min_firmware");
    QVERIFY(firmware && firmware->verdict == Verdict::Fail && firmware->note.contains("1.3.0"));
}

void TestBenchCheck::reportsHaveTheirStructure()
{
    std::mt19937 rng(5);
    ScanStatistics stats(6.0, false);
    for (int i = 1; i <= 30; ++i)
        stats.add(roomScan(rng, 40.0, i * 166'666'667LL, 0));
    LinkFacts facts;
    facts.versionText = "v1.2.10 hw:1f";
    CheckReport report = evaluate(stats, facts, BenchProfile::defaults("Alder"));
    report.model = "Alder";
    report.edition = "full";
    report.source = "/dev/ttyUSB0 <&>";
    report.toolVersion = "9.9.9";
    report.start = QDateTime(QDate(2026, 12, 8), QTime(10, 0), Qt::UTC);
    QVERIFY(report.failures() > 0); // 40 mm of noise
    QVERIFY(textReport(report).endsWith(QStringLiteral("FAIL: %1 of %2 checks failed\n")
                                            .arg(report.failures())
                                            .arg(report.counted())));

    QJsonParseError error;
    const QJsonObject json = QJsonDocument::fromJson(jsonReport(report), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(json["start"].toString(), QString("2026-12-08T10:00:00.000Z"));
    QCOMPARE(json["verdict"].toString(), QString("fail"));
    QCOMPARE(json["source"].toString(), report.source);
    const QJsonArray checks = json["checks"].toArray();
    QCOMPARE(checks.size(), report.checks.size());
    for (const QJsonValue &v : checks)
        for (const char *field : {"name", "value", "unit", "low", "high", "verdict"})
            QVERIFY2(v.toObject().contains(field), field);

    // JUnit: testsuites > testsuite > properties + one testcase per check,
    // a failure in each failed one naming the value and the limit.
    QXmlStreamReader xml(junitReport({report, report}));
    int suites = 0, cases = 0, failures = 0, properties = 0;
    QStringList path;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement) {
            const QString name = xml.name().toString();
            if (name == "testsuite") {
                QCOMPARE(path, QStringList{"testsuites"});
                ++suites;
            } else if (name == "testcase") {
                QCOMPARE(path.last(), QString("testsuite"));
                ++cases;
            } else if (name == "property") {
                QCOMPARE(path.last(), QString("properties"));
                ++properties;
            } else if (name == "failure") {
                QCOMPARE(path.last(), QString("testcase"));
                const QString message = xml.attributes().value("message").toString();
                QVERIFY2(message.contains(" is ") && message.contains("limit"),
                         qPrintable(message));
                ++failures;
            }
            path << name;
        } else if (xml.isEndElement()) {
            path.removeLast();
        }
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(suites, 2);
    QCOMPARE(cases, 2 * report.checks.size());
    QCOMPARE(failures, 2 * report.failures());
    QCOMPARE(properties, 2 * 7);
}

QTEST_GUILESS_MAIN(TestBenchCheck)
#include "tst_benchcheck.moc"

void TestBenchCheck::figuresNearALimit_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("low"); // NaN: no limit
    QTest::addColumn<double>("high");
    QTest::addColumn<int>("zone");
    const double none = std::nan("");
    const int within = int(LimitZone::Within), near = int(LimitZone::Near),
              outside = int(LimitZone::Outside);
    // Two limits: 10 % of the band between them.
    QTest::newRow("mid band") << 10.0 << 9.0 << 11.0 << within;
    QTest::newRow("by the high limit") << 10.85 << 9.0 << 11.0 << near;
    QTest::newRow("by the low limit") << 9.1 << 9.0 << 11.0 << near;
    QTest::newRow("below") << 8.99 << 9.0 << 11.0 << outside;
    // One limit: 10 % of its value.
    QTest::newRow("under a high limit") << 4.6 << none << 5.0 << near;
    QTest::newRow("well under it") << 4.4 << none << 5.0 << within;
    QTest::newRow("over a low limit") << 0.95 << 0.9 << none << near;
    QTest::newRow("none allowed, none had") << 0.0 << none << 0.0 << within;
    QTest::newRow("none allowed, one had") << 1.0 << none << 0.0 << outside;
    QTest::newRow("no limit") << 123.0 << none << none << within;
    QTest::newRow("not measured") << none << 9.0 << 11.0 << int(LimitZone::Unknown);
}

void TestBenchCheck::figuresNearALimit()
{
    QFETCH(double, value);
    QFETCH(double, low);
    QFETCH(double, high);
    QFETCH(int, zone);
    CheckLimit limit;
    if (!std::isnan(low))
        limit.low = low;
    if (!std::isnan(high))
        limit.high = high;
    QCOMPARE(int(limitZone(value, limit)), zone);
}
