// The real window shares a replay with clients no one here wrote: Node
// processes using the Foxglove WebSocket protocol's own npm client. What
// they receive is what the decoder tool prints for the same capture; a
// client that sends garbage, one that never reads and more clients than
// allowed change nothing for the window or for the clients that behave.
#include "app/mainwindow.h"
#include "bridge/livebridge.h"
#include "capture/replayengine.h"

#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <memory>

namespace {

const QString model = QStringLiteral("Dogwood");

// One Node client process and the JSON lines it printed.
class NodeClient
{
public:
    NodeClient(const QString &mode, const QString &url, const QStringList &more = {})
    {
        const QStringList arguments =
            QStringList{QStringLiteral(VANTOSCOPE_BRIDGE_CLIENT), mode, url} + more;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(VANTOSCOPE_NODE_PATH), arguments);
        QObject::connect(&process, &QProcess::readyReadStandardOutput, [this] { read(); });
    }
    ~NodeClient()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(10000);
        }
    }
    bool started() { return process.waitForStarted(30000); }
    // Closes its standard input, which ends it, and waits for its last lines.
    bool finish()
    {
        process.closeWriteChannel();
        const bool done = process.waitForFinished(60000);
        read();
        return done && process.exitCode() == 0;
    }
    const QVector<QJsonObject> &lines() const { return events; }
    int count(const QString &event) const
    {
        return int(std::count_if(events.begin(), events.end(), [&](const QJsonObject &o) {
            return o.value("event").toString() == event;
        }));
    }

private:
    void read()
    {
        pending += process.readAllStandardOutput();
        int newline;
        while ((newline = pending.indexOf('\n')) >= 0) {
            events << QJsonDocument::fromJson(pending.left(newline)).object();
            pending.remove(0, newline + 1);
        }
    }

    QProcess process;
    QByteArray pending;
    QVector<QJsonObject> events;
};

QByteArray runTool(const QString &program, const QStringList &arguments)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tool.start(program, arguments);
    if (!tool.waitForFinished(120000) || tool.exitCode() != 0)
        return {};
    return tool.readAllStandardOutput();
}

// The recorded times (milliseconds since the epoch) of a capture's scans,
// as the decoder tool prints them.
QVector<qint64> scanTimes(const QString &capture)
{
    QVector<qint64> times;
    const QList<QByteArray> rows = runTool(QStringLiteral(VANTOSCOPE_DECODE_PATH),
                                           {"--model", model, "--format", "csv", capture})
                                       .split('\n');
    for (const QByteArray &row : rows.mid(1)) {
        const QList<QByteArray> cells = row.split(',');
        if (cells.size() == 5 && cells[0].toInt() == times.size() + 1)
            times
                << QDateTime::fromString(QString(cells[1]), Qt::ISODateWithMs).toMSecsSinceEpoch();
    }
    return times;
}

} // namespace

class TestLiveBridge : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString shortCapture, longCapture;

    bool makeCapture(const QString &path, int scans)
    {
        return runTool(QStringLiteral(VANTOSCOPE_SIM_PATH),
                       {"--model", model, "--output", path, "-n", QString::number(scans)})
                   .isEmpty() &&
               QFileInfo(path).size() > 0;
    }

    static QString urlOf(MainWindow &w) { return w.findChild<LiveBridge *>("bridge")->url(); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        shortCapture = dir.filePath("short.pcapng");
        longCapture = dir.filePath("long.pcapng");
        QVERIFY(makeCapture(shortCapture, 30));
        // Some 13 MB of messages a client: more than a stalled socket holds.
        QVERIFY(makeCapture(longCapture, 1500));
    }

    // The client checks what it got against the decoder tool's output for
    // the capture: every scan, in order, at its recorded time, each range
    // the nearest point's, every point where it was measured.
    void replaySharedAsDecoded()
    {
        MainWindow w([] { return QList<PortEntry>(); });
        w.show();
        QVERIFY(w.startSharing("127.0.0.1:0"));
        auto *bridge = w.findChild<LiveBridge *>("bridge");
        auto *label = w.findChild<QLabel *>("shareLabel");
        QVERIFY(label->isVisible());
        QCOMPARE(label->text(), QString("Sharing on %1 (0 clients)").arg(urlOf(w)));

        NodeClient collector("collect", urlOf(w), {model, shortCapture});
        NodeClient garbage("garbage", urlOf(w));
        QVERIFY(collector.started() && garbage.started());
        QTRY_COMPARE_WITH_TIMEOUT(bridge->subscriptionCount(), 2, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(garbage.count("closed"), 1, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(garbage.count("bare"), 1, 30000);
        QTRY_COMPARE(label->text(), QString("Sharing on %1 (1 client)").arg(urlOf(w)));

        QSignalSpy redrawn(&w, &MainWindow::mapRedrawn);
        w.openCapture(shortCapture);
        QVERIFY(w.replaying());
        QTRY_COMPARE_WITH_TIMEOUT(collector.count("messages"), 30, 60000);
        QVERIFY(redrawn.count() >= 15);
        QVERIFY(collector.finish());
        QCOMPARE(collector.count("checked"), 1);
        QCOMPARE(QJsonDocument(collector.lines().value(1).value("channels").toArray())
                     .toJson(QJsonDocument::Compact),
                 QByteArray("[[\"/scan\",\"foxglove.LaserScan\",\"json\",\"jsonschema\"],"
                            "[\"/points\",\"foxglove.PointCloud\",\"json\",\"jsonschema\"]]"));

        // The garbage got answers and changed nothing; too long a message
        // closed its connection; without the subprotocol nothing was said.
        QVERIFY(garbage.finish());
        QCOMPARE(garbage.count("status"), 15);
        for (const QJsonObject &line : garbage.lines())
            if (line.value("event").toString() == "closed")
                QCOMPARE(line.value("code").toInt(), 1009);
            else if (line.value("event").toString() == "bare")
                QVERIFY2(QStringList({"refused", "closed 1002"})
                             .contains(line.value("outcome").toString()),
                         qPrintable(line.value("outcome").toString()));
    }

    // The toolbar's menu offers Share live, which starts and stops the
    // server on the address last given, and Export -> MCAP, on only while a
    // capture replays. During a replay it writes what the decoder tool
    // writes for the capture, as the npm reader finds it.
    void toolbarMenuAndExportMcap()
    {
        MainWindow w([] { return QList<PortEntry>(); });
        w.show();
        auto *share = w.findChild<QAction *>("actionShareLive");
        auto *exportMcap = w.findChild<QAction *>("actionExportMcap");
        std::unique_ptr<QMenu> menu(static_cast<QMainWindow &>(w).createPopupMenu());
        QVERIFY(menu->actions().contains(share));
        QVERIFY(menu->actions().contains(w.findChild<QMenu *>("menuExport")->menuAction()));
        QVERIFY(w.findChild<QMenu *>("menuExport")->actions().contains(exportMcap));
        auto *bridge = w.findChild<LiveBridge *>("bridge");
        // A port in use is reported without waiting for the box, and the
        // action stays off.
        QVERIFY(w.startSharing("127.0.0.1:0"));
        const QString taken = QString::number(bridge->port());
        MainWindow other([] { return QList<PortEntry>(); });
        QVERIFY(!other.startSharing("127.0.0.1:" + taken));
        QVERIFY(!other.findChild<QAction *>("actionShareLive")->isChecked());
        QTRY_VERIFY(other.findChild<QMessageBox *>("shareError"));
        QVERIFY(share->isChecked());
        share->trigger();
        QVERIFY(!bridge->sharing());
        QVERIFY(!w.findChild<QLabel *>("shareLabel")->isVisible());
        share->trigger();
        QVERIFY(bridge->sharing() && bridge->url().startsWith("ws://127.0.0.1:"));

        QVERIFY(!exportMcap->isEnabled());
        QVERIFY(!w.exportMcap(dir.filePath("nothing.mcap")));
        w.openCapture(shortCapture);
        QVERIFY(w.replaying());
        QVERIFY(exportMcap->isEnabled());
        QSignalSpy exported(&w, &MainWindow::mcapExported);
        const QString path = dir.filePath("window.mcap");
        QVERIFY(w.exportMcap(path));
        QVERIFY(exported.wait(120000));
        QCOMPARE(exported.first().at(0).toString(), path);
        QCOMPARE(exported.first().at(1).toInt(), 30);
        QCOMPARE(exported.first().at(2).toString(), QString());

        const QString tool = dir.filePath("tool.mcap");
        runTool(QStringLiteral(VANTOSCOPE_DECODE_PATH),
                {"--model", model, "--format", "mcap", "-o", tool, shortCapture});
        const QString summary = QStringLiteral(VANTOSCOPE_MCAP_SUMMARY);
        const QByteArray fromWindow =
            runTool(QStringLiteral(VANTOSCOPE_NODE_PATH), {summary, path});
        QCOMPARE(fromWindow.count('\n'), 60);
        QCOMPARE(fromWindow, runTool(QStringLiteral(VANTOSCOPE_NODE_PATH), {summary, tool}));
    }

    // A client that never reads and nine more at once (one over the limit
    // with it): the window draws on, the clients let in get scans to the
    // last, the others are told to come back later.
    void slowAndSurplusClients()
    {
        MainWindow w([] { return QList<PortEntry>(); });
        w.show();
        QVERIFY(w.startSharing("127.0.0.1:0"));
        auto *bridge = w.findChild<LiveBridge *>("bridge");
        NodeClient stalled("stall", urlOf(w));
        QVERIFY(stalled.started());
        QTRY_COMPARE_WITH_TIMEOUT(bridge->subscriptionCount(), 2, 30000);
        NodeClient crowd("crowd", urlOf(w), {"9"});
        QVERIFY(crowd.started());
        QTRY_COMPARE_WITH_TIMEOUT(bridge->subscriptionCount(), 2 * LiveBridge::maxClients, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(crowd.count("closed"), 2, 30000);
        QCOMPARE(bridge->clientCount(), LiveBridge::maxClients);

        const QVector<qint64> times = scanTimes(longCapture);
        QVERIFY(times.size() > 1000);
        const QString lastTime = QString::number(times.last());
        // As fast as the replay goes.
        auto *speed = w.findChild<QComboBox *>("replaySpeed");
        speed->setCurrentIndex(speed->findData(0.0));
        QSignalSpy redrawn(&w, &MainWindow::mapRedrawn);
        QElapsedTimer replaying;
        replaying.start();
        w.openCapture(longCapture);
        auto *engine = w.findChild<ReplayEngine *>("replayEngine");
        QVERIFY(engine);
        QTRY_VERIFY_WITH_TIMEOUT(engine->atEnd(), 240000);
        // The window kept drawing while it fed the clients, not only at the
        // first scan and the last. How often it can draw depends on the
        // machine: each pass of a replay at full speed feeds a quarter
        // megabyte before the window gets a turn, and the map draws at most
        // once per 33 ms.
        const qint64 ms = replaying.elapsed();
        QVERIFY2(redrawn.count() >= std::min<qint64>(3, 1 + ms / 66),
                 qPrintable(QString("%1 redraws in %2 ms").arg(redrawn.count()).arg(ms)));
        QVERIFY2(bridge->droppedScans() > 0, "the stalled client's oldest scans were dropped");

        // The last scan reaches every client that reads.
        auto lastScans = [&] {
            QMap<int, int> got;
            for (const QJsonObject &line : crowd.lines())
                if (line.value("event").toString() == "scan" &&
                    QString::number(line.value("time").toString().toLongLong() / 1000000) ==
                        lastTime)
                    got[line.value("client").toInt()] += 1;
            return got.size();
        };
        QTRY_COMPARE_WITH_TIMEOUT(lastScans(), LiveBridge::maxClients - 1, 60000);
        QVERIFY(crowd.finish());
        QMap<int, int> perClient;
        for (const QJsonObject &line : crowd.lines()) {
            if (line.value("event").toString() == "closed")
                QCOMPARE(line.value("code").toInt(), 1013);
            if (line.value("event").toString() == "scan")
                perClient[line.value("client").toInt()] += 1;
        }
        QCOMPARE(perClient.size(), LiveBridge::maxClients - 1);
        for (int got : perClient)
            QVERIFY2(got >= 20, qPrintable(QString::number(got)));
    }
};

QTEST_MAIN(TestLiveBridge)
#include "tst_livebridge.moc"
