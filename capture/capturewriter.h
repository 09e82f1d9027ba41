#ifndef VANTOSCOPE_CAPTURE_CAPTUREWRITER_H
#define VANTOSCOPE_CAPTURE_CAPTUREWRITER_H

#include "capturerecord.h"

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QTimer>

// Records the chunks read from and written to the port as a pcapng capture
// (docs/capture-format.md). Data reaches the disk at least once a second and
// on close(), so a recording cut short by a crash keeps all but the last
// second. The first failed write ends the recording: failed() carries the
// reason and every later call is refused.
class CaptureWriter : public QObject
{
    Q_OBJECT
public:
    explicit CaptureWriter(QObject *parent = nullptr);
    ~CaptureWriter() override;

    // Creates (or replaces) `path` and writes the section and interface
    // headers; false with errorString() on failure.
    bool open(const QString &path, const CaptureMetadata &metadata);
    bool isOpen() const { return file.isOpen(); }
    QString errorString() const { return error; }

    // `timeNs` is wall-clock time since the epoch (epochNanoseconds()).
    bool append(CaptureDirection direction, const QByteArray &chunk, qint64 timeNs);
    // Notes that the line was lost at `timeNs`, as a comment on a record
    // without bytes: readers pass it over, and a replay's time jumps the gap.
    bool noteLineLost(qint64 timeNs);
    // The sensor's version text, stored with the next record.
    void setVersionText(const QString &text);
    // Writes what is pending and closes; false when that failed.
    bool close();

    qint64 records() const { return recordCount; }

signals:
    void failed(const QString &error);

private:
    bool flush();
    bool fail(const QString &reason);

    QFile file;
    QByteArray pending;
    QString versionPending;
    QString notePending;
    QString error;
    QTimer flushTimer;
    QElapsedTimer sinceFlush;
    qint64 lastTime = 0;
    qint64 recordCount = 0;
};

#endif
