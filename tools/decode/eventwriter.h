#ifndef VANTOSCOPE_DECODE_EVENTWRITER_H
#define VANTOSCOPE_DECODE_EVENTWRITER_H

#include "points/pointdata.h"

#include <QList>
#include <QString>
#include <cstdint>
#include <string>

// Status figures published with one scan.
struct ScanFigures
{
    bool streaming = true; // streaming models report speed and packet errors too
    double speed = 0.0;
    double rate = 0.0;
    int valid = 0;
    int total = 0;
    int errors = 0;
};

// Writes decoder events as JSON lines or CSV rows to a file descriptor,
// buffered. A write failure is remembered and reported by flush().
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

    void scan(int n, const ScanFigures &figures, const QList<PointData> &points);
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
};

// A number as JSON writes it: the shortest text that reads back as the same
// double, integral values without a fraction, and null when not finite.
std::string jsonNumber(double value);

#endif
