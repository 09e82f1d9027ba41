#include "capturewriter.h"

#include "pcapng.h"

#include "bytes/littleendian.h"

#include <QDateTime>
#include <cstring>

namespace {

constexpr int flushIntervalMs = 1000;
constexpr int flushBytes = 1 << 20;
constexpr int maxRecordBytes = 1 << 20;

void pad(QByteArray &out)
{
    while (out.size() % 4)
        out.append('\0');
}

void putOption(QByteArray &out, uint16_t code, const QByteArray &value)
{
    // Option values are at most 65535 bytes; longer texts are cut.
    const QByteArray v = value.left(0xFFFC);
    Bytes::appendU16(out, code);
    Bytes::appendU16(out, static_cast<uint16_t>(v.size()));
    out.append(v);
    pad(out);
}

void putText(QByteArray &out, uint16_t code, const QString &text)
{
    if (!text.isEmpty())
        putOption(out, code, text.toUtf8());
}

// Wraps `body` (starting at `start` in `out`, after a placeholder for type
// and length) into a block.
void finishBlock(QByteArray &out, int start, uint32_t type)
{
    pad(out);
    const uint32_t length = static_cast<uint32_t>(out.size() - start + 4);
    QByteArray head;
    Bytes::appendU32(head, type);
    Bytes::appendU32(head, length);
    std::memcpy(out.data() + start, head.constData(), 8);
    Bytes::appendU32(out, length);
}

int beginBlock(QByteArray &out)
{
    const int start = out.size();
    out.append(8, '\0');
    return start;
}

} // namespace

CaptureWriter::CaptureWriter(QObject *parent) : QObject(parent)
{
    flushTimer.setSingleShot(true);
    connect(&flushTimer, &QTimer::timeout, this, [this] { flush(); });
}

CaptureWriter::~CaptureWriter()
{
    close();
}

bool CaptureWriter::open(const QString &path, const CaptureMetadata &metadata)
{
    close();
    error.clear();
    recordCount = 0;
    lastTime = 0;
    versionPending.clear();
    pending.resize(0);
    // Reserved capacity survives resize(0), so appending does not allocate.
    pending.reserve(flushBytes + (64 << 10));
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        error = file.errorString();
        return false;
    }

    int start = beginBlock(pending);
    Bytes::appendU32(pending, Pcapng::byteOrderMagic);
    Bytes::appendU16(pending, Pcapng::majorVersion);
    Bytes::appendU16(pending, Pcapng::minorVersion);
    Bytes::appendU64(pending, ~uint64_t(0)); // section length not given
    putText(pending, Pcapng::shbUserApplication, metadata.application);
    putText(pending, Pcapng::optComment, metadata.comment);
    Bytes::appendU32(pending, Pcapng::optEnd);
    finishBlock(pending, start, Pcapng::sectionHeader);

    start = beginBlock(pending);
    Bytes::appendU16(pending, Pcapng::linkTypeUser0);
    Bytes::appendU16(pending, 0);
    Bytes::appendU32(pending, 0); // no snapshot limit
    putText(pending, Pcapng::ifName, metadata.portName);
    putText(pending, Pcapng::ifDescription, metadata.model);
    if (metadata.baudrate > 0) {
        QByteArray speed;
        Bytes::appendU64(speed, static_cast<uint64_t>(metadata.baudrate));
        putOption(pending, Pcapng::ifSpeed, speed);
    }
    putOption(pending, Pcapng::ifTimestampResolution, QByteArray(1, 9));
    if (!metadata.edition.isEmpty())
        putText(pending, Pcapng::optComment, QStringLiteral("edition=") + metadata.edition);
    if (!metadata.model.isEmpty())
        putText(pending, Pcapng::optComment, QStringLiteral("model=") + metadata.model);
    if (metadata.baudrate > 0)
        putText(pending, Pcapng::optComment, QStringLiteral("baud=%1").arg(metadata.baudrate));
    Bytes::appendU32(pending, Pcapng::optEnd);
    finishBlock(pending, start, Pcapng::interfaceDescription);
    sinceFlush.start();
    return flush();
}

bool CaptureWriter::append(CaptureDirection direction, const QByteArray &chunk, qint64 timeNs)
{
    if (!file.isOpen())
        return false;
    // Far below the block size readers refuse.
    if (chunk.size() > maxRecordBytes) {
        for (int at = 0; at < chunk.size(); at += maxRecordBytes)
            if (!append(direction, chunk.mid(at, maxRecordBytes), timeNs))
                return false;
        return true;
    }
    const int start = beginBlock(pending);
    const uint64_t ts = static_cast<uint64_t>(timeNs);
    Bytes::appendU32(pending, 0); // interface
    Bytes::appendU32(pending, static_cast<uint32_t>(ts >> 32));
    Bytes::appendU32(pending, static_cast<uint32_t>(ts));
    Bytes::appendU32(pending, static_cast<uint32_t>(chunk.size()));
    Bytes::appendU32(pending, static_cast<uint32_t>(chunk.size()));
    pending.append(chunk);
    pad(pending);
    QByteArray flags;
    Bytes::appendU32(flags, direction == CaptureDirection::Outbound ? Pcapng::flagOutbound
                                                                    : Pcapng::flagInbound);
    putOption(pending, Pcapng::epbFlags, flags);
    if (!versionPending.isEmpty()) {
        putText(pending, Pcapng::optComment, QStringLiteral("version=") + versionPending);
        versionPending.clear();
    }
    if (!notePending.isEmpty()) {
        putText(pending, Pcapng::optComment, notePending);
        notePending.clear();
    }
    Bytes::appendU32(pending, Pcapng::optEnd);
    finishBlock(pending, start, Pcapng::enhancedPacket);
    ++recordCount;
    lastTime = timeNs;

    if (pending.size() >= flushBytes || sinceFlush.elapsed() >= flushIntervalMs)
        return flush();
    if (!flushTimer.isActive())
        flushTimer.start(flushIntervalMs);
    return true;
}

bool CaptureWriter::noteLineLost(qint64 timeNs)
{
    if (!file.isOpen())
        return false;
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(timeNs / 1000000).toUTC();
    notePending = QStringLiteral("line-lost=") + when.toString(Qt::ISODateWithMs);
    return append(CaptureDirection::Inbound, QByteArray(), timeNs);
}

void CaptureWriter::setVersionText(const QString &text)
{
    versionPending = text;
}

bool CaptureWriter::close()
{
    if (!file.isOpen())
        return error.isEmpty();
    // A version learnt after the last record still goes in, on an empty record.
    if (!versionPending.isEmpty())
        append(CaptureDirection::Inbound, QByteArray(), lastTime);
    const bool ok = flush();
    flushTimer.stop();
    if (file.isOpen())
        file.close();
    return ok;
}

bool CaptureWriter::flush()
{
    flushTimer.stop();
    sinceFlush.restart();
    if (!file.isOpen())
        return false;
    if (pending.isEmpty())
        return true;
    const qint64 written = file.write(pending);
    if (written != pending.size())
        return fail(file.errorString());
    pending.resize(0);
    return true;
}

bool CaptureWriter::fail(const QString &reason)
{
    error = reason.isEmpty() ? tr("the disk is full or the file cannot be written") : reason;
    pending.resize(0);
    flushTimer.stop();
    file.close();
    emit failed(error);
    return false;
}
