// vantoscope-sim: plays a sensor at the far end of a pseudo-terminal, or
// writes its byte stream to a file.
#include "capture/capturereader.h"
#include "capture/capturewriter.h"
#include "ptysensor.h"
#include "sensorsim.h"
#include "simmodels.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>
#include <cstdio>

namespace {

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

[[noreturn]] void usageError(const QString &message)
{
    err() << "vantoscope-sim: " << message << "\n"
          << "Try 'vantoscope-sim --help' for more information.\n";
    err().flush();
    std::exit(2);
}

double rateOption(const QCommandLineParser &parser, const QString &name)
{
    if (!parser.isSet(name))
        return 0.0;
    bool ok = false;
    const double value = parser.value(name).toDouble(&ok);
    if (!ok || value < 0.0 || value > 1.0)
        usageError(QStringLiteral("--%1 takes a probability from 0 to 1, not '%2'")
                       .arg(name, parser.value(name)));
    return value;
}

// Bytes per second the model sends, from two seconds of its stream.
double bytesPerSecond(const SimModel &model)
{
    SensorSim sim(model, 1, SimFaults(), SimIdentity());
    CapturePlan plan;
    plan.seconds = 2.0;
    qint64 bytes = 0;
    sim.capture(plan, [&bytes](const QByteArray &chunk, double) {
        bytes += chunk.size();
        return true;
    });
    return bytes / plan.seconds;
}

// Raises the model's point or frame rate until its stream takes 95 % of the
// line (10 bits a byte). Twice, since packet overhead does not scale.
void fillLine(SimModel &model)
{
    const double line = 0.95 * model.baudrate / 10.0;
    for (int pass = 0; pass < 2; ++pass) {
        const double factor = line / bytesPerSecond(model);
        if (model.commandProtocol())
            model.frameHz *= factor;
        else
            model.samplesPerSecond = int(model.samplesPerSecond * factor);
    }
}

double positiveOption(const QCommandLineParser &parser, const QString &name, double fallback)
{
    if (!parser.isSet(name))
        return fallback;
    bool ok = false;
    const double value = parser.value(name).toDouble(&ok);
    if (!ok || value <= 0.0)
        usageError(
            QStringLiteral("--%1 takes a positive number, not '%2'").arg(name, parser.value(name)));
    return value;
}

double rangeOption(const QCommandLineParser &parser, const QString &name, double low, double high,
                   double fallback)
{
    if (!parser.isSet(name))
        return fallback;
    bool ok = false;
    const double value = parser.value(name).toDouble(&ok);
    if (!ok || !(value >= low && value <= high))
        usageError(QStringLiteral("--%1 takes a number from %2 to %3, not '%4'")
                       .arg(name)
                       .arg(low)
                       .arg(high)
                       .arg(parser.value(name)));
    return value;
}

// Stream time 0 of a timestamped capture: 2026-01-01T00:00:00Z, so the same
// options give the same file.
constexpr qint64 captureBaseNs = 1767225600LL * 1000000000LL;
// Timestamped captures come in chunks of 1 ms of stream time, about a frame
// each, so the recorded times place every scan as closely as a port would.
constexpr double captureStep = 0.001;

// Writes the capture to `name`: a pcapng capture when it ends in .pcapng,
// raw bytes otherwise. Returns the exit status.
int writeOutput(SensorSim &sim, const SimModel &model, const CapturePlan &plan, const QString &name)
{
    const auto cannotWrite = [&name](const QString &why) {
        err() << "vantoscope-sim: cannot write " << name << ": " << why << "\n";
        return 1;
    };
    if (name.endsWith(QLatin1String(".pcapng"), Qt::CaseInsensitive)) {
        CaptureMetadata metadata;
        metadata.application = QStringLiteral("vantoscope-sim %1").arg(VANTOSCOPE_VERSION);
        metadata.comment = QStringLiteral("simulated");
        metadata.edition = QStringLiteral("full");
        metadata.model = model.name;
        metadata.baudrate = model.baudrate;
        CaptureWriter writer;
        if (!writer.open(name, metadata))
            return cannotWrite(writer.errorString());
        writer.setVersionText(sim.versionText());
        CapturePlan timed = plan;
        timed.step = captureStep;
        const bool written = sim.capture(timed, [&writer](const QByteArray &bytes, double t) {
            return writer.append(CaptureDirection::Inbound, bytes,
                                 captureBaseNs + std::llround(t * 1e9));
        });
        if (!writer.close() || !written)
            return cannotWrite(writer.errorString());
        return 0;
    }
    QFile file;
    const bool opened = name == "-" ? file.open(stdout, QIODevice::WriteOnly)
                                    : (file.setFileName(name), file.open(QIODevice::WriteOnly));
    if (!opened)
        return cannotWrite(file.errorString());
    const bool written = sim.capture(plan, [&file](const QByteArray &bytes, double) {
        return file.write(bytes) == bytes.size();
    });
    if (!written || !file.flush())
        return cannotWrite(file.errorString());
    return 0;
}

uint32_t parseFirmware(const QString &text)
{
    const QStringList parts = text.split('.');
    bool ok1 = false, ok2 = false, ok3 = false;
    if (parts.size() == 3) {
        const uint major = parts[0].toUInt(&ok1), minor = parts[1].toUInt(&ok2),
                   patch = parts[2].toUInt(&ok3);
        if (ok1 && ok2 && ok3 && major < 256 && minor < 256 && patch < 65536)
            return major << 24 | minor << 16 | patch;
    }
    usageError(QStringLiteral("--firmware takes MAJOR.MINOR.PATCH (for example 1.2.10), not '%1'")
                   .arg(text));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vantoscope-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulates a rotating laser range sensor at the far end of a serial line.\n\n"
        "By default it opens a pseudo-terminal, prints its device path (\"port: PATH\") and then\n"
        "behaves like the chosen sensor model: it streams a synthetic room with a moving\n"
        "object in the model's wire format at the model's rotation and line speed, answers the\n"
        "information request, and for the command-protocol models (Fir, Maple) answers the\n"
        "start handshake and streams sample frames between the start and the stop command.\n"
        "Point the viewer at the printed port (VANTOSCOPE_EXTRA_PORTS=PATH adds it to the\n"
        "port list) and press Start.\n\n"
        "The room: walls straight ahead (0 degrees) at 2300 mm, at 90 degrees at 3600 mm, at\n"
        "180 degrees at 1700 mm and at 270 degrees at 2400 mm (angles clockwise), with a few\n"
        "fixed objects off those directions and a person walking across the room 1300 mm\n"
        "ahead (--static leaves the person out). Fir and Maple see the room scaled by 0.19\n"
        "and 0.4: straight ahead is 437 mm and 920 mm for them.\n"
        "Distances carry noise of about 4 mm + 0.2 % of the distance (Fir, Maple: 1 mm),\n"
        "standard deviation, and are cut to whole millimetres; about 3 % of the points come\n"
        "back without a return."));
    parser.addHelpOption();
    parser.addOptions({
        {{"m", "model"}, "Sensor model to play (default Alder; see --list).", "NAME", "Alder"},
        {"list", "List the models with their line speed and wire format, then exit."},
        {{"o", "output"},
         "Write the byte stream of --scans scans (or --seconds) to FILE ('-' for standard "
         "output) instead of opening a pseudo-terminal. A FILE ending in .pcapng becomes a "
         "capture with times: chunks of 1 ms of stream time, timed from "
         "2026-01-01T00:00:00Z, as the viewer records them. Any other FILE gets the raw bytes.",
         "FILE"},
        {{"n", "scans"}, "Number of scans written by --output (default 10).", "N", "10"},
        {"seconds", "With --output: write SECONDS of stream time instead of a number of scans.",
         "SECONDS"},
        {"seed", "Seed of the random generator, for repeatable streams (default 1).", "N", "1"},
        {"firmware", "Firmware version in the information reply (default 1.2.10).", "X.Y.Z",
         "1.2.10"},
        {"hardware", "Hardware version in the information reply, hexadecimal (default 1f).", "HEX",
         "1f"},
        {"garbage-rate", "Chance per frame of random bytes before it (0..1).", "P"},
        {"corrupt-rate", "Chance per frame of a damaged byte, failing its checksum (0..1).", "P"},
        {"drop-rate", "Chance per frame of losing some of its bytes (0..1).", "P"},
        {"fault-period",
         "Make the faults above for SECONDS, then none for SECONDS, and so on. "
         "At the end of each fault-free stretch print 'clean FIRST LAST COUNT "
         "FROM TO': scans FIRST to LAST (COUNT of them) were sent whole inside "
         "it, and scans FIRST-1 and LAST were sent completely at FROM and TO "
         "(CLOCK_MONOTONIC nanoseconds), each at least 3/4 of a scan apart from the "
         "scan after it.",
         "SECONDS"},
        {"no-handshake", "Never answer the calibration request (or, for Fir and Maple, the "
                         "information request): the handshake fails."},
        {"frame-rate", "Fir and Maple: sample frames per second (default 15).", "HZ"},
        {"fill-line", "Send as fast as the line speed allows (95 % of it): more points per "
                      "revolution at the same rotation speed, or for Fir and Maple more frames "
                      "per second; for load measurements."},
        {"range-noise",
         "Gaussian noise of standard deviation MM millimetres on every distance, in place of "
         "the built-in noise (0: none; distances are still cut to whole millimetres).",
         "MM"},
        {"speed-jitter",
         "Draw the rotation speed of each revolution from a normal distribution around the "
         "model's speed with a standard deviation of PERCENT % (at most 4 of them away, "
         "0..25). Samples keep their rate, so scan intervals vary alike; the frames carry "
         "their revolution's speed. Fir and Maple: each frame interval varies so.",
         "PERCENT"},
        {"dropout",
         "Chance per point of coming back without a return (distance 0, "
         "confidence 0), on top of the built-in 3 % (0..1).",
         "P"},
        {"static", "Leave the walking person out of the room; the rest stays."},
        {"report-scans", "Print 'scan K NANOSECONDS' (CLOCK_MONOTONIC) when scan K has been "
                         "sent completely; for latency measurements."},
        {"reply-delay", "Answer commands only after SECONDS, as a slow sensor does.", "SECONDS"},
        {"disconnect-after", "Close the pseudo-terminal after SECONDS, as a pulled cable does.",
         "SECONDS"},
        {"replay",
         "Play the capture FILE onto the pseudo-terminal instead of simulating: a "
         "pcapng capture at its recorded pace (what it received only), any other "
         "file as raw bytes at the model's line speed.",
         "FILE"},
        {"speed", "With --replay: play FACTOR times faster (default 1).", "FACTOR"},
        {"loop", "With --replay: start again at the end of the file."},
    });
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        usageError(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments()[0]));

    QTextStream out(stdout);
    if (parser.isSet("list")) {
        const char *formats[] = {"47-byte frames", "36-byte frames", "variable packets",
                                 "command protocol", "command protocol, zoned"};
        for (const SimModel &m : simModels())
            out << qSetFieldWidth(10) << Qt::left << m.name << qSetFieldWidth(0) << m.baudrate
                << " baud, " << formats[static_cast<int>(m.format)]
                << (m.commandProtocol() ? QStringLiteral(", %1 frames/s").arg(m.frameHz)
                                        : QStringLiteral(", %1 rev/s").arg(m.rotationHz))
                << (m.inClassic ? "" : " (full edition only)") << "\n";
        return 0;
    }

    const SimModel *found = findSimModel(parser.value("model"));
    if (!found) {
        QStringList names;
        for (const SimModel &m : simModels())
            names << m.name;
        usageError(QStringLiteral("unknown model '%1'; known models: %2")
                       .arg(parser.value("model"), names.join(", ")));
    }
    SimModel chosen = *found;
    if (parser.isSet("frame-rate")) {
        if (!chosen.commandProtocol())
            usageError(
                QStringLiteral("--frame-rate is for the command-protocol models (Fir, Maple)"));
        chosen.frameHz = positiveOption(parser, "frame-rate", chosen.frameHz);
    }
    if (parser.isSet("fill-line")) {
        if (parser.isSet("frame-rate"))
            usageError(QStringLiteral("give either --fill-line or --frame-rate, not both"));
        fillLine(chosen);
    }
    const SimModel *model = &chosen;
    bool ok = false;
    const uint32_t seed = parser.value("seed").toUInt(&ok);
    if (!ok)
        usageError(
            QStringLiteral("--seed takes a whole number, not '%1'").arg(parser.value("seed")));
    SimIdentity identity;
    identity.firmwareWord = parseFirmware(parser.value("firmware"));
    identity.hardwareVersion = parser.value("hardware").toUInt(&ok, 16);
    if (!ok)
        usageError(QStringLiteral("--hardware takes a hexadecimal number, not '%1'")
                       .arg(parser.value("hardware")));
    SimFaults faults;
    faults.garbageRate = rateOption(parser, "garbage-rate");
    faults.corruptRate = rateOption(parser, "corrupt-rate");
    faults.dropRate = rateOption(parser, "drop-rate");
    faults.silentHandshake = parser.isSet("no-handshake");
    faults.period = positiveOption(parser, "fault-period", 0.0);
    faults.rangeNoise = rangeOption(parser, "range-noise", 0.0, 10000.0, -1.0);
    faults.speedJitter = rangeOption(parser, "speed-jitter", 0.0, 25.0, 0.0);
    faults.dropout = rateOption(parser, "dropout");
    faults.staticScene = parser.isSet("static");

    if (parser.isSet("output")) {
        CapturePlan plan;
        plan.scans = parser.value("scans").toInt(&ok);
        if (!ok || plan.scans < 1)
            usageError(QStringLiteral("--scans takes a positive whole number, not '%1'")
                           .arg(parser.value("scans")));
        if (parser.isSet("seconds")) {
            if (parser.isSet("scans"))
                usageError(QStringLiteral("give either --scans or --seconds, not both"));
            plan.seconds = rangeOption(parser, "seconds", 0.001, 1e6, 0.0);
        }
        SensorSim sim(*model, seed, faults, identity);
        return writeOutput(sim, *model, plan, parser.value("output"));
    }
    if (parser.isSet("seconds"))
        usageError(QStringLiteral("--seconds goes with --output"));

    PtySensor::Options options;
    options.disconnectAfter = positiveOption(parser, "disconnect-after", 0.0);
    options.replyDelay = positiveOption(parser, "reply-delay", 0.0);
    options.reportScans = parser.isSet("report-scans");
    options.reportStretches = faults.period > 0;
    if (parser.isSet("replay")) {
        QFile file(parser.value("replay"));
        if (!file.open(QIODevice::ReadOnly)) {
            err() << "vantoscope-sim: cannot read " << file.fileName() << ": " << file.errorString()
                  << "\n";
            return 1;
        }
        // A pcapng capture plays at its recorded pace, record by record;
        // other files are raw bytes, paced by the line speed.
        if (CaptureReader::isPcapng(file.peek(4)))
            options.replayCapture = file.fileName();
        else
            options.replay = file.readAll();
        options.replaySpeed = positiveOption(parser, "speed", 1.0);
        options.loop = parser.isSet("loop");
    } else if (parser.isSet("speed") || parser.isSet("loop")) {
        usageError(QStringLiteral("--speed and --loop go with --replay"));
    }

    PtySensor sensor(*model, SensorSim(*model, seed, faults, identity), options);
    QString error;
    if (!sensor.start(&error)) {
        err() << "vantoscope-sim: " << error << "\n";
        return 1;
    }
    return app.exec();
}
