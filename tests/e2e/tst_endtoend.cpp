// The whole road from serial bytes to the map view: the real window against
// the simulator on a pseudo-terminal, for every model of this edition.
#include "app/mainwindow.h"
#include "cpuusage.h"
#include "editions/edition.h"
#include "modalcatcher.h"
#include "simmodels.h"
#include "simprocess.h"
#include "view/limapview.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

namespace {

bool within(double value, double expected, double tolerance)
{
    return expected > 0 && std::abs(value - expected) <= tolerance * expected;
}

// The live scan rate is timed from one scan to the next on the viewer's
// clock, so a busy machine that hands over two scans at once shows a wild
// figure for each. The periods behind the figures still add up to the time
// the scans took: their mean is what the sensor did, give or take the delay
// of the first and the last scan.
class MeanScanRate
{
public:
    explicit MeanScanRate(const MainWindow *w)
    {
        QObject::connect(w, &MainWindow::scanPublished, &context, [this](const SensorScan &scan) {
            // The first scan seen only starts the clock; a rate of zero
            // after it is a period too short to count.
            if (scans++ > 0 && scan.rate > 0)
                periodsMs += 1000.0 / scan.rate;
        });
    }
    int timed() const { return std::max(scans - 1, 0); }
    double hz() const { return periodsMs > 0 ? 1000.0 * timed() / periodsMs : 0.0; }

private:
    QObject context;
    double periodsMs = 0;
    int scans = 0;
};

// Enough scans that the delay of the first and the last stays small
// against the time they span.
constexpr int scansTimed = 12;

// The window with its parts, listing only the simulator's port.
struct Bench
{
    explicit Bench(const QString &port)
        : w([port] {
              return QList<PortEntry>{{port, false, 0, true}};
          })
    {
        deviceBox = w.findChild<QComboBox *>("deviceBox");
        portBox = w.findChild<QComboBox *>("portBox");
        status = w.findChild<QLabel *>("statusLabel");
        start = w.findChild<QAction *>("actionStart");
        stop = w.findChild<QAction *>("actionStop");
        view = w.findChild<LiMapView *>("mapView");
        session = w.findChild<SensorSession *>("session");
        QObject::connect(&w, &MainWindow::scanPublished, &w, [this](const SensorScan &scan) {
            last = scan;
            ++scans;
        });
        w.resize(1280, 800);
        w.show();
    }

    void choose(const QString &model)
    {
        deviceBox->setCurrentIndex(deviceBox->findText(model));
        portBox->setCurrentIndex(0);
    }

    MainWindow w;
    QComboBox *deviceBox;
    QComboBox *portBox;
    QLabel *status;
    QAction *start;
    QAction *stop;
    LiMapView *view;
    SensorSession *session;
    SensorScan last; // the latest published scan
    int scans = 0;
};

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

    QTemporaryDir workDir;

private slots:
    void initTestCase()
    {
        QVERIFY(workDir.isValid());
        QDir::setCurrent(workDir.path());
    }

    void liveScan_data()
    {
        QTest::addColumn<QString>("model");
        for (const SimModel &m : simModels())
            if (Edition::full || m.inClassic)
                QTest::newRow(qPrintable(m.name)) << m.name;
    }

    void liveScan()
    {
        QFETCH(QString, model);
        const SimModel *sm = findSimModel(model);
        // The sensor answers a little late, so the connection text shows first.
        SimProcess sim({"--model", model, "--seed", "7", "--firmware", "2.3.12", "--hardware",
                        "100", "--reply-delay", "0.3"});
        QVERIFY(sim.started());
        Bench bench(sim.port());
        bench.choose(model);
        QCOMPARE(bench.deviceBox->currentText(), model);
        QCOMPARE(bench.portBox->currentText(), sim.port());

        ModalCatcher catcher;
        bench.start->trigger();
        QVERIFY2(catcher.boxes.isEmpty(),
                 qPrintable(catcher.boxes.isEmpty() ? QString() : catcher.boxes[0].text));
        QCOMPARE(bench.status->text(),
                 QString("Connected to %1 : %2, 8, 0, 1, 0").arg(sim.port()).arg(sm->baudrate));
        QTRY_COMPARE_WITH_TIMEOUT(bench.status->text(), QString("v2.3.12 hw:100"), 5000);

        const bool net = sm->commandProtocol();
        MeanScanRate meanRate(&bench.w);
        QTRY_VERIFY_WITH_TIMEOUT(bench.view->scan().size() > 20 && bench.last.valid > 20, 5000);
        QCOMPARE(bench.last.streaming(), !net);

        if (!net) {
            QTRY_VERIFY_WITH_TIMEOUT(meanRate.timed() >= scansTimed, 20000);
            QVERIFY2(within(meanRate.hz(), sm->rotationHz, 0.25),
                     qPrintable(QString::number(meanRate.hz())));
            QVERIFY2(within(bench.session->rotationSpeed(), sm->rotationHz, 0.2),
                     qPrintable(QString::number(bench.session->rotationSpeed())));
            QVERIFY(bench.last.total > 200);
        } else if (sm->format == SimModel::Fir) {
            QTRY_VERIFY2_WITH_TIMEOUT(within(bench.last.rate, sm->frameHz, 0.2),
                                      qPrintable(QString::number(bench.last.rate)), 5000);
            QCOMPARE(bench.last.total, 160);
        }

        bench.stop->trigger();
        QCOMPARE(bench.status->text(), QString("Disconnected"));
        QVERIFY(bench.start->isEnabled());
        if (net)
            QVERIFY(sim.waitForOutput("command: 15 (stop)", 10000));
    }

    void silentHandshakeShowsConnectFailed()
    {
        SimProcess sim({"--model", "Fir", "--no-handshake"});
        QVERIFY(sim.started());
        Bench bench(sim.port());
        bench.choose("Fir");
        ModalCatcher catcher;
        bench.start->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(catcher.boxes.size(), 1, 10000);
        QCOMPARE(catcher.boxes[0].title, QString("error"));
        QCOMPARE(catcher.boxes[0].text, QString("connect failed"));
        // The port stays open; the window stays connected.
        QVERIFY(bench.status->text().startsWith("Connected to"));
        QVERIFY(!bench.start->isEnabled());
        bench.stop->trigger();
        QVERIFY(sim.waitForOutput("command: 15 (stop)", 10000));
    }

    void pulledCableReturnsToDisconnected()
    {
        SimProcess sim({"--model", "Alder", "--disconnect-after", "1.5", "--reply-delay", "0.3"});
        QVERIFY(sim.started());
        Bench bench(sim.port());
        bench.w.findChild<QAction *>("actionReconnect")->setChecked(false);
        bench.choose("Alder");
        bench.start->trigger();
        QVERIFY(bench.status->text().startsWith("Connected to"));
        QVERIFY(sim.waitForOutput("disconnected", 5000));
        QTRY_COMPARE_WITH_TIMEOUT(bench.status->text(), QString("Disconnected"), 10000);
        QCOMPARE(bench.status->palette().color(QPalette::WindowText), QColor(Qt::darkRed));
        QVERIFY(bench.start->isEnabled());
        QVERIFY(bench.deviceBox->isEnabled());

        const double before = processCpuSeconds();
        QTest::qWait(1000);
        QVERIFY2(processCpuSeconds() - before < 0.5, "the window spins after the device was lost");
    }

    void garbageRaisesErrorsWhileScansContinue()
    {
        SimProcess sim({"--model", "Dogwood", "--garbage-rate", "0.1", "--corrupt-rate", "0.02"});
        QVERIFY(sim.started());
        Bench bench(sim.port());
        bench.choose("Dogwood");
        bench.start->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(bench.session->streamErrorCount() > 5 && bench.scans >= 5, 6000);
        QVERIFY(bench.last.valid > 100);
        bench.stop->trigger();
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
