#ifndef VANTOSCOPE_CAPTURE_CAPTURERECORD_H
#define VANTOSCOPE_CAPTURE_CAPTURERECORD_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <chrono>

enum class CaptureDirection
{
    Inbound = 1,  // from the sensor
    Outbound = 2, // to the sensor
};

// What a capture says about the line it was taken on.
struct CaptureMetadata
{
    QString application; // the recording program and its version
    QString comment;
    QString edition; // "full" or "classic"
    QString model;
    QString portName;
    int baudrate = 0;
};

// One chunk as it was read from or written to the port.
struct CaptureRecord
{
    CaptureDirection direction = CaptureDirection::Inbound;
    qint64 timeNs = 0; // nanoseconds since the epoch (raw files: since the start)
    int interface = 0; // index into CaptureReader::interfaces()
    QByteArray data;
};

// The wall clock that recorded times are taken on.
inline qint64 epochNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

#endif
