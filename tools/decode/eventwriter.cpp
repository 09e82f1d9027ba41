#include "eventwriter.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <unistd.h>

namespace {

constexpr size_t flushThreshold = 1 << 20;

void appendDouble(std::string &out, double value, const char *nonFinite)
{
    if (!std::isfinite(value)) {
        out += nonFinite;
        return;
    }
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, result.ptr);
}

void appendJsonString(std::string &out, const QString &text)
{
    out += '"';
    for (const char c : text.toUtf8()) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            static const char hex[] = "0123456789abcdef";
            out += "\\u00";
            out += hex[byte >> 4];
            out += hex[byte & 0xF];
        } else {
            out += c;
        }
    }
    out += '"';
}

} // namespace

std::string jsonNumber(double value)
{
    std::string out;
    appendDouble(out, value, "null");
    return out;
}

EventWriter::EventWriter(Format format, int fd) : format(format), fd(fd)
{
    buffer.reserve(2 * flushThreshold);
    if (format == Format::Csv)
        buffer += "scan,angle,distance,confidence\n";
}

void EventWriter::number(double value)
{
    appendDouble(buffer, value, format == Format::Jsonl ? "null" : "");
}

void EventWriter::number(int64_t value)
{
    char text[24];
    const auto result = std::to_chars(text, text + sizeof text, value);
    buffer.append(text, result.ptr);
}

void EventWriter::scan(int n, const ScanFigures &figures, const QList<PointData> &points)
{
    if (format == Format::Csv) {
        for (const PointData &p : points) {
            number(int64_t(n));
            buffer += ',';
            number(p.angle);
            buffer += ',';
            number(int64_t(p.distance));
            buffer += ',';
            number(int64_t(p.confidence));
            buffer += '\n';
        }
        eventDone();
        return;
    }
    buffer += R"({"event":"scan","n":)";
    number(int64_t(n));
    if (figures.streaming) {
        buffer += R"(,"speed":)";
        number(figures.speed);
    }
    buffer += R"(,"rate":)";
    number(figures.rate);
    buffer += R"(,"valid":)";
    number(int64_t(figures.valid));
    buffer += R"(,"total":)";
    number(int64_t(figures.total));
    if (figures.streaming) {
        buffer += R"(,"errors":)";
        number(int64_t(figures.errors));
    }
    buffer += R"(,"points":[)";
    bool first = true;
    for (const PointData &p : points) {
        buffer += first ? "[" : ",[";
        first = false;
        number(p.angle);
        buffer += ',';
        number(int64_t(p.distance));
        buffer += ',';
        number(int64_t(p.confidence));
        buffer += ']';
    }
    buffer += "]}\n";
    eventDone();
}

void EventWriter::info(const QString &text)
{
    if (format == Format::Csv)
        return;
    buffer += R"({"event":"info","text":)";
    appendJsonString(buffer, text);
    buffer += "}\n";
    eventDone();
}

void EventWriter::end(int64_t bytes, int scans, int errors)
{
    if (format == Format::Jsonl) {
        buffer += R"({"event":"end","bytes":)";
        number(bytes);
        buffer += R"(,"scans":)";
        number(int64_t(scans));
        buffer += R"(,"errors":)";
        number(int64_t(errors));
        buffer += "}\n";
    }
    flush();
}

void EventWriter::eventDone()
{
    if (flushEachEvent || buffer.size() >= flushThreshold)
        flush();
}

bool EventWriter::flush()
{
    size_t written = 0;
    while (!failed && written < buffer.size()) {
        const ssize_t n = ::write(fd, buffer.data() + written, buffer.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            failed = true;
        else
            written += static_cast<size_t>(n);
    }
    buffer.clear();
    return !failed;
}
