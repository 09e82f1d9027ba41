#include "capturerecorder.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>

CaptureRecorder::CaptureRecorder(QObject *parent) : QObject(parent)
{
    statusTimer.setInterval(1000);
    connect(&statusTimer, &QTimer::timeout, this, [this] { emit statusChanged(statusText()); });
}

CaptureRecorder::~CaptureRecorder()
{
    finish();
}

QString CaptureRecorder::freeFileName(const QString &folder, const QString &model,
                                      const QDateTime &started)
{
    const QDir dir(folder);
    const QString stem = model + started.toString(QStringLiteral("-yyyyMMdd-HHmmss"));
    QString name = stem + QStringLiteral(".pcapng");
    for (int n = 2; dir.exists(name); ++n)
        name = stem + QStringLiteral("-%1.pcapng").arg(n);
    return dir.filePath(name);
}

bool CaptureRecorder::start(const QString &folder, const CaptureMetadata &metadata)
{
    finish();
    error.clear();
    filePath = freeFileName(folder, metadata.model, QDateTime::currentDateTime());
    if (!QDir().mkpath(folder)) {
        error = tr("Cannot create the folder %1.").arg(QDir::toNativeSeparators(folder));
        return false;
    }
    auto *opened = new CaptureWriter(this);
    if (!opened->open(filePath, metadata)) {
        error = opened->errorString();
        delete opened;
        return false;
    }
    writer = opened;
    connect(writer, &CaptureWriter::failed, this, &CaptureRecorder::writerFailed);
    statusTimer.start();
    emit statusChanged(statusText());
    return true;
}

void CaptureRecorder::append(CaptureDirection direction, const QByteArray &chunk)
{
    if (writer)
        writer->append(direction, chunk, epochNanoseconds());
}

void CaptureRecorder::setVersionText(const QString &text)
{
    if (writer)
        writer->setVersionText(text);
}

void CaptureRecorder::noteLineLost()
{
    if (writer)
        writer->noteLineLost(epochNanoseconds());
}

bool CaptureRecorder::finish()
{
    if (!writer)
        return error.isEmpty();
    statusTimer.stop();
    CaptureWriter *closing = writer;
    writer = nullptr;
    closing->disconnect(this);
    const bool written = closing->close();
    if (!written)
        error = closing->errorString();
    // It may be the one reporting a failure right now.
    closing->deleteLater();
    emit statusChanged(statusText());
    return written;
}

QString CaptureRecorder::statusText() const
{
    if (filePath.isEmpty())
        return QString();
    const QFileInfo info(filePath);
    const QString size = QLocale::system().formattedDataSize(info.size());
    return (writer ? tr("Recording %1 (%2)") : tr("Recorded %1 (%2)")).arg(info.fileName(), size);
}

void CaptureRecorder::writerFailed(const QString &reason)
{
    error = reason;
    // The writer refuses everything from now on; close what it has.
    finish();
    emit failed(filePath, reason);
}
