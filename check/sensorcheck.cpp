#include "sensorcheck.h"

#include "capture/capturereader.h"

#include <QFileInfo>

namespace {

BenchProfile withReferences(BenchProfile profile, const QVector<ReferenceTarget> &references)
{
    profile.references += references;
    return profile;
}

SensorSession &chosen(SensorSession &session, const QString &model, bool filter)
{
    session.chooseModel(model);
    session.setFilterEnabled(filter);
    return session;
}

} // namespace

SensorCheck::SensorCheck(const QString &model, const BenchProfile &profile,
                         const QVector<ReferenceTarget> &references, bool filter, QObject *parent)
    : QObject(parent), check(&chosen(sensor, model, filter), model,
                             withReferences(profile, references), SessionCheck::Timing::Published),
      modelName(model)
{
    connect(&sensor, &SensorSession::deviceLost, this, [this] {
        if (reconnect && !portPath.isEmpty())
            returnPoll.start();
    });
    returnPoll.setInterval(150);
    connect(&returnPoll, &QTimer::timeout, this, &SensorCheck::lookForPort);
}

void SensorCheck::lookForPort()
{
    // A port may be named as the serial port layer names it ("ttyUSB0").
    if (!QFileInfo::exists(portPath) && !QFileInfo::exists(QStringLiteral("/dev/") + portPath))
        return;
    // A port that is not ready yet is tried again on the next look.
    if (!sensor.open(portPath, Edition::modelChoice(modelName).baudrate))
        return;
    returnPoll.stop();
}

bool SensorCheck::openPort(const QString &portName, QString *error)
{
    check.link().live = true;
    portPath = portName;
    QString why;
    const QMetaObject::Connection refused = connect(&sensor, &SensorSession::openFailed, this,
                                                    [&why](const QString &text) { why = text; });
    check.statistics().setStart(sensor.now());
    // The whole connection sequence counts, and only when it was answered.
    if (sensor.commandProtocolSelected())
        check.timeHandshake();
    const int baudrate = Edition::modelChoice(modelName).baudrate;
    const bool opened = sensor.open(portName, baudrate);
    disconnect(refused);
    if (!opened && error)
        *error = why.isEmpty() ? QStringLiteral("the port is busy connecting") : why;
    return opened;
}

void SensorCheck::closePort()
{
    returnPoll.stop();
    if (sensor.isOpen())
        sensor.close();
    check.finish();
}

bool SensorCheck::runCapture(const QString &path, QString *error)
{
    CaptureReader reader;
    if (!reader.open(path, Edition::modelChoice(modelName).baudrate)) {
        *error = reader.errorString();
        return false;
    }
    replay(reader);
    return true;
}

bool SensorCheck::runCapture(QIODevice *device, QString *error)
{
    CaptureReader reader;
    if (!reader.open(device, Edition::modelChoice(modelName).baudrate)) {
        *error = reader.errorString();
        return false;
    }
    replay(reader);
    return true;
}

void SensorCheck::replay(CaptureReader &reader)
{
    LinkFacts &facts = check.link();
    facts.live = false;
    facts.timestamps = reader.format() == CaptureReader::Format::Pcapng;
    qint64 recorded = 0;
    sensor.setTimeSource([&recorded] { return recorded; });
    sensor.setCalibrateFromStream(true);
    sensor.beginSource();
    CaptureRecord record;
    bool first = true;
    int losses = 0;
    bool away = false;
    while ((!cancelled || !cancelled()) && reader.readNext(record)) {
        if (first) {
            check.statistics().setStart(record.timeNs);
            first = false;
        }
        recorded = record.timeNs;
        if (reader.lineLosses().size() > losses) {
            // Live, the line came back through a new open, which starts the
            // decoders afresh.
            losses = static_cast<int>(reader.lineLosses().size());
            check.lineLost();
            sensor.beginSource();
            away = true;
        }
        if (!reader.feedsDecoders(record))
            continue;
        if (away) {
            check.lineBack();
            away = false;
        }
        facts.bytes += record.data.size();
        sensor.push(record.data);
    }
    sensor.setTimeSource(monotonicNanoseconds);
    if (facts.versionText.isEmpty())
        facts.versionText = reader.versionText();
    if (reader.damaged())
        check.setCaptureProblem(
            QStringLiteral("The capture is damaged after its last good record (%1); the "
                           "checks cover what came before.")
                .arg(reader.errorString()));
    else if (reader.truncated())
        check.setCaptureProblem(
            QStringLiteral("The capture was cut off; the checks cover its whole records."));
    check.finish();
}
