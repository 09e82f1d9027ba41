// The real window shares a replay with clients no one here wrote: Node
// processes using the Foxglove WebSocket protocol's own npm client. What
// they receive is what the decoder tool prints for the same capture; a
// client that sends garbage, one that never reads and more clients than
// allowed change nothing for the window or for the clients that behave.
#include "app/mainwindow.h"
#include "bridge/livebridge.h"
#include "capture/replayengine.h"

#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <cstring>

namespace {

constexpr double pi = 3.14159265358979323846;
const QString model = QStringLiteral("Dogwood");

// One Node client process and the JSON lines it printed.
class NodeClient
{
public:
    NodeClient(const QString &mode, const QString &url, int count = 0)
    {
        QStringList arguments{QStringLiteral(VANTOSCOPE_BRIDGE_CLIENT), mode, url};
        if (count > 0)
            arguments << QString::number(count);
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

struct DecodedScan
{
    QVector<QJsonArray> points; // [angle, distance, confidence]
    qint64 timeMs = 0;
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

// What the decoder tool prints for a capture: each scan's points (JSON
// lines) and its recorded time (CSV).
QVector<DecodedScan> decodedScans(const QString &capture)
{
    QVector<DecodedScan> scans;
    const QString decode = QStringLiteral(VANTOSCOPE_DECODE_PATH);
    for (const QByteArray &line : runTool(decode, {"--model", model, capture}).split('\n')) {
        const QJsonObject event = QJsonDocument::fromJson(line).object();
        if (event.value("event").toString() != "scan")
            continue;
        DecodedScan scan;
        // The streaming models' end-of-scan marker (angle 720) is not a point.
        for (const QJsonValue &p : event.value("points").toArray())
            if (p.toArray().at(0).toDouble() != 720)
                scan.points << p.toArray();
        scans << scan;
    }
    QList<QByteArray> rows =
        runTool(decode, {"--model", model, "--format", "csv", capture}).split('\n');
    for (const QByteArray &row : rows.mid(1)) {
        const QList<QByteArray> cells = row.split(',');
        const int n = cells.value(0).toInt();
        if (n >= 1 && n <= scans.size())
            scans[n - 1].timeMs =
                QDateTime::fromString(QString(cells[1]), Qt::ISODateWithMs).toMSecsSinceEpoch();
    }
    return scans;
}

double robotAngle(double mapDegrees)
{
    double d = std::fmod(-mapDegrees, 360.0);
    if (d <= -180)
        d += 360;
    else if (d > 180)
        d -= 360;
    return d * pi / 180;
}

// The range of each step, worked out the slow way: the point nearest to the
// step's angle, within half a step, all round.
QVector<double> nearestRanges(const DecodedScan &scan, double start, double step, int count)
{
    QVector<double> ranges;
    for (int k = 0; k < count; ++k) {
        const double angle = start + k * step;
        double best = 0, bestOffset = 1e9;
        for (const QJsonArray &p : scan.points) {
            double offset = std::fmod(std::fabs(robotAngle(p[0].toDouble()) - angle), 2 * pi);
            offset = std::min(offset, 2 * pi - offset);
            if (offset <= step / 2 + 1e-12 && offset < bestOffset) {
                best = p[1].toInt() / 1000.0;
                bestOffset = offset;
            }
        }
        ranges << best;
    }
    return ranges;
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

    void replaySharedAsDecoded()
    {
        const QVector<DecodedScan> expected = decodedScans(shortCapture);
        QCOMPARE(expected.size(), 30);
        MainWindow w([] { return QList<PortEntry>(); });
        w.show();
        QVERIFY(w.startSharing("127.0.0.1:0"));
        auto *bridge = w.findChild<LiveBridge *>("bridge");
        auto *label = w.findChild<QLabel *>("shareLabel");
        QVERIFY(label->isVisible());
        QCOMPARE(label->text(), QString("Sharing on %1 (0 clients)").arg(urlOf(w)));

        NodeClient collector("collect", urlOf(w));
        NodeClient garbage("garbage", urlOf(w));
        QVERIFY(collector.started() && garbage.started());
        QTRY_COMPARE_WITH_TIMEOUT(bridge->subscriptionCount(), 2, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(garbage.count("closed"), 1, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(garbage.count("bare"), 1, 30000);
        QTRY_COMPARE(label->text(), QString("Sharing on %1 (1 client)").arg(urlOf(w)));

        QSignalSpy redrawn(&w, &MainWindow::mapRedrawn);
        w.openCapture(shortCapture);
        QVERIFY(w.replaying());
        QTRY_COMPARE_WITH_TIMEOUT(collector.count("message"), 2 * expected.size(), 60000);
        QVERIFY(collector.finish());
        QVERIFY(redrawn.count() >= expected.size() / 2);

        // The channels as advertised.
        const QJsonObject subscribed = collector.lines().value(1);
        QCOMPARE(subscribed.value("event").toString(), QString("subscribed"));
        QCOMPARE(
            QJsonDocument(subscribed.value("channels").toArray()).toJson(QJsonDocument::Compact),
            QByteArray(R"([["/scan","foxglove.LaserScan","json","jsonschema"],)"
                       R"(["/points","foxglove.PointCloud","json","jsonschema"]])"));
        // Every scan, in order, at its recorded time, with its points and
        // its nearest-point ranges.
        QVector<QJsonObject> messages;
        for (const QJsonObject &line : collector.lines())
            if (line.value("event").toString() == "message")
                messages << line;
        for (int i = 0; i < expected.size(); ++i) {
            const QJsonObject scan = messages[2 * i];
            const QJsonObject points = messages[2 * i + 1];
            QCOMPARE(scan.value("topic").toString(), QString("/scan"));
            QCOMPARE(points.value("topic").toString(), QString("/points"));
            for (const QJsonObject &m : {scan, points})
                QCOMPARE(m.value("time").toString().toLongLong() / 1000000, expected[i].timeMs);
            const QJsonObject laser = scan.value("message").toObject();
            const QJsonArray ranges = laser.value("ranges").toArray();
            QCOMPARE(ranges.size(), 400);
            const double start = laser.value("start_angle").toDouble();
            const double step = (laser.value("end_angle").toDouble() - start) / (ranges.size() - 1);
            const QVector<double> nearest = nearestRanges(expected[i], start, step, ranges.size());
            for (int k = 0; k < ranges.size(); ++k)
                QVERIFY2(ranges[k].toDouble() == nearest[k],
                         qPrintable(QString("scan %1 step %2: %3, nearest %4")
                                        .arg(i + 1)
                                        .arg(k)
                                        .arg(ranges[k].toDouble())
                                        .arg(nearest[k])));
            const QJsonObject cloud = points.value("message").toObject();
            const QByteArray data =
                QByteArray::fromBase64(cloud.value("data").toString().toLatin1());
            QCOMPARE(int(data.size()), 9 * expected[i].points.size());
            for (int p = 0; p < expected[i].points.size(); ++p) {
                const QJsonArray point = expected[i].points[p];
                const double r = point[1].toInt() / 1000.0, a = point[0].toDouble() * pi / 180;
                float x, y;
                std::memcpy(&x, data.constData() + 9 * p, 4);
                std::memcpy(&y, data.constData() + 9 * p + 4, 4);
                QCOMPARE(x, float(r * std::cos(a)));
                QCOMPARE(y, float(-r * std::sin(a)));
                QCOMPARE(int(uint8_t(data[9 * p + 8])), point[2].toInt());
            }
        }

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

    // Export -> MCAP during a replay writes what the decoder tool writes for
    // the capture, as the npm reader finds it.
    void exportMcapDuringReplay()
    {
        MainWindow w([] { return QList<PortEntry>(); });
        w.show();
        QVERIFY(!w.exportMcap(dir.filePath("nothing.mcap")));
        w.openCapture(shortCapture);
        QVERIFY(w.replaying());
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
        NodeClient crowd("crowd", urlOf(w), 9);
        QVERIFY(crowd.started());
        QTRY_COMPARE_WITH_TIMEOUT(bridge->subscriptionCount(), 2 * LiveBridge::maxClients, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(crowd.count("closed"), 2, 30000);
        QCOMPARE(bridge->clientCount(), LiveBridge::maxClients);

        const QVector<DecodedScan> scans = decodedScans(longCapture);
        QVERIFY(scans.size() > 1000);
        const QString lastTime = QString::number(scans.last().timeMs);
        // As fast as the replay goes.
        auto *speed = w.findChild<QComboBox *>("replaySpeed");
        speed->setCurrentIndex(speed->findData(0.0));
        QSignalSpy redrawn(&w, &MainWindow::mapRedrawn);
        w.openCapture(longCapture);
        auto *engine = w.findChild<ReplayEngine *>("replayEngine");
        QVERIFY(engine);
        QTRY_VERIFY_WITH_TIMEOUT(engine->atEnd(), 240000);
        QVERIFY(redrawn.count() > 5);
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
