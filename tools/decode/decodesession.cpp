#include "decodesession.h"

#include "robotics/scanmcapfile.h"

#include <algorithm>

DecodeSession::DecodeSession(const QString &model, EventWriter &writer, QObject *parent)
    : QObject(parent), writer(writer), modelName(model)
{
    speed = session.chooseModel(model).baudrate;
    connect(&session, &SensorSession::scanReady, this, &DecodeSession::writeScan);
    connect(&session, &SensorSession::versionText, this, [this](const QString &text) {
        if (!scanFile)
            this->writer.info(text);
    });
    // Bytes from the port are counted like pushed ones.
    connect(&session, &SensorSession::received, this,
            [this](const QByteArray &chunk) { byteCount += chunk.size(); });
}

QStringList DecodeSession::modelNames()
{
    return Edition::modelNames();
}

QString DecodeSession::canonicalName(const QString &name)
{
    for (const QString &known : modelNames())
        if (known.compare(name, Qt::CaseInsensitive) == 0)
            return known;
    return {};
}

void DecodeSession::setFilterEnabled(bool enabled)
{
    session.setFilterEnabled(enabled);
}

void DecodeSession::useLineClock()
{
    // Ten bits a byte on the wire: start, eight data bits, stop.
    const qint64 nsPerByte = 10'000'000'000LL / std::max(1, speed);
    session.setTimeSource([this, nsPerByte] { return byteCount * nsPerByte; });
    session.setWallClock(SensorSession::WallClock::Unknown);
}

void DecodeSession::useRecordedClock()
{
    session.setTimeSource([this] { return recordedTime; });
    session.setWallClock(SensorSession::WallClock::FromTimeSource);
}

void DecodeSession::pushRecorded(const QByteArray &chunk, qint64 timeNs)
{
    recordedTime = timeNs;
    push(chunk);
}

void DecodeSession::push(const QByteArray &chunk)
{
    byteCount += chunk.size();
    session.push(chunk);
}

int DecodeSession::errors() const
{
    return session.commandProtocolSelected() ? 0 : session.streamErrorCount();
}

bool DecodeSession::finish()
{
    if (scanFile)
        return scanFile->close();
    writer.end(byteCount, scanCount, errors());
    return writer.flush();
}

QString DecodeSession::fileError() const
{
    return scanFile ? scanFile->errorString() : QString();
}

void DecodeSession::writeScan(const SensorScan &scan)
{
    ++scanCount;
    if (scanFile)
        scanFile->add(scan);
    else
        writer.scan(scanCount, scan);
}
