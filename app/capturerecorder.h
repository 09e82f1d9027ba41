#ifndef VANTOSCOPE_CAPTURERECORDER_H
#define VANTOSCOPE_CAPTURERECORDER_H

#include "capture/capturewriter.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

// The window's recording: one capture file at a time in a folder, named
// after the model and the local time it started. Reports its file and size
// about once a second, and a write that fails once, after which it has
// stopped.
class CaptureRecorder : public QObject
{
    Q_OBJECT
public:
    explicit CaptureRecorder(QObject *parent = nullptr);
    ~CaptureRecorder() override;

    // "MODEL-YYYYMMDD-HHMMSS.pcapng" in `folder`, with "-2", "-3"… added
    // while that name is taken.
    static QString freeFileName(const QString &folder, const QString &model,
                                const QDateTime &started);

    // Creates the folder when needed and opens a new capture in it; false
    // with errorString() (and the file it tried in path()) when it cannot.
    bool start(const QString &folder, const CaptureMetadata &metadata);
    void append(CaptureDirection direction, const QByteArray &chunk);
    void setVersionText(const QString &text);
    // Notes in the capture that the line was lost now; recording goes on.
    void noteLineLost();
    // Closes the file; false when the last write failed (see failed()).
    bool finish();

    bool recording() const { return writer != nullptr; }
    QString path() const { return filePath; }
    QString errorString() const { return error; }
    // "Recording NAME (SIZE)" while recording, "Recorded NAME (SIZE)" after.
    QString statusText() const;

signals:
    void statusChanged(const QString &text);
    // The capture could not be written; recording has stopped.
    void failed(const QString &path, const QString &reason);

private:
    void writerFailed(const QString &reason);

    CaptureWriter *writer = nullptr;
    QTimer statusTimer;
    QString filePath;
    QString error;
};

#endif
