// vantoscope-decode as a user runs it: simulator captures of every model of
// both editions, chunking, the filter switch, CSV, usage and input errors,
// and a live run against the simulator with the raw bytes replayed.
#include "capture/capturereader.h"
#include "capture/capturewriter.h"
#include "commandframes.h"
#include "ptydevice.h"
#include "sensorsim.h"
#include "simmodels.h"
#include "simprocess.h"
#include "tools/decode/eventwriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <limits>

namespace {

struct Run
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};

Run runDecoder(const QStringList &arguments, const QByteArray &input = {},
               const QString &stderrFile = {})
{
    QProcess process;
    if (!stderrFile.isEmpty())
        process.setStandardErrorFile(stderrFile, QIODevice::Append);
    process.start(QStringLiteral(VANTOSCOPE_DECODE_PATH), arguments);
    Run run;
    if (!process.waitForStarted(10000))
        return run;
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

// The JSON lines of one run, checked for shape on the way.
struct Events
{
    QVector<QJsonObject> scans;
    QStringList infos;
    QJsonObject end;
};

Events parseEvents(const QByteArray &out)
{
    Events events;
    const QList<QByteArray> lines = out.split('\n');
    [&] { QVERIFY2(out.endsWith('\n'), "output ends with a newline"); }();
    for (int i = 0; i < lines.size() - 1; ++i) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(lines[i], &error);
        [&] { QVERIFY2(doc.isObject(), lines[i].left(200).constData()); }();
        const QJsonObject event = doc.object();
        const QString kind = event.value("event").toString();
        if (kind == QLatin1String("scan"))
            events.scans.append(event);
        else if (kind == QLatin1String("info"))
            events.infos.append(event.value("text").toString());
        else if (kind == QLatin1String("end") && i == lines.size() - 2)
            events.end = event;
        else
            [&] { QFAIL(lines[i].left(200).constData()); }();
    }
    return events;
}

// A capture as the simulator writes it, with a recognisable version.
QByteArray simCapture(const QString &model, int scans)
{
    SimIdentity identity;
    identity.firmwareWord = 0x0203000C;
    identity.hardwareVersion = 0x100;
    return SensorSim(*findSimModel(model), 11, SimFaults{}, identity).capture(scans);
}

QStringList editionArguments(const QString &edition, const QString &model)
{
    return {"--edition", edition, "--model", model};
}

// Rows "<edition>/<model>" for every model each edition knows.
void addModelRows()
{
    QTest::addColumn<QString>("edition");
    QTest::addColumn<QString>("model");
    QStringList editions = {"full"};
#ifdef VANTOSCOPE_DECODE_CLASSIC
    editions << "classic";
#endif
    for (const QString &edition : editions)
        for (const SimModel &m : simModels())
            if ((edition == "full" || m.inClassic))
                QTest::addRow("%s/%s", qPrintable(edition), qPrintable(m.name))
                    << edition << m.name;
}

// What must not depend on how the input was cut into chunks: everything but
// the scan rate of the streaming models, which is timed by the wall clock,
// and the packet errors counted before the first scan, which depend on how
// the bytes ahead of the first frame (the information reply) were cut.
QVector<QJsonObject> chunkIndependent(const QVector<QJsonObject> &scans)
{
    QVector<QJsonObject> kept;
    for (QJsonObject scan : scans) {
        if (scan.contains("speed")) {
            scan.remove("rate");
            scan["errors"] = scan["errors"].toInt() - scans.first()["errors"].toInt();
        }
        kept.append(scan);
    }
    return kept;
}

// The sensor's bytes as the port delivers them, every 5 ms for `seconds`,
// as a capture with the times they came at; `raw` gets the bytes alone.
bool writePacedCapture(const QString &path, const SimModel &model, double seconds, QByteArray *raw)
{
    SensorSim sensor(model, 3, SimFaults{}, SimIdentity{});
    CaptureWriter writer;
    CaptureMetadata metadata;
    metadata.model = model.name;
    if (!writer.open(path, metadata))
        return false;
    const qint64 start = 1'700'000'000'000'000'000LL;
    writer.append(CaptureDirection::Outbound, "not decoded", start);
    for (int step = 1; step <= std::lround(seconds / 0.005); ++step) {
        const QByteArray chunk = sensor.advance(step * 0.005);
        raw->append(chunk);
        if (!chunk.isEmpty())
            writer.append(CaptureDirection::Inbound, chunk, start + step * 5'000'000LL);
    }
    return writer.close();
}

} // namespace

class TestDecodeTool : public QObject
{
    Q_OBJECT
private slots:
    void init() { QVERIFY(dir.isValid()); }

    void jsonNumbersReadBack_data();
    void jsonNumbersReadBack();
    void roundTrip_data() { addModelRows(); }
    void roundTrip();
    void streamCalibrationIsTheFirstReply_data();
    void streamCalibrationIsTheFirstReply();
    void chunkSizesGiveTheSameScans_data() { addModelRows(); }
    void chunkSizesGiveTheSameScans();
    void standardInputIsTheDefault();
    void captureKeepsTheSensorsPace_data();
    void captureKeepsTheSensorsPace();
    void simulatorReplaysACaptureAtItsPace();
    void noFilterKeepsEveryReturn_data();
    void noFilterKeepsEveryReturn();
    void csvHasOneRowPerPoint();
    void usageErrors_data();
    void usageErrors();
    void unreadableInput_data();
    void unreadableInput();
    void missingEditionDecoderIsReported();
    void liveRunSavesWhatItDecodes_data();
    void liveRunSavesWhatItDecodes();
    void liveFailuresEndTheRun_data();
    void liveFailuresEndTheRun();

private:
    QString writeFile(const QString &name, const QByteArray &bytes)
    {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return {};
        return file.fileName();
    }

    QTemporaryDir dir;
};

void TestDecodeTool::jsonNumbersReadBack_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::addRow("integral") << 720.0 << "720";
    QTest::addRow("zero") << 0.0 << "0";
    QTest::addRow("third") << 1.0 / 3.0 << "";
    QTest::addRow("tiny") << 1.25e-300 << "";
    QTest::addRow("odd angle") << 354.44411680838124 << "354.44411680838124";
    QTest::addRow("infinite") << std::numeric_limits<double>::infinity() << "null";
    QTest::addRow("not a number") << std::numeric_limits<double>::quiet_NaN() << "null";
}

void TestDecodeTool::jsonNumbersReadBack()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    const QString written = QString::fromStdString(jsonNumber(value));
    if (!text.isEmpty())
        QCOMPARE(written, text);
    if (std::isfinite(value))
        QCOMPARE(written.toDouble(), value);
}

void TestDecodeTool::roundTrip()
{
    QFETCH(QString, edition);
    QFETCH(QString, model);
    const SimModel &sim = *findSimModel(model);
    const int sent = 6;
    const QByteArray bytes = simCapture(model, sent);
    const Run run = runDecoder(editionArguments(edition, model) << writeFile("in.bin", bytes));
    QCOMPARE(run.status, 0);
    QVERIFY2(run.err.isEmpty(), run.err.constData()); // no progress line off a terminal
    const Events events = parseEvents(run.out);

    QCOMPARE(events.infos, QStringList{"v2.3.12 hw:100"});
    QVERIFY2(events.scans.size() >= sent - 1, qPrintable(QString::number(events.scans.size())));
    QCOMPARE(events.end.value("bytes").toInt(), bytes.size());
    QCOMPARE(events.end.value("scans").toInt(), events.scans.size());
    for (int i = 0; i < events.scans.size(); ++i) {
        const QJsonObject scan = events.scans[i];
        QCOMPARE(scan.value("n").toInt(), i + 1);
        QJsonArray points = scan.value("points").toArray();
        const int valid = scan.value("valid").toInt();
        const int total = scan.value("total").toInt();
        QVERIFY(valid > 0);
        // Maple's conversion leaves the sample total as it was (0).
        QVERIFY(valid <= total || sim.format == SimModel::Maple);
        if (sim.commandProtocol()) {
            QVERIFY(!scan.contains("speed") && !scan.contains("errors"));
            QCOMPARE(valid, points.size());
            if (sim.format == SimModel::Fir) {
                QCOMPARE(total, 160);
                QVERIFY(std::abs(scan.value("rate").toDouble() - sim.frameHz) < 0.2 * sim.frameHz);
            }
        } else {
            const double expectedTotal = sim.samplesPerSecond / sim.rotationHz;
            QVERIFY(std::abs(total - expectedTotal) < 0.05 * expectedTotal);
            QVERIFY(std::abs(scan.value("speed").toDouble() - sim.rotationHz) <
                    0.2 * sim.rotationHz);
            QVERIFY(scan.value("errors").toInt() <= 2);
            QCOMPARE(points.last().toArray(), (QJsonArray{720, 0, 0}));
            points.removeLast();
        }
        for (const QJsonValue &point : points) {
            const double angle = point.toArray().at(0).toDouble(-1);
            QVERIFY2(angle >= 0 && angle < 360, qPrintable(QString::number(angle)));
        }
    }
    QCOMPARE(events.end.value("errors").toInt(),
             sim.commandProtocol() ? 0 : events.scans.last().value("errors").toInt());
}

void TestDecodeTool::streamCalibrationIsTheFirstReply_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QByteArray>("otherReply");
    QTest::addRow("Fir") << "Fir" << Wire::firCalibrationReply(9000, 9100, 50000, 51000);
    QTest::addRow("Maple") << "Maple"
                           << Wire::mapleCalibrationReply({9000, 9000, 9000, 9000, 9000, 9000},
                                                          {1, 2, 3, 4, 5, 6});
}

// A capture starts with the sensor's calibration reply; a later reply does
// not replace it, and without it the initial calibration gives other points.
void TestDecodeTool::streamCalibrationIsTheFirstReply()
{
    QFETCH(QString, model);
    QFETCH(QByteArray, otherReply);
    SensorSim sim(*findSimModel(model), 11, SimFaults{}, SimIdentity{});
    const QByteArray reply = sim.calibrationReply();
    const QByteArray bytes = sim.capture(4);
    const int at = bytes.indexOf(reply);
    QVERIFY(at >= 0);
    const int after = at + reply.size();

    auto decode = [&](const QByteArray &stream) {
        const Run run = runDecoder({"--model", model, writeFile("cal.bin", stream)});
        [&] { QCOMPARE(run.status, 0); }();
        QVector<QJsonValue> points;
        for (const QJsonObject &scan : parseEvents(run.out).scans)
            points.append(scan.value("points"));
        return points;
    };
    const auto calibrated = decode(bytes);
    QVERIFY(!calibrated.isEmpty());
    QCOMPARE(decode(bytes.left(after) + otherReply + bytes.mid(after)), calibrated);
    QVERIFY(decode(bytes.left(at) + otherReply + bytes.mid(after)) != calibrated);
    QVERIFY(decode(bytes.left(at) + bytes.mid(after)) != calibrated);
}

void TestDecodeTool::chunkSizesGiveTheSameScans()
{
    QFETCH(QString, edition);
    QFETCH(QString, model);
    const QString file = writeFile("in.bin", simCapture(model, 4));
    QVector<QJsonObject> reference;
    for (const QString chunk : {"512", "7", "1"}) {
        const Run run = runDecoder(editionArguments(edition, model) << "--chunk" << chunk << file);
        QCOMPARE(run.status, 0);
        const Events events = parseEvents(run.out);
        const QVector<QJsonObject> scans = chunkIndependent(events.scans);
        QVERIFY(!scans.isEmpty());
        if (reference.isEmpty())
            reference = scans;
        QCOMPARE(scans.size(), reference.size());
        for (int i = 0; i < scans.size(); ++i)
            QVERIFY2(scans[i] == reference[i],
                     qPrintable(QStringLiteral("chunk %1, scan %2").arg(chunk).arg(i + 1)));
        QCOMPARE(events.infos.size(), 1);
    }
}

void TestDecodeTool::standardInputIsTheDefault()
{
    const QByteArray bytes = simCapture("Dogwood", 3);
    const Run fromFile = runDecoder({"--model", "Dogwood", writeFile("in.bin", bytes)});
    QCOMPARE(fromFile.status, 0);
    const Events expected = parseEvents(fromFile.out);
    for (const QStringList &arguments :
         {QStringList{"--model", "dogwood"}, QStringList{"--model", "Dogwood", "-"}}) {
        const Run run = runDecoder(arguments, bytes);
        QCOMPARE(run.status, 0);
        const Events events = parseEvents(run.out);
        QCOMPARE(events.end, expected.end);
        QCOMPARE(chunkIndependent(events.scans), chunkIndependent(expected.scans));
    }
}

void TestDecodeTool::captureKeepsTheSensorsPace_data()
{
    QTest::addColumn<QString>("model");
    QTest::newRow("Alder, 6 rev/s") << "Alder";
    QTest::newRow("Dogwood, 10 rev/s") << "Dogwood";
}

void TestDecodeTool::captureKeepsTheSensorsPace()
{
    QFETCH(QString, model);
    const SimModel &sim = *findSimModel(model);
    const QString capture = dir.filePath("paced.pcapng");
    QByteArray raw;
    QVERIFY(writePacedCapture(capture, sim, 1.5, &raw));

    const Run fromRaw = runDecoder({"--model", model, writeFile("paced.bin", raw)});
    QFile file(capture);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray captureBytes = file.readAll();
    const Run fromCapture = runDecoder({"--model", model, capture});
    const Run fromStandardInput = runDecoder({"--model", model}, captureBytes);
    QCOMPARE(fromRaw.status, 0);
    QCOMPARE(fromCapture.status, 0);
    QCOMPARE(fromStandardInput.out, fromCapture.out);
    const Events rawEvents = parseEvents(fromRaw.out);
    const Events captureEvents = parseEvents(fromCapture.out);
    QVERIFY(captureEvents.scans.size() >= 1.5 * sim.rotationHz - 2);
    QCOMPARE(chunkIndependent(captureEvents.scans), chunkIndependent(rawEvents.scans));
    QCOMPARE(captureEvents.end.value("bytes").toInt(), raw.size());
    // Each scan after the first is timed by the recording, as it was live.
    for (int i = 1; i < captureEvents.scans.size(); ++i) {
        const double rate = captureEvents.scans[i].value("rate").toDouble();
        QVERIFY2(std::abs(rate - sim.rotationHz) < 0.05 * sim.rotationHz,
                 qPrintable(QString::number(rate)));
    }
}

// Replayed onto a pseudo-terminal a capture keeps its recorded pace, which
// for a Dogwood is slower than its line speed would carry the bytes.
void TestDecodeTool::simulatorReplaysACaptureAtItsPace()
{
    const SimModel &dogwood = *findSimModel("Dogwood");
    const QString capture = dir.filePath("replayed.pcapng");
    QByteArray raw;
    QVERIFY(writePacedCapture(capture, dogwood, 2.0, &raw));
    SimProcess sim({"--model", "Dogwood", "--replay", capture, "--loop"});
    QVERIFY(sim.started());
    const Run live = runDecoder({"--model", "Dogwood", "--port", sim.port(), "--seconds", "3"});
    QCOMPARE(live.status, 0);
    QVector<double> rates;
    for (const QJsonObject &scan : parseEvents(live.out).scans)
        if (scan["rate"].toDouble() > 0)
            rates.append(scan["rate"].toDouble());
    QVERIFY2(rates.size() >= 10, qPrintable(QString::number(rates.size())));
    std::sort(rates.begin(), rates.end());
    const double median = rates[rates.size() / 2];
    QVERIFY2(std::abs(median - dogwood.rotationHz) < 0.1 * dogwood.rotationHz,
             qPrintable(QString::number(median)));
}

void TestDecodeTool::noFilterKeepsEveryReturn_data()
{
    QTest::addColumn<QString>("edition");
    QTest::addColumn<QString>("model");
    // Models whose filter changes the simulated room: a range correction
    // (Alder) or the other cluster filter (Dogwood, Ironwood, Larch).
    QTest::addRow("full/Alder") << "full"
                                << "Alder";
    QTest::addRow("full/Dogwood") << "full"
                                  << "Dogwood";
    QTest::addRow("full/Ironwood") << "full"
                                   << "Ironwood";
#ifdef VANTOSCOPE_DECODE_CLASSIC
    QTest::addRow("classic/Alder") << "classic"
                                   << "Alder";
    QTest::addRow("classic/Larch") << "classic"
                                   << "Larch";
#endif
}

// Without the filter a scan is every return of the revolution; the filter
// removes, moves or clears some of them.
void TestDecodeTool::noFilterKeepsEveryReturn()
{
    QFETCH(QString, edition);
    QFETCH(QString, model);
    const QString file = writeFile("in.bin", simCapture(model, 5));
    const Run filtered = runDecoder(editionArguments(edition, model) << file);
    const Run raw = runDecoder(editionArguments(edition, model) << "--no-filter" << file);
    QCOMPARE(filtered.status, 0);
    QCOMPARE(raw.status, 0);
    const Events on = parseEvents(filtered.out);
    const Events off = parseEvents(raw.out);
    QCOMPARE(off.scans.size(), on.scans.size());
    bool filterChangedSomething = false;
    for (int i = 0; i < off.scans.size(); ++i) {
        const QJsonArray points = off.scans[i].value("points").toArray();
        QCOMPARE(off.scans[i].value("valid").toInt(), points.size() - 1);
        for (int p = 0; p + 1 < points.size(); ++p)
            QVERIFY(points[p].toArray().at(1).toInt() > 0);
        QVERIFY(on.scans[i].value("valid").toInt() <= points.size() - 1);
        filterChangedSomething |= on.scans[i].value("points") != off.scans[i].value("points");
    }
    QVERIFY(filterChangedSomething);
}

void TestDecodeTool::csvHasOneRowPerPoint()
{
    for (const QString model : {"Alder", "Fir"}) {
        const QString file = writeFile("in.bin", simCapture(model, 3));
        const Run csv = runDecoder({"--model", model, "--format", "csv", file});
        const Run jsonl = runDecoder({"--model", model, file});
        QCOMPARE(csv.status, 0);
        QVERIFY(csv.out.endsWith('\n'));
        QList<QByteArray> rows = csv.out.split('\n');
        rows.removeLast();
        QCOMPARE(rows.takeFirst(), QByteArray("scan,time,angle,distance,confidence"));
        QList<QByteArray> expected;
        for (const QJsonObject &scan : parseEvents(jsonl.out).scans)
            for (const QJsonValue &point : scan.value("points").toArray()) {
                const QJsonArray p = point.toArray();
                // The end-of-scan marker is not a point; a raw file has no
                // wall-clock time.
                if (p[0].toDouble() == endOfScanAngle)
                    continue;
                expected << QByteArray::number(scan.value("n").toInt()) + ",," +
                                QByteArray::fromStdString(jsonNumber(p[0].toDouble())) + ',' +
                                QByteArray::number(p[1].toInt()) + ',' +
                                QByteArray::number(p[2].toInt());
            }
        QVERIFY(!expected.isEmpty());
        QCOMPARE(rows, expected);
    }
}

void TestDecodeTool::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("mentions");
    QTest::addRow("no model") << QStringList{} << "Kauri";
    QTest::addRow("unknown model") << QStringList{"--model", "Oak"} << "Alder, Birch";
    QTest::addRow("unknown option") << QStringList{"--model", "Alder", "--speed", "2"} << "speed";
    QTest::addRow("chunk 0") << QStringList{"--model", "Alder", "--chunk", "0"} << "--chunk";
    QTest::addRow("chunk text") << QStringList{"--model", "Alder", "--chunk", "big"} << "big";
    QTest::addRow("format") << QStringList{"--model", "Alder", "--format", "xml"} << "xml";
    QTest::addRow("edition") << QStringList{"--model", "Alder", "--edition", "new"} << "new";
    QTest::addRow("two inputs") << QStringList{"--model", "Alder", "a", "b"} << "'b'";
    QTest::addRow("port and input")
        << QStringList{"--model", "Alder", "--port", "p", "a"} << "--port";
    QTest::addRow("seconds alone")
        << QStringList{"--model", "Alder", "--seconds", "1"} << "--seconds";
    QTest::addRow("save-raw alone")
        << QStringList{"--model", "Alder", "--save-raw", "f"} << "--save-raw";
    QTest::addRow("seconds negative")
        << QStringList{"--model", "Alder", "--port", "p", "--seconds", "-1"} << "-1";
#ifdef VANTOSCOPE_DECODE_CLASSIC
    // The earlier edition's own program answers, with its eight models.
    QTest::addRow("classic model")
        << QStringList{"--edition", "classic", "--model", "Kauri"}
        << "vantoscope-decode-classic: unknown model 'Kauri'; known models: Alder, Birch, "
           "Cedar, Dogwood, Fir, Ginkgo, Hazel, Larch";
#endif
}

void TestDecodeTool::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, mentions);
    const Run run = runDecoder(arguments);
    QCOMPARE(run.status, 2);
    QVERIFY(run.out.isEmpty());
    QCOMPARE(run.err.count('\n'), 1);
    QVERIFY2(run.err.contains(mentions.toUtf8()), run.err.constData());
}

void TestDecodeTool::unreadableInput_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addRow("missing file") << QStringList{"--model", "Alder", "no-such.bin"};
    QTest::addRow("directory") << QStringList{"--model", "Fir", "/"};
    QTest::addRow("missing port") << QStringList{"--model", "Alder", "--port", "/dev/no-such-tty"};
}

void TestDecodeTool::unreadableInput()
{
    QFETCH(QStringList, arguments);
    const Run run = runDecoder(arguments);
    QCOMPARE(run.status, 1);
    QVERIFY(run.out.isEmpty());
    QCOMPARE(run.err.count('\n'), 1);
    QVERIFY2(run.err.contains(arguments.last().toUtf8()), run.err.constData());
}

// Without the earlier edition's program next to it, --edition classic fails
// with a message instead of decoding as the full edition.
void TestDecodeTool::missingEditionDecoderIsReported()
{
    const QString lonely = dir.filePath("vantoscope-decode");
    QVERIFY(QFile::copy(QStringLiteral(VANTOSCOPE_DECODE_PATH), lonely));
    QProcess process;
    process.start(lonely, {"--edition", "classic", "--model", "Alder", "-"});
    process.closeWriteChannel();
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 1);
    const QByteArray err = process.readAllStandardError();
    QVERIFY2(err.contains("vantoscope-decode-classic"), err.constData());
    QVERIFY(process.readAllStandardOutput().isEmpty());
}

void TestDecodeTool::liveRunSavesWhatItDecodes_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("file");
    QTest::addRow("Alder") << "Alder"
                           << "live.bin";
    QTest::addRow("Kauri") << "Kauri"
                           << "live.bin";
    QTest::addRow("Fir") << "Fir"
                         << "live.bin";
    QTest::addRow("Maple") << "Maple"
                           << "live.bin";
    QTest::addRow("Alder, capture") << "Alder"
                                    << "live.pcapng";
    QTest::addRow("Fir, capture") << "Fir"
                                  << "live.pcapng";
}

// Live from the simulator's pseudo-terminal with stderr on a terminal of its
// own: the progress line appears there, the raw bytes are saved, and
// replaying them gives the very scans seen live.
void TestDecodeTool::liveRunSavesWhatItDecodes()
{
    QFETCH(QString, model);
    QFETCH(QString, file);
    SimProcess sim({"--model", model});
    QVERIFY(sim.started());
    Pty terminal;
    QVERIFY(terminal.isValid());
    const QString raw = dir.filePath(file);
    const Run live =
        runDecoder({"--model", model, "--port", sim.port(), "--seconds", "2.5", "--save-raw", raw},
                   {}, terminal.slavePath());
    QCOMPARE(live.status, 0);
    const QByteArray progress = terminal.readAvailable();
    QVERIFY2(progress.contains(" bytes, ") && progress.contains(" scans, ") &&
                 progress.contains(" errors"),
             progress.constData());

    const Events seen = parseEvents(live.out);
    QVERIFY2(seen.scans.size() >= 10, qPrintable(QString::number(seen.scans.size())));
    QCOMPARE(seen.infos, QStringList{"v1.2.10 hw:1f"});
    const SimModel &simModel = *findSimModel(model);
    if (simModel.commandProtocol())
        QVERIFY2(sim.waitForOutput("command: 15", 10000), qPrintable(sim.output()));
    const bool capture = file.endsWith(".pcapng");
    if (!capture) {
        QCOMPARE(QFileInfo(raw).size(), qint64(seen.end.value("bytes").toInt()));
    } else {
        // Both directions with their times, the line and the sensor's version.
        CaptureReader reader;
        QVERIFY(reader.open(raw));
        qint64 received = 0;
        QByteArray sent;
        CaptureRecord record;
        while (reader.readNext(record)) {
            if (record.direction == CaptureDirection::Inbound)
                received += record.data.size();
            else
                sent += record.data;
        }
        QVERIFY(!reader.truncated() && !reader.damaged());
        QCOMPARE(received, qint64(seen.end.value("bytes").toInt()));
        QVERIFY(!sent.isEmpty()); // the information request at least
        QCOMPARE(reader.versionText(), QStringLiteral("v1.2.10 hw:1f"));
        const CaptureMetadata metadata = reader.interfaces().value(0).metadata;
        QCOMPARE(metadata.model, model);
        QCOMPARE(metadata.baudrate, simModel.baudrate);
        QCOMPARE(metadata.portName, sim.port());
        QCOMPARE(metadata.edition, QStringLiteral("full"));
    }

    const Run replay = runDecoder({"--model", model, raw});
    QCOMPARE(replay.status, 0);
    const Events replayed = parseEvents(replay.out);
    QCOMPARE(replayed.end["bytes"], seen.end["bytes"]);
    QCOMPARE(replayed.end["scans"], seen.end["scans"]);
    QCOMPARE(chunkIndependent(replayed.scans), chunkIndependent(seen.scans));
    // From a capture the rate is the one seen live, give or take the
    // millisecond the period is cut to.
    for (int i = 0; capture && !simModel.commandProtocol() && i < seen.scans.size(); ++i)
        QVERIFY(std::abs(replayed.scans[i]["rate"].toDouble() - seen.scans[i]["rate"].toDouble()) <
                0.05 * simModel.rotationHz);
}

void TestDecodeTool::liveFailuresEndTheRun_data()
{
    QTest::addColumn<QStringList>("simulator");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("seconds");
    // As in the window, the port stays open after a failed handshake.
    QTest::addRow("silent handshake")
        << QStringList{"--model", "Fir", "--no-handshake"} << "connect failed"
        << "3";
    QTest::addRow("pulled cable") << QStringList{"--model", "Alder", "--disconnect-after", "1"}
                                  << "the device is gone"
                                  << "60";
}

// A sensor that does not answer the handshake or goes away is a failed run,
// reported once on stderr; what was decoded is still closed by an end line.
void TestDecodeTool::liveFailuresEndTheRun()
{
    QFETCH(QStringList, simulator);
    QFETCH(QString, message);
    QFETCH(QString, seconds);
    SimProcess sim(simulator);
    QVERIFY(sim.started());
    // Without the failure the run would last its full time and end well.
    const Run live =
        runDecoder({"--model", simulator[1], "--port", sim.port(), "--seconds", seconds});
    QCOMPARE(live.status, 1);
    QCOMPARE(live.err.count('\n'), 1);
    QVERIFY2(live.err.contains(message.toUtf8()), live.err.constData());
    QVERIFY(parseEvents(live.out).end.contains("bytes"));
}

QTEST_GUILESS_MAIN(TestDecodeTool)
#include "tst_decodetool.moc"
