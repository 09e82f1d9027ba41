#include "eventwriter.h"

#include "scanexport/scanexport.h"

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
    if (format == Format::Csv) {
        const QByteArray header = scanCsvHeader();
        buffer.append(header.constData(), static_cast<size_t>(header.size()));
    }
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

void EventWriter::scan(int n, const SensorScan &scan)
{
    if (format == Format::Csv) {
        csvRows.resize(0);
        appendScanCsvRows(csvRows, n, scan);
        buffer.append(csvRows.constData(), static_cast<size_t>(csvRows.size()));
        eventDone();
        return;
    }
    buffer += R"({"event":"scan","n":)";
    number(int64_t(n));
    if (scan.streaming()) {
        buffer += R"(,"speed":)";
        number(scan.speed);
    }
    buffer += R"(,"rate":)";
    number(scan.rate);
    buffer += R"(,"valid":)";
    number(int64_t(scan.valid));
    buffer += R"(,"total":)";
    number(int64_t(scan.total));
    if (scan.streaming()) {
        buffer += R"(,"errors":)";
        number(int64_t(scan.errors));
    }
    buffer += R"(,"points":[)";
    // The event lists a streaming scan as its decoder ends it, marker last.
    const PointData marker = endOfScanMarker();
    const int count = scan.points.size();
    for (int i = 0; i < count + (scan.streaming() ? 1 : 0); ++i) {
        const PointData &p = i < count ? scan.points.at(i) : marker;
        buffer += i == 0 ? "[" : ",[";
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
