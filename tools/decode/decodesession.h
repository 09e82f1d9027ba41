#ifndef VANTOSCOPE_DECODE_DECODESESSION_H
#define VANTOSCOPE_DECODE_DECODESESSION_H

#include "eventwriter.h"
#include "session/sensorsession.h"

#include <QObject>
#include <cstdint>

class ScanMcapFile;

// A sensor session whose published scans and information records are
// written out as events, with the counts the end event carries, or whose
// scans go to an MCAP file.
class DecodeSession : public QObject
{
    Q_OBJECT
public:
    // `model` must be one of modelNames().
    DecodeSession(const QString &model, EventWriter &writer, QObject *parent = nullptr);

    static QStringList modelNames();
    // The listed name matching `name` without regard to case, or an empty string.
    static QString canonicalName(const QString &name);

    SensorSession &sensor() { return session; }
    int baudrate() const { return speed; }
    QString model() const { return modelName; }

    // Scans go to `file` (open) instead of the events, which are not
    // written then; finish() closes it.
    void setScanFile(ScanMcapFile *file) { scanFile = file; }

    // As "Enable filter" in the window.
    void setFilterEnabled(bool enabled);
    // Times the decoders by the position in the stream, as if every byte
    // took its time on the line at the model's speed, instead of by the
    // clock; the figures of a file then repeat exactly from run to run.
    void useLineClock();
    // Times the decoders by the recorded times of a capture's records,
    // given with pushRecorded(), so the figures are the sensor's own.
    void useRecordedClock();

    // One chunk of received bytes, routed as the port's are.
    void push(const QByteArray &chunk);
    void pushRecorded(const QByteArray &chunk, qint64 timeNs);

    int64_t bytes() const { return byteCount; }
    int scans() const { return scanCount; }
    // Packet errors (always 0 for the command protocol).
    int errors() const;
    // Writes the end event and flushes (or closes the MCAP file); false when
    // the output failed.
    bool finish();
    // Why the MCAP file failed; empty without one.
    QString fileError() const;

private:
    void writeScan(const SensorScan &scan);

    EventWriter &writer;
    ScanMcapFile *scanFile = nullptr;
    SensorSession session;
    QString modelName;
    int speed = 0;
    int64_t byteCount = 0;
    qint64 recordedTime = 0;
    int scanCount = 0;
};

#endif
