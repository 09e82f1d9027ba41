#include "sensorcheck.h"

#include "capture/capturereader.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <memory>

SensorCheck::SensorCheck(const QString &model, const BenchProfile &profile,
                         const QVector<ReferenceTarget> &references, bool filter, QObject *parent)
    : QObject(parent), limits(profile),
      stats(profile.nominalScanHz, profile.commandProtocol, references), modelName(model)
{
    stats.setFieldOfView(profile.fanCentre, profile.fanWidth);
    sensor.chooseModel(model);
    sensor.setFilterEnabled(filter);
    connect(&sensor, &SensorSession::scanReady, this,
            [this](const SensorScan &scan) { stats.add(scan); });
    connect(&sensor, &SensorSession::versionText, this,
            [this](const QString &text) { facts.versionText = text; });
    connect(&sensor, &SensorSession::received, this,
            [this](const QByteArray &chunk) { facts.bytes += chunk.size(); });
    connect(&sensor, &SensorSession::deviceLost, this, &SensorCheck::lineLost);
    returnPoll.setInterval(150);
    connect(&returnPoll, &QTimer::timeout, this, &SensorCheck::lookForPort);
}

void SensorCheck::lineLost()
{
    lost = true;
    ++losses;
    stats.lineLost();
    if (reconnect && !portPath.isEmpty())
        returnPoll.start();
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
    ++reconnectCount;
}

bool SensorCheck::openPort(const QString &portName, QString *error)
{
    facts.live = true;
    portPath = portName;
    facts.handshakeExpected = sensor.commandProtocolSelected();
    QString why;
    const QMetaObject::Connection refused = connect(&sensor, &SensorSession::openFailed, this,
                                                    [&why](const QString &text) { why = text; });
    stats.setStart(sensor.now());
    if (facts.handshakeExpected) {
        // The whole connection sequence counts, and only when it was answered.
        auto handshake = std::make_shared<QElapsedTimer>();
        handshake->start();
        connect(&sensor, &SensorSession::handshakeFailed, this,
                [handshake] { handshake->invalidate(); });
        connect(&sensor, &SensorSession::handshakeFinished, this, [this, handshake] {
            if (handshake->isValid())
                facts.handshakeMs = handshake->nsecsElapsed() / 1e6;
            // A reconnection's handshake is not timed from the first open.
            handshake->invalidate();
        });
    }
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
    stats.setAcceptedFrames(sensor.acceptedFrames());
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
    facts.live = false;
    facts.timestamps = reader.format() == CaptureReader::Format::Pcapng;
    qint64 recorded = 0;
    sensor.setTimeSource([&recorded] { return recorded; });
    sensor.setCalibrateFromStream(true);
    sensor.beginSource();
    CaptureRecord record;
    bool first = true;
    while (reader.readNext(record)) {
        if (first) {
            stats.setStart(record.timeNs);
            first = false;
        }
        recorded = record.timeNs;
        if (!reader.feedsDecoders(record))
            continue;
        facts.bytes += record.data.size();
        sensor.push(record.data);
    }
    sensor.setTimeSource(monotonicNanoseconds);
    if (facts.versionText.isEmpty())
        facts.versionText = reader.versionText();
    if (reader.damaged())
        problem = QStringLiteral("The capture is damaged after its last good record (%1); the "
                                 "checks cover what came before.")
                      .arg(reader.errorString());
    else if (reader.truncated())
        problem = QStringLiteral("The capture was cut off; the checks cover its whole records.");
    stats.setAcceptedFrames(sensor.acceptedFrames());
}

CheckReport SensorCheck::report() const
{
    CheckReport r = evaluate(stats, facts, limits);
    r.model = modelName;
    r.filtered = sensor.filterEnabled();
    r.notes.prepend(r.filtered
                        ? QStringLiteral("The checks ran on the points after the viewer's "
                                         "filter stage (--filter), as the window shows them.")
                        : QStringLiteral("The checks ran on the points before the filter "
                                         "stage: the sensor's own output."));
    if (!problem.isEmpty())
        r.notes.prepend(problem);
    if (lost && reconnectCount > 0)
        r.notes.prepend(QStringLiteral("The line was lost %1 time(s) and reconnected %2 time(s); "
                                       "each outage counts as a stall.")
                            .arg(losses)
                            .arg(reconnectCount));
    else if (lost)
        r.notes.prepend(QStringLiteral("The sensor was lost (the cable pulled?) before the end."));
    return r;
}
