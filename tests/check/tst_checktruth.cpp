// vantoscope-check against captures whose truth is known because this test
// wrote them, frame by frame, from a seeded generator rather than the
// simulator: the figures a maker accepts a unit on, the drift of a reference
// and the unit's identity in every report.
#include "capture/capturewriter.h"
#include "check/runningstats.h"
#include "checkrun.h"
#include "streamframes.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <random>

namespace {

// A round room around a 10 Hz, 4000 points/s sensor (Dogwood).
struct Truth
{
    double seconds = 90;
    double distanceMm = 2000;
    double sigmaMm = 25;
    double dropout = 0.04;
    double speedCv = 0.01; // of each turn's speed around the nominal
    double driftMmPerMin = 0;
    // The head starts this share slow and closes the gap with this time
    // constant; it is within ±1 % after tau × ln(share / 0.01).
    double spinUpShare = 0, spinUpTau = 1;
    unsigned seed = 2026;

    double settlingS() const
    {
        return spinUpShare > 0.01 ? spinUpTau * std::log(spinUpShare / 0.01) : 0.0;
    }
};

constexpr double nominalHz = 10, pointRate = 4000;

// What a seeded run of the generator actually holds, beside the parameters
// it was drawn from: the check can only find what is in the capture.
struct Realised
{
    double speedCv = 0;
    double validShare = 0;
    double sigmaMm = 0;
    double driftMmPerMin = 0; // of the returns within ±10° of 0°
};

// Least squares through every return of the sector against its time.
struct Line
{
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    void add(double x, double y)
    {
        n += 1;
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
    }
    double slope() const { return (sxy - sx * sy / n) / (sxx - sx * sx / n); }
};

bool writeCapture(const QString &path, const Truth &truth, Realised *realised)
{
    CaptureWriter writer;
    CaptureMetadata metadata;
    metadata.model = QStringLiteral("Dogwood");
    metadata.baudrate = 230400;
    if (!writer.open(path, metadata))
        return false;
    std::mt19937 random(truth.seed);
    std::normal_distribution<double> gauss;
    std::uniform_real_distribution<double> uniform;
    const qint64 epoch = Q_INT64_C(1796000000) * 1000000000;
    auto turnSpeed = [&](double t) {
        return nominalHz * (1 + truth.speedCv * gauss(random)) *
               (1 - truth.spinUpShare * std::exp(-t / truth.spinUpTau));
    };
    double t = 0, angle = 0, speed = turnSpeed(0);
    RunningStats turns, noise;
    long long drawn = 0, kept = 0;
    Line sector;
    while (t < truth.seconds) {
        QVector<Wire::StreamPoint> points;
        const double startAngle = angle, frameSpeed = speed;
        double endAngle = angle;
        for (int k = 0; k < 12; ++k) {
            endAngle = angle;
            const double distance = truth.distanceMm + truth.driftMmPerMin * t / 60.0;
            const double error = truth.sigmaMm * gauss(random);
            noise.add(error);
            const bool dropped = uniform(random) < truth.dropout;
            ++drawn;
            kept += dropped ? 0 : 1;
            if (!dropped && (angle <= 10 || angle >= 350)) {
                sector.add(t / 60, std::lround(distance + error));
            }
            points.append(
                {static_cast<uint16_t>(dropped ? 0 : std::lround(distance + error)), 200});
            t += 1 / pointRate;
            angle += speed * 360 / pointRate;
            if (angle >= 360) {
                angle -= 360;
                turns.add(speed);
                speed = turnSpeed(t);
            }
        }
        const QByteArray frame =
            Wire::encodePkg47(static_cast<uint16_t>(std::lround(frameSpeed * 360)),
                              static_cast<uint16_t>(std::lround(startAngle * 100)), points,
                              static_cast<uint16_t>(std::lround(endAngle * 100)),
                              static_cast<uint16_t>(std::llround(t * 1000) % 30000));
        if (!writer.append(CaptureDirection::Inbound, frame, epoch + std::llround(t * 1e9)))
            return false;
    }
    *realised = {turns.cv(), static_cast<double>(kept) / drawn, noise.stddev(),
                 sector.n > 1 ? sector.slope() : std::nan("")};
    return writer.close();
}

double value(const QJsonObject &report, const char *key)
{
    return checkByKey(report, QLatin1String(key))["value"].toDouble(std::nan(""));
}

} // namespace

class TestCheckTruth : public QObject
{
    Q_OBJECT
private slots:
    void figuresMatchTheKnownTruth();
    void driftIsJudgedInMillimetresPerMinute_data();
    void driftIsJudgedInMillimetresPerMinute();
    void unitNamesTheReportsInTheOutputFolder();

private:
    QString capture(const Truth &truth, Realised *realised);
    QTemporaryDir dir;
    int files = 0;
};

QString TestCheckTruth::capture(const Truth &truth, Realised *realised)
{
    const QString path = dir.filePath(QStringLiteral("truth%1.pcapng").arg(++files));
    return writeCapture(path, truth, realised) ? path : QString();
}

void TestCheckTruth::figuresMatchTheKnownTruth()
{
    const Truth truth;
    Realised realised;
    const QString file = capture(truth, &realised);
    QVERIFY(!file.isEmpty());
    const QString json = dir.filePath("truth.json");
    const ProgramRun run =
        runCheck({"--model", "Dogwood", "--json", json, "--reference", "0:2000:10", file});
    const QJsonObject report = readJson(json);
    QVERIFY2(!report.isEmpty(), qPrintable(run.err));
    QCOMPARE(report["filter"].toBool(true), false);

    const double sigma = value(report, "noise_median");
    const double referenceSigma = value(report, "reference_sigma");
    const double valid = value(report, "valid_ratio_mean");
    const double cv = value(report, "speed_cv");
    const double reference = truth.distanceMm + value(report, "reference_bias");
    qInfo("σ %.3f mm, reference σ %.3f mm (truth %.1f, drawn %.3f); valid ratio %.4f (truth "
          "%.4f, drawn %.4f); speed cv %.5f (truth %.4f, drawn %.5f); reference %.2f mm (truth "
          "%.1f)",
          sigma, referenceSigma, truth.sigmaMm, realised.sigmaMm, valid, 1 - truth.dropout,
          realised.validShare, cv, truth.speedCv, realised.speedCv, reference, truth.distanceMm);
    QVERIFY2(std::fabs(sigma / truth.sigmaMm - 1) < 0.05, qPrintable(QString::number(sigma)));
    QVERIFY2(std::fabs(referenceSigma / truth.sigmaMm - 1) < 0.05,
             qPrintable(QString::number(referenceSigma)));
    QVERIFY2(std::fabs(valid - (1 - truth.dropout)) < 0.005, qPrintable(QString::number(valid)));
    QVERIFY2(std::fabs(reference / truth.distanceMm - 1) < 0.05,
             qPrintable(QString::number(reference)));
    // 900 turns draw a spread some percent off the one asked for; the check
    // is held to the spread the turns in the capture have.
    QVERIFY2(std::fabs(cv / realised.speedCv - 1) < 0.05, qPrintable(QString::number(cv)));
}

void TestCheckTruth::driftIsJudgedInMillimetresPerMinute_data()
{
    QTest::addColumn<double>("drift");
    QTest::addColumn<QString>("verdict");
    QTest::newRow("2 mm/min passes") << 2.0 << "pass";
    QTest::newRow("6 mm/min fails") << 6.0 << "fail";
    QTest::newRow("-6 mm/min fails") << -6.0 << "fail";
}

void TestCheckTruth::driftIsJudgedInMillimetresPerMinute()
{
    QFETCH(double, drift);
    QFETCH(QString, verdict);
    Truth truth;
    truth.sigmaMm = 5;
    truth.speedCv = 0.003;
    truth.driftMmPerMin = drift;
    truth.spinUpShare = 0.05;
    truth.spinUpTau = 2;
    Realised realised;
    const QString file = capture(truth, &realised);
    QVERIFY(!file.isEmpty());
    const QString json = dir.filePath("drift.json");
    const QString html = dir.filePath("drift.html");
    runCheck(
        {"--model", "Dogwood", "--json", json, "--html", html, "--reference", "0:2000:10", file});
    const QJsonObject report = readJson(json);
    const QJsonObject check = checkByKey(report, "reference_drift");
    const double measured = check["value"].toDouble(std::nan(""));
    const double settling = value(report, "speed_settling");
    qInfo("drift %.3f mm/min (truth %.1f, drawn %.3f), settling %.2f s (truth %.2f)", measured,
          drift, realised.driftMmPerMin, settling, truth.settlingS());
    QCOMPARE(check["verdict"].toString(), verdict);
    QVERIFY2(std::fabs(measured - realised.driftMmPerMin) < 0.05 * std::fabs(drift),
             qPrintable(QString::number(measured)));
    // To the settling windows' width.
    QVERIFY2(std::fabs(settling - truth.settlingS()) <= 1.0, qPrintable(QString::number(settling)));
    QFile page(html);
    QVERIFY(page.open(QIODevice::ReadOnly));
    QVERIFY(page.readAll().contains("Reference drift"));
}

void TestCheckTruth::unitNamesTheReportsInTheOutputFolder()
{
    Truth truth;
    truth.seconds = 8;
    Realised realised;
    const QString file = capture(truth, &realised);
    QVERIFY(!file.isEmpty());
    QDir out(dir.filePath("reports"));
    QVERIFY(out.mkpath("."));
    const ProgramRun run = runCheck({"--model", "Dogwood", "--unit", "SN-0042#B", "--out-dir",
                                     out.path(), "--filter", "--reference", "0:2000", file});
    QVERIFY2(run.status == 0 || run.status == 1, qPrintable(run.err));
    const QStringList names = out.entryList(QDir::Files, QDir::Name);
    QCOMPARE(names.size(), 3);
    const QRegularExpression pattern("^SN-0042#B-\\d{8}-\\d{6}\\.(html|json|xml)$");
    for (const QString &name : names)
        QVERIFY2(pattern.match(name).hasMatch(), qPrintable(name));
    const QJsonObject report = readJson(out.filePath(names[1]));
    QCOMPARE(report["unit"].toString(), QString("SN-0042#B"));
    QCOMPARE(report["filter"].toBool(false), true);
    // Too short to fit a drift: not judged, rather than passed.
    const QJsonObject drift = checkByKey(report, "reference_drift");
    QCOMPARE(drift["verdict"].toString(), QString("skipped"));
    QVERIFY(drift["note"].toString().contains("too short"));
    QFile junit(out.filePath(names[2]));
    QVERIFY(junit.open(QIODevice::ReadOnly));
    QVERIFY(junit.readAll().contains("<property name=\"unit\" value=\"SN-0042#B\"/>"));
    QFile html(out.filePath(names[0]));
    QVERIFY(html.open(QIODevice::ReadOnly));
    QVERIFY(html.readAll().contains("<td>SN-0042#B</td>"));
}

QTEST_GUILESS_MAIN(TestCheckTruth)
#include "tst_checktruth.moc"
