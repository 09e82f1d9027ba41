#ifndef VANTOSCOPE_DECODE_EVENTWRITER_H
#define VANTOSCOPE_DECODE_EVENTWRITER_H

#include "points/sensorscan.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <string>

// Writes decoder events as JSON lines, or scans as the CSV rows Save scan
// writes too (scanexport), to a file descriptor, buffered. A write failure is remembered and
// reported by flush().
class EventWriter
{
public:
    enum class Format
    {
        Jsonl,
        Csv
    };

    EventWriter(Format format, int fd);
    EventWriter(const EventWriter &) = delete;
    EventWriter &operator=(const EventWriter &) = delete;

    // Flush after every event, for readers that follow a live decode.
    void setFlushEachEvent(bool value) { flushEachEvent = value; }

    void scan(int n, const SensorScan &scan);
    void info(const QString &text);
    void end(int64_t bytes, int scans, int errors);
    // Writes out what is buffered; false once any write has failed.
    bool flush();

private:
    void eventDone();
    void number(double value);
    void number(int64_t value);

    Format format;
    int fd;
    bool flushEachEvent = false;
    bool failed = false;
    std::string buffer;
    QByteArray csvRows;
};

// A number as JSON writes it: the shortest text that reads back as the same
// double, integral values without a fraction, and null when not finite.
std::string jsonNumber(double value);

#endif
