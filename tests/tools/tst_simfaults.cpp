// The simulator's faults, checked against the real decoding road: the
// faults come and go with the period, and every scan the simulator reports
// as sent whole in a fault-free stretch is published, with no packet error;
// the measurement faults show in the decoded figures as asked for; and a
// timestamped capture reads back and decodes at the sensor's pace.
#include "capture/capturereader.h"
#include "faultinjector.h"
#include "lipkg/lipkg.h"
#include "points/sensorscan.h"
#include "sensorsim.h"
#include "session/sensorsession.h"
#include "simmodels.h"

#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <cmath>

namespace {

// Checks that `value` lies within [low, high] and shows it when not.
#define VERIFY_WITHIN(value, low, high)                                                            \
    do {                                                                                           \
        const double v_ = (value);                                                                 \
        QVERIFY2(v_ >= (low) && v_ <= (high), qPrintable(#value " = " + QString::number(v_)));     \
    } while (false)

// Decodes `scans` scans of the simulated sensor through the session, fed in
// 1 ms chunks with the clock at each chunk's stream time, filter off.
QVector<SensorScan> decodeSim(const QString &modelName, const SimFaults &faults, int scans)
{
    SensorSim sim(*findSimModel(modelName), 7, faults, SimIdentity{});
    double now = 0;
    SensorSession session;
    session.chooseModel(modelName);
    session.setCalibrateFromStream(true);
    session.setFilterEnabled(false);
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
        for (const PointData &p : scan.points)
            if (p.distance != 0 && p.angle < 360.0 &&
                std::abs(std::fmod(p.angle - angle + 540.0, 360.0) - 180.0) <= 1.0)
                found.append(p.distance);
    return found;
}

struct Stats
{
    double mean = 0, sd = 0, median = 0;
    double cv() const { return sd / mean; }
};

Stats stats(QVector<double> values)
{
    Stats s;
    if (values.size() < 2)
        return s;
    for (double v : values)
        s.mean += v / values.size();
    for (double v : values)
        s.sd += (v - s.mean) * (v - s.mean) / (values.size() - 1);
    s.sd = std::sqrt(s.sd);
    std::sort(values.begin(), values.end());
    s.median = values[values.size() / 2];
    return s;
}

double validRatio(const QVector<SensorScan> &scans)
{
    double valid = 0, total = 0;
    for (const SensorScan &scan : scans) {
        valid += scan.valid;
        total += scan.total;
    }
    return valid / total;
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
    void corruptionFlipsOneBitInPlace();
    void faultPeriodStretchesArriveWhole();
    void distancesFollowNoiseDropoutAndRoom();
    void speedJitterVariesRevolutionsAndFrames();
    void timestampedCaptureReadsBack();
};

// Every damaged frame differs from the frame given in one bit, behind its
// two header bytes; the bytes are all different, so damage copied from
// another byte shows.
void TestSimFaults::corruptionFlipsOneBitInPlace()
{
    QByteArray frame;
    for (int i = 0; i < 47; ++i)
        frame.append(static_cast<char>(i * 5 + 1));
    SimFaults faults;
    faults.corruptRate = 1.0;
    FaultInjector injector(faults);
    std::mt19937 rng(1);
    for (int round = 0; round < 200; ++round) {
        QByteArray out;
        injector.append(out, frame, 0.0, rng);
        QCOMPARE(out.size(), frame.size());
        QVector<int> flipped;
        for (int i = 0; i < frame.size(); ++i)
            for (int bit = 0; bit < 8; ++bit)
                if (((out[i] ^ frame[i]) >> bit) & 1)
                    flipped.append(i);
        QCOMPARE(flipped.size(), 1);
        QVERIFY(flipped[0] >= 2);
    }
}

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

    // The walls of the empty room, without noise only cut to whole
    // millimetres; with it the same spread near and far, unlike the built-in
    // noise.
    const double walls[][2] = {{0, 2300}, {90, 3600}, {180, 1700}, {270, 2400}};
    for (const auto &wall : walls) {
        const Stats exactWall = stats(distancesNear(exactScans, wall[0]));
        const Stats noisyWall = stats(distancesNear(noisyScans, wall[0]));
        VERIFY_WITHIN(exactWall.median, wall[1] - 3, wall[1] + 3);
        VERIFY_WITHIN(exactWall.sd, 0, 1);
        VERIFY_WITHIN(noisyWall.median, wall[1] - 3, wall[1] + 3);
        VERIFY_WITHIN(noisyWall.sd, 8, 12);
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
    VERIFY_WITHIN(validRatio(exactScans), 0.85, 0.95);
    VERIFY_WITHIN(validRatio(exactScans) / validRatio(noisyScans), 0.88, 0.92);
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
    VERIFY_WITHIN(stats(speeds).mean, 0.98 * dogwood.rotationHz, 1.02 * dogwood.rotationHz);
    VERIFY_WITHIN(stats(speeds).cv(), 0.04, 0.06);
    VERIFY_WITHIN(stats(intervals(scans)).cv(), 0.04, 0.06);
    // A full turn still, whatever the speed: the samples keep their rate, so
    // a slow revolution has more of them. (A scan whose closing frame starts
    // exactly on the wrap reports the next revolution's speed.)
    const auto matching = std::count_if(scans.begin() + 1, scans.end(), [&](const SensorScan &s) {
        return std::abs(s.total * s.speed / dogwood.samplesPerSecond - 1) < 0.02;
    });
    VERIFY_WITHIN(matching, 0.8 * scans.size(), scans.size());

    // Fir's frames come at a rate that varies alike, steady without jitter.
    const SimModel &fir = *findSimModel("Fir");
    const Stats firGaps = stats(intervals(decodeSim(fir.name, faults, 200)));
    VERIFY_WITHIN(firGaps.cv(), 0.04, 0.06);
    VERIFY_WITHIN(firGaps.mean * fir.frameHz, 0.98, 1.02);
    VERIFY_WITHIN(stats(intervals(decodeSim(fir.name, SimFaults{}, 50))).cv(), 0, 0.01);
}

void TestSimFaults::timestampedCaptureReadsBack()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const struct
    {
        QString model;
        QStringList length;
        int scans;
    } cases[] = {{"Dogwood", {"-n", "40"}, 40}, {"Fir", {"--seconds", "3"}, 45}};
    for (const auto &c : cases) {
        const SimModel &model = *findSimModel(c.model);
        const QString path = dir.filePath(c.model + ".pcapng");
        QProcess sim;
        sim.start(VANTOSCOPE_SIM_PATH,
                  QStringList{"--model", c.model, "--seed", "3", "--output", path} + c.length);
        QVERIFY(sim.waitForFinished(120000));
        QCOMPARE(sim.exitCode(), 0);

        CaptureReader reader;
        QVERIFY2(reader.open(path), qPrintable(reader.errorString()));
        SensorSession session;
        session.chooseModel(model.name);
        session.setCalibrateFromStream(true);
        qint64 now = 0, first = -1;
        session.setTimeSource([&now] { return now; });
        QVector<SensorScan> published;
        connect(&session, &SensorSession::scanReady, this,
                [&published](const SensorScan &scan) { published.append(scan); });
        CaptureRecord record;
        int records = 0;
        while (reader.readNext(record)) {
            QCOMPARE(record.direction, CaptureDirection::Inbound);
            QVERIFY(record.timeNs > now);
            now = record.timeNs;
            first = first < 0 ? now : first;
            session.push(record.data);
            ++records;
        }
        QVERIFY(reader.format() == CaptureReader::Format::Pcapng && !reader.damaged() &&
                !reader.truncated());
        const CaptureMetadata &metadata = reader.interfaces().value(0).metadata;
        QCOMPARE(metadata.model, model.name);
        QCOMPARE(metadata.baudrate, model.baudrate);
        QCOMPARE(metadata.edition, QStringLiteral("full"));
        QVERIFY(reader.versionText().startsWith("v1.2.10"));

        // About a frame a record, as long as the scans take, and decoded at
        // the model's pace.
        const double hz = model.scanHz();
        VERIFY_WITHIN(records,
                      c.scans * (model.commandProtocol() ? 1 : model.samplesPerSecond / hz / 12),
                      1e9);
        VERIFY_WITHIN((now - first) / 1e9 * hz, c.scans - 1, c.scans + 1);
        VERIFY_WITHIN(published.size(), c.scans - 1, c.scans + 1);
        VERIFY_WITHIN(stats(intervals(published)).mean * hz, 0.98, 1.02);
        VERIFY_WITHIN(published.last().rate / hz, 0.95, 1.05);
    }
}

QTEST_GUILESS_MAIN(TestSimFaults)
#include "tst_simfaults.moc"
