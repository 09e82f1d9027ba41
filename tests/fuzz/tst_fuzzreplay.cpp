#include "commandframes.h"
#include "debugpkg/debugpkg.h"
#include "editions/edition.h"
#include "fuzzdriver.h"
#include "invariants.h"
#include "sensorsim.h"
#include "serviceframes.h"
#include "simmodels.h"
#include "trnet/framesplitter.h"

#include <QDir>
#include <QFile>
#include <QSerialPort>
#include <QSignalSpy>
#include <QtTest>
#include <cmath>
#include <limits>

class TestFuzzReplay : public QObject
{
    Q_OBJECT
private slots:
    void savedInputs_data();
    void savedInputs();
    void simulatedStreams_data();
    void simulatedStreams();
    void streamScanChecks_data();
    void streamScanChecks();
    void commandScanChecks_data();
    void commandScanChecks();
    void debugPkgQueueStaysBounded();
    void frameSplitterFindsAFrameBehindLongNoiseByteByByte();
};

namespace {

enum class Decoder
{
    LiPkg,
    QTRNet,
    DebugPkg,
    Capture,
    BenchCheck,
    Profile,
    Bridge
};

FuzzDriver::Outcome run(Decoder decoder, const QByteArray &input)
{
    const auto *data = reinterpret_cast<const uint8_t *>(input.constData());
    const auto size = static_cast<size_t>(input.size());
    switch (decoder) {
    case Decoder::LiPkg:
        return FuzzDriver::runLiPkg(data, size);
    case Decoder::QTRNet:
        return FuzzDriver::runQTRNet(data, size);
    case Decoder::Capture:
        return FuzzDriver::runCapture(data, size);
    case Decoder::BenchCheck:
        return FuzzDriver::runBenchCheck(data, size);
    case Decoder::Profile:
        return FuzzDriver::runProfile(data, size);
    case Decoder::Bridge:
        return FuzzDriver::runBridgeClient(data, size);
    case Decoder::DebugPkg:
        break;
    }
    return FuzzDriver::runDebugPkg(data, size);
}

PointList points(std::initializer_list<double> angles, bool marker = false)
{
    PointList scan;
    for (double a : angles)
        scan.append(PointData{a, 1000, 200, 0, 0});
    if (marker)
        scan.append(endOfScanMarker());
    return scan;
}

} // namespace

Q_DECLARE_METATYPE(Decoder)

void TestFuzzReplay::savedInputs_data()
{
    QTest::addColumn<Decoder>("decoder");
    QTest::addColumn<QString>("path");
    const QString suffix = Edition::classic ? QStringLiteral("_classic") : QString();
    const std::pair<const char *, Decoder> folders[] = {
        {"lipkg", Decoder::LiPkg},       {"qtrnet", Decoder::QTRNet},
        {"debugpkg", Decoder::DebugPkg}, {"capture", Decoder::Capture},
        {"check", Decoder::BenchCheck},  {"profile", Decoder::Profile},
        {"bridge", Decoder::Bridge}};
    int rows = 0;
    for (const auto &[name, decoder] : folders) {
        const QDir dir(QStringLiteral(FUZZ_CORPUS_DIR "/") + name + suffix);
        for (const QString &file : dir.entryList(QDir::Files, QDir::Name)) {
            QTest::newRow(qPrintable(name + suffix + "/" + file)) << decoder << dir.filePath(file);
            ++rows;
        }
    }
    if (rows == 0)
        QTest::newRow("no saved inputs for this edition") << Decoder::LiPkg << QString();
}

void TestFuzzReplay::savedInputs()
{
    QFETCH(Decoder, decoder);
    QFETCH(QString, path);
    if (path.isEmpty())
        QSKIP("no saved inputs for this edition");
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
    const QByteArray input = file.readAll();
    // A broken invariant aborts the test with its name.
    const FuzzDriver::Outcome outcome = run(decoder, input);
    QVERIFY(outcome.chunks > 0);
}

void TestFuzzReplay::simulatedStreams_data()
{
    QTest::addColumn<Decoder>("decoder");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("expectScans");
    for (const SimModel &model : simModels()) {
        SensorSim sim(model, 7, SimFaults{}, SimIdentity{});
        const QByteArray stream = sim.capture(3);
        const QByteArray name = model.name.toLatin1();
        QTest::newRow(name + " to DebugPkg")
            << Decoder::DebugPkg << FuzzDriver::debugPkgInput(stream) << false;
        const int checkIndex = FuzzDriver::benchCheckModelIndex(model.name);
        if (checkIndex >= 0)
            QTest::newRow(name + " to the bench check")
                << Decoder::BenchCheck << FuzzDriver::benchCheckInput(checkIndex, stream) << true;
        if (model.commandProtocol()) {
            const QByteArray reply = sim.calibrationReply();
            const int n = uint8_t(reply[8]) | uint8_t(reply[9]) << 8;
            const bool maple = model.format == SimModel::Maple;
            // The earlier edition's QTRNet serves Fir only.
            const bool served = !(Edition::classic && maple);
            QTest::newRow(name + " to QTRNet")
                << Decoder::QTRNet << FuzzDriver::qtrNetInput(maple, reply.mid(10, n), stream)
                << served;
        } else {
            const int index = FuzzDriver::liPkgModelIndex(model.name);
            if (index < 0)
                continue;
            const bool decoded = !Edition::classic || model.format == SimModel::Pkg47;
            QTest::newRow(name + " to LiPkg")
                << Decoder::LiPkg << FuzzDriver::liPkgInput(index, stream) << decoded;
        }
    }
}

// The seed inputs of the harnesses: clean captures pass every check, and
// each decoder finds its frames in them, so the control bytes are right.
void TestFuzzReplay::simulatedStreams()
{
    QFETCH(Decoder, decoder);
    QFETCH(QByteArray, input);
    QFETCH(bool, expectScans);
    const FuzzDriver::Outcome outcome = run(decoder, input);
    QVERIFY(outcome.chunks > 0);
    if (decoder == Decoder::DebugPkg)
        QCOMPARE(outcome.frames, 1); // the information reply
    if (expectScans)
        QVERIFY2(outcome.scans >= 1, qPrintable(QString::number(outcome.scans)));
}

void TestFuzzReplay::streamScanChecks_data()
{
    QTest::addColumn<PointList>("scan");
    QTest::addColumn<QString>("broken");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    QTest::newRow("empty") << PointList() << QString();
    QTest::newRow("marker only") << PointList{endOfScanMarker()} << QString();
    QTest::newRow("well formed") << points({350.0, -2.5, 10.0}, true) << QString();
    QTest::newRow("no marker") << points({1.0, 2.0}) << "stream scan: end-of-scan marker last";
    QTest::newRow("marker not last")
        << PointList{endOfScanMarker()} + points({1.0}) << "stream scan: end-of-scan marker last";
    QTest::newRow("NaN angle") << points({1.0, nan}, true) << "stream scan: angles finite";
    QTest::newRow("infinite angle") << points({-inf}, true) << "stream scan: angles finite";
    QTest::newRow("second marker inside")
        << points({1.0, 720.0}, true) << "stream scan: angles below the end-of-scan marker's";
}

void TestFuzzReplay::streamScanChecks()
{
    QFETCH(PointList, scan);
    QFETCH(QString, broken);
    QCOMPARE(QString::fromLatin1(Invariants::checkStreamScan(scan)), broken);
}

void TestFuzzReplay::commandScanChecks_data()
{
    QTest::addColumn<PointList>("scan");
    QTest::addColumn<QString>("broken");
    QTest::newRow("empty") << PointList() << QString();
    QTest::newRow("fan of points") << points({-45.0, 0.0, 359.5}) << QString();
    QTest::newRow("NaN angle") << points({std::numeric_limits<double>::quiet_NaN()})
                               << "command scan: angles finite";
    QTest::newRow("end-of-scan marker")
        << points({1.0}, true) << "command scan: no end-of-scan marker, angles within one turn";
}

void TestFuzzReplay::commandScanChecks()
{
    QFETCH(PointList, scan);
    QFETCH(QString, broken);
    QCOMPARE(QString::fromLatin1(Invariants::checkCommandScan(scan)), broken);
}

// A device that sends several service frames in every chunk: one frame is
// handled per call, so without a cap the queue would grow with every chunk.
// The newest bytes are kept, so the last report still arrives.
void TestFuzzReplay::debugPkgQueueStaysBounded()
{
    QSerialPort port;
    auto *pkg = new DebugPkg(&port);
    QSignalSpy recognised(pkg, &DebugPkg::dataReady);
    QByteArray chunk;
    for (int i = 0; i < 10; ++i)
        chunk += Wire::statusReport(uint8_t(i));
    int peak = 0;
    for (int call = 0; call < 400; ++call) {
        pkg->pushData(chunk);
        peak = std::max(peak, pkg->queuedBytes());
    }
    QVERIFY(peak > DebugPkg::queueLimit - chunk.size());
    QVERIFY(peak <= DebugPkg::queueLimit);
    const int before = recognised.count();
    for (int call = 0; call < 10000 && pkg->queuedBytes() > 0; ++call)
        pkg->pushData(QByteArray());
    QCOMPARE(pkg->queuedBytes(), 0);
    QCOMPARE(pkg->lastStatusByte(), uint8_t(9));
    // Every frame kept in the queue is still found, one per call.
    QVERIFY(recognised.count() - before >= DebugPkg::queueLimit / chunk.size() * 10 - 1);
}

// A line read byte by byte behind a long stretch of noise still yields the
// frame at its end (that the cost per byte stays constant is measured in the
// frame splitter's benchmark).
void TestFuzzReplay::frameSplitterFindsAFrameBehindLongNoiseByteByByte()
{
    const QByteArray frame = Wire::encodeTrFrame(1, 2, 0, QByteArray(40, '\x11'));
    const QByteArray stream = QByteArray(1000000, '\x00') + frame;
    FrameSplitter splitter;
    for (int i = 0; i < stream.size(); ++i)
        splitter.append(stream.constData() + i, 1);
    TRData taken;
    QVERIFY(splitter.takeFrame(taken));
    QCOMPARE(taken.command, uint8_t(2));
    QCOMPARE(taken.payload, QByteArray(40, '\x11'));
}

QTEST_GUILESS_MAIN(TestFuzzReplay)
#include "tst_fuzzreplay.moc"
