// Pulling and plugging the same adapter again and again: the window opens
// it again each time, keeps recording into one capture, and the capture
// decodes to the scans on both sides of every gap.
#include "app/capturerecorder.h"
#include "app/mainwindow.h"
#include "capture/capturereader.h"
#include "commandframes.h"
#include "cpuusage.h"
#include "modalcatcher.h"
#include "ptydevice.h"
#include "scriptedsensor.h"
#include "streamframes.h"
#include "trnet/qtrnet.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <limits>
#include <memory>

namespace {

constexpr int cycles = 50;

QByteArray streamRotation()
{
    QByteArray stream;
    for (int i = 0; i < 30; ++i) {
        const auto start = static_cast<uint16_t>(i * 1200);
        stream += Wire::encodePkg47(3600, start, QVector<Wire::StreamPoint>(12, {1000, 200}),
                                    static_cast<uint16_t>(start + 1100));
    }
    return stream;
}

// The adapter: a stable path that points at a fresh pseudo-terminal each
// time it is plugged in, and vanishes when it is pulled.
class Adapter
{
public:
    Adapter(const QString &link, bool commandProtocol)
        : link(link), commandProtocol(commandProtocol)
    {
    }

    bool plug()
    {
        pty = std::make_unique<Pty>();
        if (!pty->isValid() || !QFile::link(pty->slavePath(), link))
            return false;
        if (commandProtocol) {
            sensor = std::make_unique<ScriptedSensor>(*pty);
            sensor->answer(QTRNet::Calibration, Wire::firCalibrationReply(100, 200, 300, 400));
        }
        return true;
    }

    void pull()
    {
        sensor.reset();
        pty.reset();
        QFile::remove(link);
    }

    // Sends the next stretch of measurements once the sensor was started.
    void feed(int n)
    {
        if (!pty)
            return;
        if (!commandProtocol) {
            pty->write(streamRotation());
        } else if (sensor->commands.contains(2)) {
            const QVector<uint16_t> samples(160, Wire::firSample(300, 100));
            pty->write(Wire::measuredSampleFrame(n * 50, samples, static_cast<uint16_t>(n)));
        }
    }

private:
    QString link;
    bool commandProtocol;
    std::unique_ptr<Pty> pty;
    std::unique_ptr<ScriptedSensor> sensor;
};

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    const int n = int(values.size());
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

class TestReconnect : public QObject
{
    Q_OBJECT

    QTemporaryDir workDir;
    QString link;

private slots:
    void initTestCase()
    {
        QVERIFY(workDir.isValid());
        QDir::setCurrent(workDir.path());
        QVERIFY(QDir().mkdir("dev"));
        link = workDir.filePath("dev/sensor");
        // Read by the window's port list and port watch.
        qputenv("VANTOSCOPE_EXTRA_PORTS", link.toLocal8Bit());
    }

    void replugFiftyTimes_data()
    {
        QTest::addColumn<QString>("model");
        QTest::newRow("streaming") << "Dogwood";
        QTest::newRow("command protocol") << "Fir";
    }

    void replugFiftyTimes()
    {
        QFETCH(QString, model);
        const bool commandProtocol = model == "Fir";
        Adapter adapter(link, commandProtocol);
        QVERIFY(adapter.plug());

        MainWindow w;
        ModalCatcher catcher;
        auto *session = w.findChild<SensorSession *>("session");
        auto *status = w.findChild<QLabel *>("statusLabel");
        auto *start = w.findChild<QAction *>("actionStart");
        auto *portBox = w.findChild<QComboBox *>("portBox");
        auto *recorder = w.findChild<CaptureRecorder *>("recorder");
        QVERIFY(w.findChild<QAction *>("actionReconnect")->isChecked());
        QVERIFY(w.chooseModel(model));
        portBox->setCurrentText(link);
        QCOMPARE(portBox->currentText(), link);
        w.findChild<QAction *>("actionRecord")->setChecked(true);

        int frame = 0;
        QTimer sensorClock;
        connect(&sensorClock, &QTimer::timeout, this, [&] { adapter.feed(++frame); });
        sensorClock.start(40);
        qint64 receivedBytes = 0;
        connect(session, &SensorSession::received, this,
                [&](const QByteArray &chunk) { receivedBytes += chunk.size(); });
        int scans = 0;
        connect(&w, &MainWindow::scanPublished, this, [&] { ++scans; });
        QElapsedTimer sincePlug;
        qint64 connectedAfterNs = -1;
        connect(session, &SensorSession::stateChanged, this, [&](SensorSession::State state) {
            if (state == SensorSession::State::Connected)
                connectedAfterNs = sincePlug.nsecsElapsed();
        });
        QSignalSpy handshakes(session, &SensorSession::handshakeFinished);

        sincePlug.start();
        QVERIFY(w.start());
        QVector<double> reconnectMs;
        for (int cycle = 0; cycle <= cycles; ++cycle) {
            QTRY_VERIFY_WITH_TIMEOUT(connectedAfterNs >= 0, 5000);
            if (cycle > 0)
                reconnectMs.append(connectedAfterNs / 1e6);
            QVERIFY(status->text().startsWith("Connected to " + link));
            QTRY_COMPARE_WITH_TIMEOUT(int(handshakes.count()), cycle + 1, 5000);
            const int scansBefore = scans;
            QTRY_VERIFY_WITH_TIMEOUT(scans >= scansBefore + 2, 5000);
            if (cycle == cycles)
                break;

            adapter.pull();
            QTRY_COMPARE_WITH_TIMEOUT(status->text(), "Reconnecting to " + link + "…", 5000);
            QVERIFY(!session->isOpen());
            QVERIFY(!start->isEnabled());
            QVERIFY(!portBox->isEnabled());
            QVERIFY(recorder->recording());
            if (cycle == 0) {
                // Waiting for the adapter keeps nothing busy.
                const double before = processCpuSeconds();
                QTest::qWait(1000);
                QVERIFY2(processCpuSeconds() - before < 0.5, "the window spins while waiting");
            }
            connectedAfterNs = -1;
            sincePlug.start();
            QVERIFY(adapter.plug());
        }
        QVERIFY(catcher.boxes.isEmpty());
        qInfo("%s: reconnected %d times, median %.0f ms, worst %.0f ms", qPrintable(model),
              int(reconnectMs.size()), median(reconnectMs),
              *std::max_element(reconnectMs.begin(), reconnectMs.end()));

        w.stop();
        QCOMPARE(status->text(), QString("Disconnected"));
        QVERIFY(start->isEnabled());
        QVERIFY(!recorder->recording());
        sensorClock.stop();
        adapter.pull();

        // One capture across all the gaps, each noted; the bytes are those
        // received, none added, and every stretch between gaps has scans.
        CaptureReader reader;
        QVERIFY2(reader.open(recorder->path(), 0), qPrintable(reader.errorString()));
        SensorSession replay;
        replay.chooseModel(model);
        replay.setCalibrateFromStream(true);
        qint64 recorded = 0;
        replay.setTimeSource([&recorded] { return recorded; });
        QVector<qint64> scanTimes;
        connect(&replay, &SensorSession::scanReady, this,
                [&](const SensorScan &scan) { scanTimes.append(scan.time); });
        qint64 replayedBytes = 0;
        CaptureRecord record;
        while (reader.readNext(record)) {
            recorded = record.timeNs;
            if (!reader.feedsDecoders(record))
                continue;
            replayedBytes += record.data.size();
            replay.push(record.data);
        }
        QVERIFY(!reader.damaged());
        QCOMPARE(replayedBytes, receivedBytes);
        const QVector<qint64> losses = reader.lineLosses();
        QCOMPARE(int(losses.size()), cycles);
        for (int i = 0; i <= cycles; ++i) {
            const qint64 from = i > 0 ? losses[i - 1] : 0;
            const qint64 to = i < cycles ? losses[i] : std::numeric_limits<qint64>::max();
            const bool scansInStretch = std::any_of(scanTimes.begin(), scanTimes.end(),
                                                    [&](qint64 t) { return t > from && t < to; });
            QVERIFY2(scansInStretch,
                     qPrintable(QString("no scan between gap %1 and %2").arg(i).arg(i + 1)));
        }
    }
};

QTEST_MAIN(TestReconnect)
#include "tst_reconnect.moc"
