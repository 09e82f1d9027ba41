// The simulator's faults, checked against the real decoding road: the
// faults come and go with the period, and every scan the simulator reports
// as sent whole in a fault-free stretch is published, with no packet error;
// the measurement faults show in the decoded figures as asked for; and a
// timestamped capture reads back and decodes at the sensor's pace.
#include "capturereader.h"
#include "lipkg.h"
#include "sensorscan.h"
#include "sensorsession.h"
#include "sensorsim.h"
#include "simmodels.h"

#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <cmath>

namespace {

// Decodes `scans` scans of the simulated sensor through the session, fed in
// 1 ms chunks with the clock at each chunk's stream time, filter off.
QVector<SensorScan> decodeSim(const QString &modelName, const SimFaults &faults, int scans)
{
    SensorSim sim(*findSimModel(modelName), 7, faults, SimIdentity{});
    double now = 0;
    SensorSession session;
    session.chooseModel(modelName);
    session.setCalibrateFromStream(true);
    session.liPkg()->setEnableFilter(false);
    session.setTimeSource([&now] { return static_cast<qint64>(std::llround(now * 1e9)); });
    QVector<SensorScan> published;
    QObject::connect(&session, &SensorSession::scanReady,
                     [&published](const SensorScan &scan) { published.append(scan); });
    CapturePlan plan;
    plan.scans = scans;
    plan.step = 0.001;
    sim.capture(plan, [&](const QByteArray &bytes, double t) {
        now = t;
        session.push(bytes);
        return true;
    });
    return published;
}

// Distances (no empty ones) of the points within a degree of `angle`.
QVector<double> distancesNear(const QVector<SensorScan> &scans, double angle)
{
    QVector<double> found;
    for (const SensorScan &scan : scans)
        for (const PointData &p : scan.points) {
            const double off = std::fmod(p.angle - angle + 540.0, 360.0) - 180.0;
            if (p.distance != 0 && p.angle < 360.0 && std::abs(off) <= 1.0)
                found.append(p.distance);
        }
    return found;
}

double mean(const QVector<double> &values)
{
    double sum = 0;
    for (double v : values)
        sum += v;
    return values.isEmpty() ? 0.0 : sum / values.size();
}

double deviation(const QVector<double> &values)
{
    const double m = mean(values);
    double sum = 0;
    for (double v : values)
        sum += (v - m) * (v - m);
    return values.size() < 2 ? 0.0 : std::sqrt(sum / (values.size() - 1));
}

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0.0 : values[values.size() / 2];
}

double validRatio(const QVector<SensorScan> &scans)
{
    double valid = 0, total = 0;
    for (const SensorScan &scan : scans) {
        valid += scan.valid;
        total += scan.total;
    }
    return total > 0 ? valid / total : 0.0;
}

// Seconds between consecutive published scans.
QVector<double> intervals(const QVector<SensorScan> &scans)
{
    QVector<double> gaps;
    for (int i = 1; i < scans.size(); ++i)
        gaps.append((scans[i].time - scans[i - 1].time) / 1e9);
    return gaps;
}

} // namespace

class TestSimFaults : public QObject
{
    Q_OBJECT
private slots:
    void faultPeriodStretchesArriveWhole();
    void distancesFollowNoiseDropoutAndRoom();
    void speedJitterVariesRevolutionsAndFrames();
    void timestampedCaptureReadsBack();
};

void TestSimFaults::faultPeriodStretchesArriveWhole()
{
    const SimModel &model = *findSimModel(QStringLiteral("Dogwood"));
    SimFaults faults;
    // Heavy faults, so no scan of a faulty period gets through untouched.
    faults.garbageRate = 0.3;
    faults.corruptRate = 0.3;
    faults.dropRate = 0.3;
    faults.period = 1.0;
    SensorSim sim(model, 5, faults, SimIdentity{});

    double now = 0;
    SensorSession session;
    session.chooseModel(model.name);
    session.setTimeSource([&now] { return static_cast<qint64>(std::llround(now * 1e9)); });
    QVector<SensorScan> published;
    connect(&session, &SensorSession::scanReady, this,
            [&published](const SensorScan &scan) { published.append(scan); });

    // Stream time each scan was completely sent at, as the pseudo-terminal
    // sensor records it, and the stretches in the order they ended.
    QMap<int, double> sentAt;
    QVector<CleanStretch> stretches;
    for (int tick = 1; tick <= 2100; ++tick) {
        now = tick * 0.005;
        const int before = sim.scansSent();
        session.push(sim.advance(now));
        for (int k = before + 1; k <= sim.scansSent(); ++k)
            sentAt.insert(k, now);
        stretches += sim.takeCleanStretches();
    }

    // Faults on in [0, 1), off in [1, 2), ... up to 10.5 s: five stretches.
    QCOMPARE(stretches.size(), 5);
    QVERIFY(!published.isEmpty() && published.last().errors > 0);
    const double halfScan = 0.5 / model.scanHz();
    const int pointsPerTurn = static_cast<int>(model.samplesPerSecond / model.rotationHz);
    for (int s = 0; s < stretches.size(); ++s) {
        const CleanStretch &stretch = stretches[s];
        QVERIFY(sentAt.contains(stretch.firstScan - 1) && sentAt.contains(stretch.lastScan));
        const double from = sentAt[stretch.firstScan - 1], to = sentAt[stretch.lastScan];
        QCOMPARE(static_cast<int>(std::floor(from)), 2 * s + 1);
        QCOMPARE(static_cast<int>(std::floor(to)), 2 * s + 1);
        QVERIFY2(stretch.count() >= 6, qPrintable(QString::number(stretch.count())));

        // The soak's reading of the same figures.
        QVector<SensorScan> inside;
        for (const SensorScan &scan : published)
            if (scan.time > (from + halfScan) * 1e9 && scan.time <= (to + halfScan) * 1e9)
                inside.append(scan);
        QCOMPARE(inside.size(), stretch.count());
        QCOMPARE(inside.first().errors, inside.last().errors);
        for (const SensorScan &scan : inside)
            QVERIFY2(std::abs(scan.total - pointsPerTurn) <= 12,
                     qPrintable(QString::number(scan.total)));
    }
}

void TestSimFaults::distancesFollowNoiseDropoutAndRoom()
{
    SimFaults noisy;
    noisy.staticScene = true;
    noisy.rangeNoise = 10;
    SimFaults exact = noisy;
    exact.rangeNoise = 0;
    exact.dropout = 0.1;
    SimFaults moving;
    moving.rangeNoise = 0;
    const QVector<SensorScan> noisyScans = decodeSim("Dogwood", noisy, 100);
    const QVector<SensorScan> exactScans = decodeSim("Dogwood", exact, 100);
    const QVector<SensorScan> movingScans = decodeSim("Dogwood", moving, 100);
    QVERIFY(noisyScans.size() >= 99 && exactScans.size() >= 99 && movingScans.size() >= 99);

    // The walls of the empty room; distances are cut to whole millimetres.
    const double walls[][2] = {{0, 2300}, {90, 3600}, {180, 1700}, {270, 2400}};
    for (const auto &wall : walls) {
        const QVector<double> near = distancesNear(exactScans, wall[0]);
        QVERIFY2(near.size() >= 100, qPrintable(QString::number(near.size())));
        QVERIFY2(std::abs(median(near) - wall[1]) <= 3,
                 qPrintable(QStringLiteral("%1: %2").arg(wall[0]).arg(median(near))));
        // Only the cut to whole millimetres is left without noise.
        QVERIFY2(deviation(near) < 1.0, qPrintable(QString::number(deviation(near))));
        const QVector<double> noisyNear = distancesNear(noisyScans, wall[0]);
        QVERIFY2(std::abs(median(noisyNear) - wall[1]) <= 3,
                 qPrintable(QStringLiteral("%1: %2").arg(wall[0]).arg(median(noisyNear))));
        // The same spread near and far, unlike the built-in noise.
        QVERIFY2(deviation(noisyNear) >= 8 && deviation(noisyNear) <= 12,
                 qPrintable(QString::number(deviation(noisyNear))));
    }

    // The walker crosses straight ahead in the moving room only.
    const auto walkerSeen = [](const QVector<SensorScan> &scans) {
        const QVector<double> ahead = distancesNear(scans, 0);
        return std::count_if(ahead.begin(), ahead.end(), [](double d) { return d < 2000; });
    };
    QVERIFY(walkerSeen(movingScans) > 0);
    QCOMPARE(walkerSeen(exactScans), 0);
    QCOMPARE(walkerSeen(noisyScans), 0);

    // Dropout takes its share of the returns left by the built-in losses.
    const double withDropout = validRatio(exactScans), without = validRatio(noisyScans);
    QVERIFY2(withDropout >= 0.85 && withDropout <= 0.95, qPrintable(QString::number(withDropout)));
    QVERIFY2(std::abs(withDropout / without - 0.9) < 0.02,
             qPrintable(QString::number(withDropout / without)));
}

void TestSimFaults::speedJitterVariesRevolutionsAndFrames()
{
    SimFaults faults;
    faults.speedJitter = 5;
    const SimModel &dogwood = *findSimModel("Dogwood");
    const QVector<SensorScan> scans = decodeSim(dogwood.name, faults, 300);
    QVERIFY(scans.size() >= 299);
    QVector<double> speeds;
    for (const SensorScan &scan : scans)
        speeds.append(scan.speed);
    QVERIFY2(std::abs(mean(speeds) / dogwood.rotationHz - 1) < 0.02,
             qPrintable(QString::number(mean(speeds))));
    const double speedCv = deviation(speeds) / mean(speeds);
    QVERIFY2(speedCv >= 0.04 && speedCv <= 0.06, qPrintable(QString::number(speedCv)));
    const QVector<double> gaps = intervals(scans);
    const double gapCv = deviation(gaps) / mean(gaps);
    QVERIFY2(gapCv >= 0.04 && gapCv <= 0.06, qPrintable(QString::number(gapCv)));
    // A full turn still, whatever the speed: the samples keep their rate, so
    // a slow revolution has more of them. (A scan whose closing frame starts
    // exactly on the wrap reports the next revolution's speed.)
    const auto turnMatchesSpeed = [&dogwood](const SensorScan &scan) {
        return std::abs(scan.total * scan.speed / dogwood.samplesPerSecond - 1) < 0.02;
    };
    const auto matching = std::count_if(scans.begin() + 1, scans.end(), turnMatchesSpeed);
    QVERIFY2(matching >= 0.8 * scans.size(), qPrintable(QString::number(matching)));

    // Fir's frames come at a rate that varies alike; without jitter they
    // come like clockwork.
    const SimModel &fir = *findSimModel("Fir");
    const QVector<double> firGaps = intervals(decodeSim(fir.name, faults, 200));
    QVERIFY(firGaps.size() >= 198);
    const double firCv = deviation(firGaps) / mean(firGaps);
    QVERIFY2(firCv >= 0.04 && firCv <= 0.06, qPrintable(QString::number(firCv)));
    QVERIFY2(std::abs(mean(firGaps) * fir.frameHz - 1) < 0.02,
             qPrintable(QString::number(mean(firGaps))));
    const QVector<double> steadyGaps = intervals(decodeSim(fir.name, SimFaults{}, 50));
    QVERIFY(deviation(steadyGaps) / mean(steadyGaps) < 0.01);
}

void TestSimFaults::timestampedCaptureReadsBack()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    struct Case
    {
        QString model;
        QStringList length; // --scans or --seconds
        int scans;          // expected
    };
    const Case cases[] = {{"Dogwood", {"-n", "40"}, 40}, {"Fir", {"--seconds", "3"}, 45}};
    for (const Case &c : cases) {
        const SimModel &model = *findSimModel(c.model);
        const QString path = dir.filePath(c.model + ".pcapng");
        QProcess sim;
        sim.start(VANTOSCOPE_SIM_PATH,
                  QStringList{"--model", c.model, "--seed", "3", "--output", path} + c.length);
        QVERIFY(sim.waitForFinished(120000));
        QCOMPARE(sim.exitCode(), 0);

        CaptureReader reader;
        QVERIFY2(reader.open(path), qPrintable(reader.errorString()));
        QCOMPARE(reader.format(), CaptureReader::Format::Pcapng);
        SensorSession session;
        session.chooseModel(model.name);
        session.setCalibrateFromStream(true);
        qint64 now = 0;
        session.setTimeSource([&now] { return now; });
        QVector<SensorScan> published;
        connect(&session, &SensorSession::scanReady, this,
                [&published](const SensorScan &scan) { published.append(scan); });
        CaptureRecord record;
        qint64 first = -1;
        int records = 0;
        while (reader.readNext(record)) {
            QCOMPARE(record.direction, CaptureDirection::Inbound);
            QVERIFY(record.timeNs > now);
            if (first < 0)
                first = record.timeNs;
            now = record.timeNs;
            session.push(record.data);
            ++records;
        }
        QVERIFY(!reader.damaged() && !reader.truncated());
        const CaptureMetadata &metadata = reader.interfaces().value(0).metadata;
        QCOMPARE(metadata.model, model.name);
        QCOMPARE(metadata.baudrate, model.baudrate);
        QCOMPARE(metadata.edition, QStringLiteral("full"));
        QVERIFY(reader.versionText().startsWith("v1.2.10"));

        // About a frame a record, and as long as the scans take.
        const double duration = (now - first) / 1e9;
        QVERIFY2(std::abs(duration - c.scans / model.scanHz()) <= 1.0 / model.scanHz(),
                 qPrintable(QString::number(duration)));
        const double framesPerScan =
            model.commandProtocol() ? 1 : model.samplesPerSecond / model.rotationHz / 12;
        QVERIFY2(records >= c.scans * framesPerScan, qPrintable(QString::number(records)));
        QVERIFY2(std::abs(published.size() - c.scans) <= 1,
                 qPrintable(QString::number(published.size())));
        const QVector<double> gaps = intervals(published);
        QVERIFY2(std::abs(mean(gaps) * model.scanHz() - 1) < 0.02,
                 qPrintable(QString::number(mean(gaps))));
        QVERIFY(std::abs(published.last().rate - model.scanHz()) < 0.05 * model.scanHz());
    }
}

QTEST_GUILESS_MAIN(TestSimFaults)
#include "tst_simfaults.moc"
