#include "fuzzdriver.h"
#include "bridge/bridgeprotocol.h"
#include "capture/capturereader.h"

#include "check/benchprofile.h"
#include "check/reportwriters.h"
#include "check/sensorcheck.h"
#include "debugpkg/debugpkg.h"
#include "editions/edition.h"
#include "editions/modelrules.h"
#include "editions/modeltable.h"
#include "invariants.h"
#include "lipkg/lipkg.h"
#include "trnet/qtrnet.h"

#include <QBuffer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace FuzzDriver {

namespace {

struct StreamModel
{
    QString name;
    int modelType;
    int filterVariant;
};

// The streaming models this edition knows, with the type code and filter
// variant LiPkg works with when each is chosen after start-up as in the
// window.
const QVector<StreamModel> &streamModels()
{
    static const QVector<StreamModel> models = [] {
        QVector<StreamModel> list;
        for (const QString &name : Edition::modelNames()) {
            const Edition::ModelChoice choice = Edition::choiceAfterStartUp(name);
            if (!Edition::usesCommandProtocol(choice.decoderKind))
                list.push_back({name, *choice.modelType, *choice.filterVariant});
        }
        return list;
    }();
    return models;
}

const StreamModel &streamModel(int index)
{
    return streamModels()[static_cast<int>(static_cast<unsigned>(index) %
                                           static_cast<unsigned>(streamModels().size()))];
}

int streamModelCount()
{
    return streamModels().size();
}

[[noreturn]] void broken(const char *invariant)
{
    std::fprintf(stderr, "Invariant broken: %s\n", invariant);
    std::fflush(stderr);
    std::abort();
}

void require(const char *invariant)
{
    if (invariant)
        broken(invariant);
}

// Hands out the stream in chunks, `repeat` times over.
class Feeder
{
public:
    Feeder(const uint8_t *stream, size_t size, uint8_t pattern, int repeat)
        : stream(reinterpret_cast<const char *>(stream)), size(static_cast<int>(size)),
          pattern(pattern), repeat(size == 0 ? 0 : repeat)
    {
    }

    bool next(QByteArray &chunk)
    {
        if (pass == repeat)
            return false;
        const int take = std::min(chunkSize(pattern, count++), size - offset);
        chunk = QByteArray(stream + offset, take);
        offset += take;
        if (offset == size) {
            offset = 0;
            ++pass;
        }
        return true;
    }
    // Whether at least half of all the bytes to be pushed have been handed out.
    bool halfway() const { return 2 * (pass * size + offset) >= repeat * size; }

private:
    const char *stream;
    int size;
    uint8_t pattern;
    int repeat;
    int pass = 0;
    int offset = 0;
    int count = 0;
};

// Mostly a few passes; sometimes enough to push the decoders' state to its
// caps (16 passes of the longest input exceed LiPkg's pending points and
// QTRNet's buffer slack).
int repeatCount(uint8_t control)
{
    static constexpr int counts[] = {1, 2, 4, 16};
    return counts[control & 3];
}

uint8_t byteAt(const uint8_t *data, size_t size, size_t index)
{
    return index < size ? data[index] : 0;
}

} // namespace

int chunkSize(uint8_t pattern, int k)
{
    // Single bytes, a few bytes, about a frame, and more than a whole
    // receive buffer of the stream decoder.
    static constexpr int sizes[] = {1, 13, 300, 5000};
    return sizes[(pattern >> (2 * (k % 4))) & 3];
}

Outcome runLiPkg(const uint8_t *data, size_t size)
{
    constexpr size_t control = 4;
    const uint8_t modelByte = byteAt(data, size, 0);
    const uint8_t options = byteAt(data, size, 1);
    const uint8_t pattern = byteAt(data, size, 2);
    const int repeat = repeatCount(byteAt(data, size, 3));
    const size_t streamSize = size > control ? size - control : 0;

    Outcome outcome;
    LiPkg decoder;
    const StreamModel &model = streamModel(modelByte);
    decoder.setModelType(model.modelType);
    decoder.setFilterVariant(model.filterVariant);
    decoder.setFilterEnabled((options & 1) == 0);
    QObject::connect(&decoder, &LiPkg::mapReady, [&] {
        ++outcome.scans;
        require(Invariants::checkLiPkgScan(decoder));
    });

    Feeder feeder(data + control, streamSize, pattern, repeat);
    const bool changeModel = (options & 2) != 0;
    bool changed = false;
    QByteArray chunk;
    while (feeder.next(chunk)) {
        if (changeModel && !changed && feeder.halfway()) {
            // The user picks another model while the sensor still streams.
            const StreamModel &other = streamModel(options >> 2);
            decoder.setModelType(other.modelType);
            decoder.setFilterVariant(other.filterVariant);
            changed = true;
        }
        decoder.pushData(chunk);
        ++outcome.chunks;
        require(Invariants::checkLiPkg(decoder));
    }
    return outcome;
}

Outcome runQTRNet(const uint8_t *data, size_t size)
{
    const uint8_t options = byteAt(data, size, 0);
    const uint8_t pattern = byteAt(data, size, 1);
    const int repeat = repeatCount(byteAt(data, size, 2));
    const size_t calibrationSize = byteAt(data, size, 3) % 97;
    const size_t control = std::min(size, 4 + calibrationSize);
    const size_t streamSize = size - control;

    Outcome outcome;
    QObject owner;
    auto *decoder = new QTRNet(&owner);
    const char *model = (options & 1) ? "Maple" : "Fir";
    decoder->setModelType(Models::find(QLatin1String(model), Qt::CaseSensitive)->typeCode);
    if (options & 2) {
        TRData reply;
        reply.command = QTRNet::Calibration;
        reply.payload = QByteArray(reinterpret_cast<const char *>(data) + std::min<size_t>(size, 4),
                                   static_cast<int>(control - std::min<size_t>(size, 4)));
        if (!decoder->applyCalibrationReply(reply))
            broken("QTRNet: a calibration reply is applied");
    }

    Feeder feeder(data + control, streamSize, pattern, repeat);
    const bool nested = (options & 4) != 0;
    int depth = 0;
    QObject::connect(decoder, &QTRNet::dataReady, [&](TRData *frame) {
        ++outcome.frames;
        if (!frame || frame->payload.size() > 0xFFFF)
            broken("QTRNet: dataReady carries a frame within the length field's range");
        // Bytes that arrive while a slot runs (nested event processing).
        QByteArray more;
        if (nested && depth == 0 && feeder.next(more)) {
            ++depth;
            decoder->pushData(more);
            --depth;
        }
    });
    QObject::connect(decoder, &QTRNet::mapReady, [&](const PointList &scan) {
        ++outcome.scans;
        require(Invariants::checkCommandScan(scan));
        require(Invariants::checkQTRNetScan(*decoder));
    });

    QByteArray chunk;
    while (feeder.next(chunk)) {
        decoder->pushData(chunk);
        ++outcome.chunks;
        require(Invariants::checkQTRNet(*decoder));
    }
    return outcome;
}

Outcome runDebugPkg(const uint8_t *data, size_t size)
{
    constexpr size_t control = 2;
    const uint8_t pattern = byteAt(data, size, 0);
    const int repeat = 1 + (byteAt(data, size, 1) & 63);
    const size_t streamSize = size > control ? size - control : 0;

    Outcome outcome;
    QObject owner;
    auto *decoder = new DebugPkg(&owner);
    QObject::connect(decoder, &DebugPkg::dataReady, [&] { ++outcome.frames; });

    Feeder feeder(data + control, streamSize, pattern, repeat);
    QByteArray chunk;
    while (feeder.next(chunk)) {
        decoder->pushData(chunk);
        ++outcome.chunks;
        require(Invariants::checkDebugPkg(*decoder));
    }
    return outcome;
}

namespace {

int readCaptureThrough(CaptureReader &reader, qint64 inputSize)
{
    CaptureRecord record;
    qint64 bytes = 0;
    qint64 previous = std::numeric_limits<qint64>::min();
    int records = 0;
    while (reader.readNext(record)) {
        require(Invariants::checkCaptureRecord(reader, record, previous, bytes, inputSize));
        bytes += record.data.size();
        previous = record.timeNs;
        ++records;
    }
    require(Invariants::checkCaptureEnd(reader));
    return records;
}

} // namespace

Outcome runCapture(const uint8_t *data, size_t size)
{
    QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<int>(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    Outcome outcome;
    CaptureReader reader;
    if (!reader.open(&buffer, 115200))
        return outcome;
    outcome.frames = readCaptureThrough(reader, bytes.size());
    outcome.chunks = 1;
    // A rewind starts over from a clean state: the same records again.
    if (reader.rewind()) {
        if (readCaptureThrough(reader, bytes.size()) != outcome.frames)
            broken("a rewound capture reads the same records");
        ++outcome.chunks;
    }
    return outcome;
}

Outcome runBenchCheck(const uint8_t *data, size_t size)
{
    const QStringList models = Edition::modelNames();
    const QString model = models[static_cast<int>(byteAt(data, size, 0) % models.size())];
    const uint8_t options = byteAt(data, size, 1);
    size_t control = 2;
    QVector<ReferenceTarget> references;
    if (options & 2) {
        for (int t = 0; t < 2; ++t, control += 3) {
            ReferenceTarget target;
            target.angle = byteAt(data, size, control) * 1.41;
            const int mm = byteAt(data, size, control + 1) | byteAt(data, size, control + 2) << 8;
            // The program refuses a target at no distance.
            target.distance = std::max(1, mm);
            references.append(target);
        }
    }
    control = std::min(size, control);

    Outcome outcome;
    SensorCheck check(model, BenchProfile::defaults(model), references, (options & 1) == 0);
    QObject::connect(&check.session(), &SensorSession::scanReady, [&] { ++outcome.scans; });
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data) + control,
                                               static_cast<int>(size - control));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QString error;
    if (!check.runCapture(&buffer, &error))
        return outcome;
    outcome.chunks = 1;
    outcome.frames = static_cast<int>(check.bytes());
    if (check.scans() != outcome.scans)
        broken("bench check: every published scan is counted once");

    CheckReport report = check.report();
    report.toolVersion = QStringLiteral("fuzz");
    report.edition = Edition::classic ? QStringLiteral("classic") : QStringLiteral("full");
    report.source = QStringLiteral("fuzz input");
    report.start = QDateTime::fromMSecsSinceEpoch(0, Qt::UTC);
    report.durationS = check.statistics().span();
    require(Invariants::checkBenchStatistics(check.statistics()));
    require(Invariants::checkBenchReport(report));
    require(Invariants::checkBenchReportTexts(report, textReport(report), jsonReport(report),
                                              junitReport({report})));
    return outcome;
}

Outcome runProfile(const uint8_t *data, size_t size)
{
    const QStringList models = Edition::modelNames();
    const QString model = models[static_cast<int>(byteAt(data, size, 0) % models.size())];
    const QByteArray json = QByteArray::fromRawData(reinterpret_cast<const char *>(data) + 1,
                                                    static_cast<int>(size > 0 ? size - 1 : 0));
    const BenchProfile defaults = BenchProfile::defaults(model);
    BenchProfile profile = defaults;
    QString error;
    Outcome outcome;
    outcome.chunks = 1;
    const QStringList keys = BenchProfile::keys();
    if (!profile.apply(json, &error)) {
        if (!error.startsWith(QLatin1String("line ")))
            broken("profile: a refusal names its line");
        bool unchanged = profile.minFirmware == defaults.minFirmware &&
                         profile.references.size() == defaults.references.size();
        for (const QString &key : keys)
            unchanged = unchanged && profile.limit(key).low == defaults.limit(key).low &&
                        profile.limit(key).high == defaults.limit(key).high;
        if (!unchanged)
            broken("profile: a refused profile changes nothing");
        return outcome;
    }
    outcome.scans = 1;
    outcome.frames = static_cast<int>(profile.references.size());
    for (const ReferenceTarget &t : profile.references)
        if (!std::isfinite(t.angle) || !(t.distance > 0) ||
            !(t.halfWidth > 0 && t.halfWidth <= 180))
            broken("profile: every reference has a distance and a half-width within 180°");
    if (!profile.minFirmware.isEmpty() && !compareFirmware(profile.minFirmware, "0.0.0"))
        broken("profile: a minimum firmware is a version");
    return outcome;
}

Outcome runBridgeClient(const uint8_t *data, size_t size)
{
    Outcome outcome;
    Bridge::ClientState client({1, 2});
    size_t at = 0;
    while (at + 3 <= size) {
        const bool binary = data[at] & 1;
        const size_t length = std::min<size_t>(data[at + 1] | (data[at + 2] << 8), size - at - 3);
        const QByteArray message(reinterpret_cast<const char *>(data + at + 3), int(length));
        at += 3 + length;
        ++outcome.chunks;
        const QVector<QByteArray> replies =
            binary ? client.handleBinary(message) : client.handleText(message);
        outcome.frames += replies.size();
        require(Invariants::checkBridgeClient(client, replies));
    }
    return outcome;
}

QByteArray bridgeClientInput(const QVector<std::pair<bool, QByteArray>> &messages)
{
    QByteArray input;
    for (const auto &[binary, message] : messages) {
        const int length = std::min(int(message.size()), 0xFFFF);
        input.append(char(binary ? 1 : 0));
        input.append(char(length & 0xFF));
        input.append(char(length >> 8));
        input.append(message.left(length));
    }
    return input;
}

int liPkgModelIndex(const QString &name)
{
    for (int i = 0; i < streamModelCount(); ++i)
        if (name == streamModel(i).name)
            return i;
    return -1;
}

QByteArray liPkgInput(int modelIndex, const QByteArray &stream)
{
    // Filter on, no model change, chunks of 13, 300, 1 and 300 bytes, once.
    QByteArray input;
    input.append(static_cast<char>(modelIndex));
    input.append('\0');
    input.append(static_cast<char>(0x89));
    input.append('\0');
    return input + stream;
}

QByteArray qtrNetInput(bool maple, const QByteArray &calibration, const QByteArray &stream)
{
    QByteArray input;
    input.append(static_cast<char>((maple ? 1 : 0) | (calibration.isEmpty() ? 0 : 2)));
    input.append(static_cast<char>(0x89));
    input.append('\0');
    const QByteArray cal = calibration.left(96);
    input.append(static_cast<char>(cal.size()));
    return input + cal + stream;
}

QByteArray debugPkgInput(const QByteArray &stream)
{
    QByteArray input;
    input.append(static_cast<char>(0x89));
    input.append('\0');
    return input + stream;
}

int benchCheckModelIndex(const QString &name)
{
    return static_cast<int>(Edition::modelNames().indexOf(name));
}

QByteArray benchCheckInput(int modelIndex, const QByteArray &capture)
{
    QByteArray input;
    input.append(static_cast<char>(modelIndex));
    input.append('\0');
    return input + capture;
}

} // namespace FuzzDriver
