// The simulator's fault period, checked against the real decoding road: the
// faults come and go with the period, and every scan the simulator reports
// as sent whole in a fault-free stretch is published, with no packet error.
#include "sensorscan.h"
#include "sensorsession.h"
#include "sensorsim.h"
#include "simmodels.h"

#include <QMap>
#include <QtTest>
#include <cmath>

class TestSimFaults : public QObject
{
    Q_OBJECT
private slots:
    void faultPeriodStretchesArriveWhole();
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

QTEST_GUILESS_MAIN(TestSimFaults)
#include "tst_simfaults.moc"
