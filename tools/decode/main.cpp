// vantoscope-decode: decodes a recorded or live sensor byte stream with the
// viewer's own decoders and filters, without a window, and writes the scans,
// figures and information records as JSON lines or CSV, or the scans as an
// MCAP file; live, it can share them with Foxglove WebSocket clients too.
#include "bridge/livebridge.h"
#include "capture/capturereader.h"
#include "capture/capturewriter.h"
#include "decodesession.h"
#include "editions/edition.h"
#include "editions/modeltable.h"
#include "robotics/scanmcapfile.h"
#include "tools/common/toolmain.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

constexpr int usageStatus = 2;
constexpr int inputStatus = 1;
constexpr int maxChunk = 64 << 20;
// The other edition's decoder reads and writes the same streams.
const ToolMain tool("vantoscope-decode", "decoder", usageStatus, inputStatus);

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

int positiveInt(const QCommandLineParser &parser, const QString &name, int max)
{
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < 1 || value > max)
        tool.usageError(QStringLiteral("--%1 takes a whole number from 1 to %2, not '%3'")
                            .arg(name)
                            .arg(max)
                            .arg(parser.value(name)));
    return value;
}

// Why the output could not be written.
QString outputError(const DecodeSession &session)
{
    const QString file = session.fileError();
    return file.isEmpty() ? systemError() : file;
}

void writeProgress(const DecodeSession &session)
{
    std::fprintf(stderr, "\r%lld bytes, %d scans, %d errors ",
                 static_cast<long long>(session.bytes()), session.scans(), session.errors());
    std::fflush(stderr);
}

// Feeds a capture's received records to the decoders one by one, each at
// its recorded time, so the figures timed by the decoders are the sensor's.
void decodeCapture(QIODevice &device, const QString &name, DecodeSession &session)
{
    CaptureReader reader;
    if (!reader.open(&device))
        tool.fail(inputStatus,
                  QStringLiteral("cannot read %1: %2").arg(name, reader.errorString()));
    session.useRecordedClock();
    CaptureRecord record;
    while (reader.readNext(record))
        if (reader.feedsDecoders(record))
            session.pushRecorded(record.data, record.timeNs);
    if (reader.damaged()) {
        if (!session.finish())
            tool.fail(inputStatus,
                      QStringLiteral("cannot write the output: %1").arg(outputError(session)));
        tool.fail(inputStatus, QStringLiteral("%1: %2").arg(name, reader.errorString()));
    }
    if (reader.truncated())
        std::fprintf(stderr, "%s: %s is cut off; decoded up to its last whole record\n",
                     tool.name(), qPrintable(name));
}

// Feeds the input in consecutive chunks of exactly `chunk` bytes (the last
// may be shorter), whatever sizes the reads return; a pcapng capture goes
// record by record instead.
void decodeInput(const QString &input, int chunk, DecodeSession &session)
{
    const bool standardInput = input == QLatin1String("-");
    const QString name = standardInput ? QStringLiteral("standard input") : input;
    QFile file(input);
    const bool opened = standardInput ? file.open(STDIN_FILENO, QIODevice::ReadOnly)
                                      : file.open(QIODevice::ReadOnly);
    if (!opened)
        tool.fail(inputStatus, QStringLiteral("cannot read %1: %2").arg(name, file.errorString()));
    if (CaptureReader::isPcapng(file.peek(4))) {
        decodeCapture(file, name, session);
        return;
    }
    // Raw bytes carry no time of their own: decoding now says nothing about
    // when they were measured.
    session.sensor().setWallClock(SensorSession::WallClock::Unknown);

    const int block = chunk * std::max(1, (1 << 20) / chunk);
    std::vector<char> buffer(static_cast<size_t>(block));
    int filled = 0;
    for (;;) {
        const qint64 n = file.read(buffer.data() + filled, block - filled);
        if (n < 0)
            tool.fail(inputStatus,
                      QStringLiteral("cannot read %1: %2").arg(name, file.errorString()));
        if (n == 0)
            break;
        filled += static_cast<int>(n);
        int offset = 0;
        for (; filled - offset >= chunk; offset += chunk)
            session.push(QByteArray(buffer.data() + offset, chunk));
        if (offset > 0) {
            std::memmove(buffer.data(), buffer.data() + offset,
                         static_cast<size_t>(filled - offset));
            filled -= offset;
        }
    }
    if (filled > 0)
        session.push(QByteArray(buffer.data(), filled));
}

// SIGINT and SIGTERM end a live decode through the event loop.
int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

struct LiveOptions
{
    QString port;
    double seconds = 0.0; // 0: until interrupted
    QString saveRaw;
    bool share = false;
    ShareAddress shareAddress;
};

// Opens the port as the window does for the model, starts the sensor and
// decodes until the time is up, the user interrupts or the device is lost.
// Returns the exit status.
int decodeLive(QCoreApplication &app, const LiveOptions &options, DecodeSession &session)
{
    SensorSession &sensor = session.sensor();
    // A name ending in .pcapng keeps both directions with their times;
    // any other keeps the received bytes only.
    const bool asCapture = options.saveRaw.endsWith(QLatin1String(".pcapng"), Qt::CaseInsensitive);
    QFile raw(options.saveRaw);
    CaptureWriter capture;
    if (asCapture) {
        CaptureMetadata metadata;
        metadata.application = QStringLiteral("%1 %2").arg(QLatin1String(tool.name()),
                                                           QLatin1String(VANTOSCOPE_VERSION));
        metadata.edition = QLatin1String(Edition::name);
        metadata.model = session.model();
        metadata.portName = options.port;
        metadata.baudrate = session.baudrate();
        if (!capture.open(options.saveRaw, metadata))
            tool.fail(
                inputStatus,
                QStringLiteral("cannot write %1: %2").arg(options.saveRaw, capture.errorString()));
    } else if (!options.saveRaw.isEmpty() &&
               !raw.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        tool.fail(inputStatus,
                  QStringLiteral("cannot write %1: %2").arg(options.saveRaw, raw.errorString()));
    }

    QString openError;
    QObject::connect(&sensor, &SensorSession::openFailed, &app,
                     [&](const QString &error) { openError = error; });
    bool stopped = false;
    int status = 0;
    QString problem;
    auto stop = [&](int exitStatus, const QString &message) {
        if (exitStatus != 0 && problem.isEmpty()) {
            status = exitStatus;
            problem = message;
        }
        stopped = true;
        app.quit();
    };

    bool rawFailed = false;
    QObject::connect(&sensor, &SensorSession::received, &app, [&](const QByteArray &data) {
        if (raw.isOpen() && !rawFailed && raw.write(data) != data.size()) {
            rawFailed = true;
            stop(inputStatus,
                 QStringLiteral("cannot write %1: %2").arg(options.saveRaw, raw.errorString()));
        }
        capture.append(CaptureDirection::Inbound, data, epochNanoseconds());
    });
    QObject::connect(&sensor, &SensorSession::written, &app, [&](const QByteArray &data) {
        capture.append(CaptureDirection::Outbound, data, epochNanoseconds());
    });
    QObject::connect(&sensor, &SensorSession::versionText, &capture,
                     &CaptureWriter::setVersionText);
    QObject::connect(&capture, &CaptureWriter::failed, &app, [&](const QString &error) {
        rawFailed = true;
        stop(inputStatus, QStringLiteral("cannot write %1: %2").arg(options.saveRaw, error));
    });
    QObject::connect(&sensor, &SensorSession::deviceLost, &app, [&] {
        stop(inputStatus, QStringLiteral("cannot read %1: the device is gone").arg(options.port));
    });
    QObject::connect(&sensor, &SensorSession::handshakeFailed, &app, [&](const QString &text) {
        // As in the window the port stays open and decoding goes on, but
        // the run counts as failed.
        std::fprintf(stderr, "%s: %s: %s\n", tool.name(), qPrintable(options.port),
                     qPrintable(text));
        if (status == 0) {
            status = inputStatus;
            problem.clear();
        }
    });

    std::unique_ptr<QSocketNotifier> interrupt;
    if (::pipe(signalPipe) == 0) {
        ::fcntl(signalPipe[0], F_SETFD, FD_CLOEXEC);
        ::fcntl(signalPipe[1], F_SETFD, FD_CLOEXEC);
        interrupt = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(interrupt.get(), &QSocketNotifier::activated, &app, [&] {
            char byte;
            [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &byte, 1);
            stop(0, {});
        });
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }

    LiveBridge bridge;
    if (options.share) {
        QString error;
        if (const Models::Record *row = Models::find(session.model(), Qt::CaseSensitive))
            bridge.setGrid(Robotics::ScanGrid::forModel(*row));
        if (!bridge.start(options.shareAddress, &error))
            tool.fail(inputStatus,
                      QStringLiteral("cannot share on %1: %2")
                          .arg(options.shareAddress.url(options.shareAddress.port), error));
        QObject::connect(&sensor, &SensorSession::scanReady, &bridge, &LiveBridge::publish);
        QObject::connect(&bridge, &LiveBridge::clientCountChanged, &app, [&bridge](int count) {
            std::fprintf(stderr, "%s: %d client(s) on %s\n", tool.name(), count,
                         qPrintable(bridge.url()));
        });
        std::fprintf(stderr, "%s: sharing on %s\n", tool.name(), qPrintable(bridge.url()));
    }

    QTimer progress;
    if (::isatty(STDERR_FILENO)) {
        QObject::connect(&progress, &QTimer::timeout, &app, [&] { writeProgress(session); });
        progress.start(250);
    }

    QElapsedTimer clock;
    clock.start();
    // Opens as the window does for the model; the handshake runs in the
    // event loop below.
    if (!sensor.open(options.port, session.baudrate()) && !openError.isEmpty())
        tool.fail(inputStatus, QStringLiteral("cannot open %1: %2").arg(options.port, openError));
    const qint64 left = static_cast<qint64>(options.seconds * 1000.0) - clock.elapsed();
    if (!stopped && (options.seconds <= 0.0 || left > 0)) {
        if (options.seconds > 0.0)
            QTimer::singleShot(static_cast<int>(left), &app, [&] { stop(0, {}); });
        app.exec();
    }

    if (sensor.isOpen())
        sensor.close();
    progress.stop();
    if (::isatty(STDERR_FILENO)) {
        writeProgress(session);
        std::fputc('\n', stderr);
    }
    if (capture.isOpen() && !capture.close() && !rawFailed) {
        status = inputStatus;
        problem = QStringLiteral("cannot write %1: %2").arg(options.saveRaw, capture.errorString());
    }
    if (raw.isOpen() && !raw.flush() && !rawFailed) {
        status = inputStatus;
        problem = QStringLiteral("cannot write %1: %2").arg(options.saveRaw, raw.errorString());
    }
    if (!session.finish())
        tool.fail(inputStatus,
                  QStringLiteral("cannot write the output: %1").arg(outputError(session)));
    if (!problem.isEmpty())
        tool.fail(status, problem);
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    std::vector<char *> originalArguments(argv, argv + argc);
    originalArguments.push_back(nullptr);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QString::fromLatin1(tool.name()));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral(
            "Decodes the byte stream of a laser range sensor with the viewer's own decoders and\n"
            "filters, without a window, and writes what the viewer would show.\n\n"
            "INPUT is a capture file (for example one written by vantoscope-sim --output or by\n"
            "--save-raw), or '-' for standard input (the default). It is fed to the decoders in\n"
            "chunks of --chunk bytes, each chunk handled as the viewer handles bytes from the "
            "port.\n"
            "With --port the tool reads a live sensor instead: it opens the port at the model's\n"
            "speed, asks for the information record, runs the start handshake for Fir and Maple,\n"
            "and decodes until interrupted (Ctrl+C) or until --seconds have passed. A progress "
            "line\n"
            "(bytes, scans, errors) goes to standard error when that is a terminal.\n\n"
            "Output 'jsonl' (default): one JSON object per line:\n"
            "  "
            "{\"event\":\"scan\",\"n\":K,\"speed\":S,\"rate\":R,\"valid\":V,\"total\":T,\"errors\":"
            "E,\n"
            "   \"points\":[[angle,distance,confidence],...]}   (Fir and Maple: no speed, errors)\n"
            "  {\"event\":\"info\",\"text\":\"v1.2.10 hw:1f\"}\n"
            "  {\"event\":\"end\",\"bytes\":B,\"scans\":S,\"errors\":E}\n"
            "A pcapng capture (written by --save-raw FILE.pcapng or the viewer's recorder; told\n"
            "by its header, also on standard input) is decoded record by record, each at its\n"
            "recorded time: the streaming models' rate is then the sensor's, the same as live.\n"
            "Other input is raw bytes without times, and there the rate, timed by the clock as\n"
            "in the viewer, follows the decoding pace rather than the sensor's.\n"
            "Output 'csv': a header line 'scan,time,angle,distance,confidence' and one row per "
            "point\n"
            "(no end-of-scan marker), as the viewer's Save scan writes; 'time' is the scan's\n"
            "ISO-8601 UTC time (recorded, or received live), empty for raw input.\n"
            "Output 'mcap' (with -o FILE): an indexed MCAP file for robotics tools, channel\n"
            "/scan (foxglove.LaserScan at the model's nominal angular step) and /points\n"
            "(foxglove.PointCloud, every point as measured), JSON-encoded, logged at each scan's\n"
            "recorded time (raw input: timed as if each byte took its time on the line).\n"
            "Angles there are radians counter-clockwise from straight ahead (the map's clockwise\n"
            "degrees negated).\n\n"
            "Editions: vantoscope-decode decodes as the full edition (Viewer) does; with\n"
            "--edition classic it runs vantoscope-decode-classic, installed next to it, which\n"
            "decodes as the earlier edition (ViewerClassic) does, with that edition's models.\n\n"
            "Exit status: 0 on success, 2 on a usage error, 1 when the input or the port cannot "
            "be\n"
            "read (or the handshake fails).\n\n"
            "Models of this edition: %1\n\n"
            "Example:\n"
            "  vantoscope-sim --model Dogwood --output room.bin -n 20\n"
            "  vantoscope-decode --model Dogwood room.bin | head -n 2")
            .arg(DecodeSession::modelNames().join(QStringLiteral(", "))));
    parser.addHelpOption();
    parser.addPositionalArgument(
        QStringLiteral("INPUT"),
        QStringLiteral("Capture file to decode, or '-' for standard input."),
        QStringLiteral("[INPUT]"));
    parser.addOptions({
        {"model", "Sensor model, as named in the viewer's model list.", "NAME"},
        {"edition", "Edition whose decoders and models to use: full (default) or classic.",
         "EDITION", "full"},
        {"no-filter", "Switch the scan filter off, as unchecking \"Enable filter\" does."},
        {"chunk", "Feed raw input in chunks of N bytes (default 512).", "N", "512"},
        {"format", "Output format: jsonl (default), csv or mcap.", "FORMAT", "jsonl"},
        {{"o", "output"}, "With --format mcap: the file to write.", "FILE"},
        {"compression", "With --format mcap: chunk compression zstd (default), lz4 or none.",
         "NAME", "zstd"},
        {"share",
         "With --port: also serve the scans to Foxglove WebSocket clients on [ADDRESS:]PORT "
         "(default 127.0.0.1:8765).",
         "[ADDRESS:]PORT"},
        {"port", "Decode the live sensor on serial port NAME instead of INPUT.", "NAME"},
        {"seconds", "With --port: stop after SECONDS (default: run until interrupted).", "SECONDS"},
        {"save-raw",
         "With --port: also record to FILE, for replaying: a pcapng capture of both directions "
         "with their times when FILE ends in .pcapng, otherwise the received bytes only.",
         "FILE"},
    });

    if (!parser.parse(QCoreApplication::arguments()))
        tool.usageError(parser.errorText());
    const QString edition = parser.value(QStringLiteral("edition"));
    tool.dispatchEdition(edition, originalArguments);
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }

    const QString knownModels = DecodeSession::modelNames().join(QStringLiteral(", "));
    if (!parser.isSet(QStringLiteral("model")))
        tool.usageError(QStringLiteral("--model is required; known models: %1").arg(knownModels));
    const QString model = DecodeSession::canonicalName(parser.value(QStringLiteral("model")));
    if (model.isEmpty())
        tool.usageError(QStringLiteral("unknown model '%1'; known models: %2")
                            .arg(parser.value(QStringLiteral("model")), knownModels));

    const QString format = parser.value(QStringLiteral("format"));
    const bool mcap = format == QLatin1String("mcap");
    if (format != QLatin1String("jsonl") && format != QLatin1String("csv") && !mcap)
        tool.usageError(QStringLiteral("--format takes jsonl, csv or mcap, not '%1'").arg(format));
    McapWriter::Compression compression = McapWriter::Compression::None;
    const QString compressionName = parser.value(QStringLiteral("compression"));
    if (compressionName == QLatin1String("zstd"))
        compression = McapWriter::Compression::Zstd;
    else if (compressionName == QLatin1String("lz4"))
        compression = McapWriter::Compression::Lz4;
    else if (compressionName != QLatin1String("none"))
        tool.usageError(
            QStringLiteral("--compression takes zstd, lz4 or none, not '%1'").arg(compressionName));
    if (mcap != parser.isSet(QStringLiteral("output")))
        tool.usageError(mcap ? QStringLiteral("--format mcap needs -o FILE")
                             : QStringLiteral("-o goes with --format mcap"));
    if (!mcap && parser.isSet(QStringLiteral("compression")))
        tool.usageError(QStringLiteral("--compression goes with --format mcap"));
    const int chunk = positiveInt(parser, QStringLiteral("chunk"), maxChunk);

    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1)
        tool.usageError(QStringLiteral("unexpected argument '%1'").arg(positional[1]));
    const bool live = parser.isSet(QStringLiteral("port"));
    LiveOptions liveOptions;
    if (live) {
        if (!positional.isEmpty())
            tool.usageError(QStringLiteral("give either --port or INPUT, not both"));
        liveOptions.port = parser.value(QStringLiteral("port"));
        liveOptions.saveRaw = parser.value(QStringLiteral("save-raw"));
        liveOptions.share = parser.isSet(QStringLiteral("share"));
        QString shareError;
        if (liveOptions.share && !ShareAddress::parse(parser.value(QStringLiteral("share")),
                                                      &liveOptions.shareAddress, &shareError))
            tool.usageError(QStringLiteral("--share: %1").arg(shareError));
        if (parser.isSet(QStringLiteral("seconds"))) {
            bool ok = false;
            liveOptions.seconds = parser.value(QStringLiteral("seconds")).toDouble(&ok);
            if (!ok || !(liveOptions.seconds > 0.0) || liveOptions.seconds > 1e6)
                tool.usageError(QStringLiteral("--seconds takes a positive number, not '%1'")
                                    .arg(parser.value(QStringLiteral("seconds"))));
        }
    } else {
        for (const char *option : {"seconds", "save-raw", "share"})
            if (parser.isSet(QString::fromLatin1(option)))
                tool.usageError(QStringLiteral("--%1 goes with --port").arg(option));
    }

    EventWriter writer(format == QLatin1String("csv") ? EventWriter::Format::Csv
                                                      : EventWriter::Format::Jsonl,
                       STDOUT_FILENO);
    DecodeSession session(model, writer);
    session.setFilterEnabled(!parser.isSet(QStringLiteral("no-filter")));
    const Models::Record *row = Models::find(model, Qt::CaseSensitive);
    ScanMcapFile mcapFile(row ? Robotics::ScanGrid::forModel(*row) : Robotics::ScanGrid());
    if (mcap) {
        const QString output = parser.value(QStringLiteral("output"));
        if (!mcapFile.open(output, compression,
                           QByteArrayLiteral("vantoscope-decode " VANTOSCOPE_VERSION)))
            tool.fail(inputStatus,
                      QStringLiteral("cannot write %1: %2").arg(output, mcapFile.errorString()));
        session.setScanFile(&mcapFile);
        // Raw input has no times: the line's pace gives the messages theirs.
        if (!live)
            session.useLineClock();
    }

    if (live) {
        writer.setFlushEachEvent(true);
        return decodeLive(app, liveOptions, session);
    }
    session.sensor().setCalibrateFromStream(true);
    // Undocumented: repeatable figures for regression tests.
    if (qEnvironmentVariableIsSet("VANTOSCOPE_DECODE_LINE_CLOCK"))
        session.useLineClock();
    decodeInput(positional.value(0, QStringLiteral("-")), chunk, session);
    if (!session.finish())
        tool.fail(inputStatus,
                  QStringLiteral("cannot write the output: %1").arg(outputError(session)));
    return 0;
}
