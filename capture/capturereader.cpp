#include "capturereader.h"

#include "pcapng.h"

#include "bytes/littleendian.h"

#include <QFile>
#include <QtEndian>
#include <cstring>
#include <limits>

struct CaptureReader::Clock
{
    bool binary = false; // 2^-exponent seconds, otherwise 10^-exponent
    int exponent = 6;    // microseconds unless the interface says otherwise
    qint64 offsetSeconds = 0;

    qint64 nanoseconds(uint64_t ticks) const
    {
        using Wide = __int128;
        Wide ns;
        if (binary)
            ns = exponent >= 127 ? 0 : (Wide(ticks) * 1'000'000'000) >> exponent;
        else if (exponent <= 9)
            ns = Wide(ticks) * power10(9 - exponent);
        else
            ns = exponent - 9 > 19 ? 0 : Wide(ticks / power10u(exponent - 9));
        ns += Wide(offsetSeconds) * 1'000'000'000;
        const Wide top = std::numeric_limits<qint64>::max();
        const Wide bottom = std::numeric_limits<qint64>::min();
        return static_cast<qint64>(ns > top ? top : ns < bottom ? bottom : ns);
    }

    static qint64 power10(int n)
    {
        qint64 p = 1;
        while (n-- > 0)
            p *= 10;
        return p;
    }
    static uint64_t power10u(int n)
    {
        uint64_t p = 1;
        while (n-- > 0)
            p *= 10;
        return p;
    }
};

namespace {

constexpr char shbMagic[4] = {0x0A, 0x0D, 0x0D, 0x0A};
constexpr uint32_t pcapMagic = 0xA1B2C3D4;
constexpr uint32_t pcapNanoMagic = 0xA1B23C4D;

int padded(uint32_t n)
{
    return static_cast<int>((n + 3) & ~3u);
}

// The options of a block body from `offset` on: code, value.
template <typename Take>
void forEachOption(const QByteArray &body, int offset, bool bigEndian, Take take)
{
    const Bytes::Reader fields(body, bigEndian);
    uint16_t code = 0, length = 0;
    while (fields.read(offset, code) && fields.read(offset + 2, length)) {
        if (code == Pcapng::optEnd)
            return;
        offset += 4;
        if (length > body.size() - offset)
            return;
        take(code, QByteArray::fromRawData(body.constData() + offset, length));
        offset += padded(length);
    }
}

QString keyValue(const QByteArray &comment, const char *key)
{
    const int n = static_cast<int>(std::strlen(key));
    if (comment.size() > n && comment.startsWith(key) && comment[n] == '=')
        return QString::fromUtf8(comment.mid(n + 1));
    return {};
}

} // namespace

CaptureReader::CaptureReader() = default;

CaptureReader::~CaptureReader() = default;

bool CaptureReader::isPcapng(const QByteArray &head)
{
    return head.size() >= 4 && std::memcmp(head.constData(), shbMagic, 4) == 0;
}

bool CaptureReader::open(const QString &path, int rawBaudrate)
{
    close();
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file->errorString());
        return false;
    }
    const bool rawName = path.endsWith(QLatin1String(".bin"), Qt::CaseInsensitive);
    owned = std::move(file);
    device = owned.get();
    const QByteArray head = device->peek(4);
    if (!isPcapng(head) && rawName && rawBaudrate <= 0) {
        close();
        error = QStringLiteral("%1 holds raw bytes without times; replaying it needs the "
                               "model's line speed")
                    .arg(path);
        return false;
    }
    if (!isPcapng(head) && !rawName) {
        uint32_t magic = 0;
        if (head.size() == 4)
            std::memcpy(&magic, head.constData(), 4);
        const bool pcap = magic == pcapMagic || qbswap(magic) == pcapMagic ||
                          magic == pcapNanoMagic || qbswap(magic) == pcapNanoMagic;
        close();
        error = pcap ? QStringLiteral("%1 is a pcap file, not pcapng; convert it with "
                                      "'editcap -F pcapng'")
                           .arg(path)
                     : QStringLiteral("%1 is not a capture: no pcapng section header, and "
                                      "raw byte files end in .bin")
                           .arg(path);
        return false;
    }
    if (!start(rawBaudrate)) {
        const QString reason = error;
        close();
        error = QStringLiteral("%1: %2").arg(path, reason);
        return false;
    }
    return true;
}

bool CaptureReader::open(QIODevice *source, int rawBaudrate)
{
    close();
    device = source;
    if (!device || !device->isReadable()) {
        error = QStringLiteral("the capture is not open for reading");
        device = nullptr;
        return false;
    }
    if (!start(rawBaudrate)) {
        const QString reason = error;
        close();
        error = reason;
        return false;
    }
    return true;
}

void CaptureReader::close()
{
    owned.reset();
    device = nullptr;
    kind = Format::None;
    block.clear();
    lines.clear();
    clocks.clear();
    version.clear();
    error.clear();
    ended = cut = false;
}

bool CaptureReader::start(int rawBaudrate)
{
    ended = cut = false;
    error.clear();
    lastTime = 0;
    losses.clear();
    rawOffset = 0;
    blockOffset = 0;
    lines.clear();
    clocks.clear();
    if (!isPcapng(device->peek(4))) {
        if (rawBaudrate <= 0) {
            error = QStringLiteral("not a capture: no pcapng section header");
            return false;
        }
        kind = Format::Raw;
        rawSpeed = rawBaudrate;
        CaptureInterface line;
        line.linkType = Pcapng::linkTypeUser0;
        line.metadata.baudrate = rawBaudrate;
        lines.append(line);
        return true;
    }
    kind = Format::Pcapng;
    // The first block must be a readable section header.
    if (readBlock() != Block::Read || blockType != Pcapng::sectionHeader || !takeSection()) {
        if (error.isEmpty())
            error = QStringLiteral("not a capture: the section header is cut off");
        kind = Format::None;
        return false;
    }
    return true;
}

bool CaptureReader::feedsDecoders(const CaptureRecord &record) const
{
    return record.direction == CaptureDirection::Inbound &&
           lines.value(record.interface).linkType == Pcapng::linkTypeUser0;
}

bool CaptureReader::rewind()
{
    if (!device || device->isSequential() || !device->seek(0))
        return false;
    const QString keepVersion = version;
    if (!start(rawSpeed))
        return false;
    version = keepVersion;
    return true;
}

bool CaptureReader::readNext(CaptureRecord &record)
{
    if (!device || ended)
        return false;
    if (kind == Format::Raw)
        return readRaw(record);
    for (;;) {
        const Block result = readBlock();
        if (result != Block::Read)
            return false;
        switch (blockType) {
        case Pcapng::sectionHeader:
            if (!takeSection())
                return false;
            break;
        case Pcapng::interfaceDescription:
            if (!takeInterface())
                return false;
            break;
        case Pcapng::enhancedPacket:
            if (takePacket(record))
                return true;
            break;
        default:
            break; // blocks that carry nothing for a replay
        }
    }
}

bool CaptureReader::readRaw(CaptureRecord &record)
{
    record.data = device->read(rawRecordBytes);
    if (record.data.isEmpty()) {
        ended = true;
        return false;
    }
    rawOffset += record.data.size();
    // Ten bits a byte on the line: start, eight data bits, stop. The record's
    // time is when its last byte arrived.
    record.timeNs = static_cast<qint64>(__int128(rawOffset) * 10'000'000'000LL / rawSpeed);
    record.direction = CaptureDirection::Inbound;
    record.interface = 0;
    return true;
}

bool CaptureReader::readExactly(char *to, qint64 n)
{
    while (n > 0) {
        const qint64 got = device->read(to, n);
        if (got <= 0)
            return false;
        to += got;
        n -= got;
    }
    return true;
}

CaptureReader::Block CaptureReader::readBlock()
{
    char head[12];
    blockOffset = device->pos();
    const qint64 got = device->read(head, 8);
    if (got <= 0) {
        stop(Block::End);
        return Block::End;
    }
    if (got < 8 && !readExactly(head + got, 8 - got)) {
        stop(Block::Truncated);
        return Block::Truncated;
    }
    uint32_t type = Bytes::Reader(head, 8, bigEndian).u32(0);
    int already = 0;
    if (std::memcmp(head, shbMagic, 4) == 0) {
        // A new section says its own byte order.
        type = Pcapng::sectionHeader;
        if (!readExactly(head + 8, 4)) {
            stop(Block::Truncated);
            return Block::Truncated;
        }
        already = 4;
        if (Bytes::Reader(head, 12).u32(8) == Pcapng::byteOrderMagic) {
            bigEndian = false;
        } else if (Bytes::Reader(head, 12, true).u32(8) == Pcapng::byteOrderMagic) {
            bigEndian = true;
        } else {
            stop(Block::Damaged, QStringLiteral("unknown byte order"));
            return Block::Damaged;
        }
    }
    const uint32_t length = Bytes::Reader(head, 8, bigEndian).u32(4);
    if (length < Pcapng::minBlockLength || length % 4 != 0 || length > Pcapng::maxBlockLength ||
        (type == Pcapng::sectionHeader && length < 28)) {
        stop(Block::Damaged, QStringLiteral("block length %1").arg(length));
        return Block::Damaged;
    }
    block.resize(static_cast<int>(length) - 8);
    if (already)
        std::memcpy(block.data(), head + 8, 4);
    if (!readExactly(block.data() + already, block.size() - already)) {
        stop(Block::Truncated);
        return Block::Truncated;
    }
    const uint32_t trailer =
        Bytes::Reader(block, bigEndian).u32(static_cast<int>(block.size()) - 4);
    if (trailer != length) {
        stop(Block::Damaged,
             QStringLiteral("block lengths %1 and %2 differ").arg(length).arg(trailer));
        return Block::Damaged;
    }
    block.chop(4);
    blockType = type;
    return Block::Read;
}

void CaptureReader::stop(Block why, const QString &reason)
{
    ended = true;
    if (why == Block::Truncated)
        cut = true;
    if (why == Block::Damaged)
        error = QStringLiteral("damaged capture at byte %1: %2").arg(blockOffset).arg(reason);
}

bool CaptureReader::takeSection()
{
    // byte-order magic, major, minor, section length, options
    const uint16_t major = Bytes::Reader(block, bigEndian).u16(4);
    if (major != Pcapng::majorVersion) {
        stop(Block::Damaged, QStringLiteral("pcapng version %1 is not known").arg(major));
        return false;
    }
    sectionBase = lines.size();
    sectionApplication.clear();
    sectionComment.clear();
    forEachOption(block, 16, bigEndian, [this](uint16_t code, const QByteArray &value) {
        if (code == Pcapng::shbUserApplication)
            sectionApplication = QString::fromUtf8(value);
        else if (code == Pcapng::optComment && sectionComment.isEmpty())
            sectionComment = QString::fromUtf8(value);
    });
    return true;
}

bool CaptureReader::takeInterface()
{
    if (block.size() < 8)
        return true; // too short to describe anything; its packets are dropped
    if (lines.size() >= maxInterfaces) {
        stop(Block::Damaged, QStringLiteral("more than %1 interfaces").arg(maxInterfaces));
        return false;
    }
    CaptureInterface line;
    line.linkType = Bytes::Reader(block, bigEndian).u16(0);
    line.metadata.application = sectionApplication;
    line.metadata.comment = sectionComment;
    Clock clock;
    QString model, baud;
    forEachOption(block, 8, bigEndian, [&](uint16_t code, const QByteArray &value) {
        const Bytes::Reader v(value, bigEndian);
        switch (code) {
        case Pcapng::ifName:
            line.metadata.portName = QString::fromUtf8(value);
            break;
        case Pcapng::ifDescription:
            if (line.metadata.model.isEmpty())
                line.metadata.model = QString::fromUtf8(value);
            break;
        case Pcapng::ifSpeed:
            if (value.size() == 8 && line.metadata.baudrate == 0) {
                const uint64_t speed = v.u64(0);
                if (speed <= uint64_t(std::numeric_limits<int>::max()))
                    line.metadata.baudrate = static_cast<int>(speed);
            }
            break;
        case Pcapng::ifTimestampResolution:
            if (value.size() >= 1) {
                clock.binary = v.u8(0) & 0x80;
                clock.exponent = v.u8(0) & 0x7F;
            }
            break;
        case Pcapng::ifTimestampOffset:
            if (value.size() == 8)
                clock.offsetSeconds = static_cast<qint64>(v.u64(0));
            break;
        case Pcapng::optComment:
            if (const QString e = keyValue(value, "edition"); !e.isEmpty())
                line.metadata.edition = e;
            else if (const QString m = keyValue(value, "model"); !m.isEmpty())
                model = m;
            else if (const QString b = keyValue(value, "baud"); !b.isEmpty())
                baud = b;
            break;
        default:
            break;
        }
    });
    if (!model.isEmpty())
        line.metadata.model = model;
    bool ok = false;
    const int speed = baud.toInt(&ok);
    if (ok && speed > 0)
        line.metadata.baudrate = speed;
    lines.append(line);
    clocks.push_back(clock);
    return true;
}

bool CaptureReader::takePacket(CaptureRecord &record)
{
    // interface, timestamp high and low, captured and original length, data, options
    if (block.size() < 20)
        return false;
    const Bytes::Reader fields(block, bigEndian);
    const uint32_t id = fields.u32(0);
    const uint32_t captured = fields.u32(12);
    if (id >= uint32_t(lines.size() - sectionBase) || captured > uint32_t(block.size() - 20))
        return false;
    const int index = sectionBase + static_cast<int>(id);
    CaptureDirection direction = CaptureDirection::Inbound;
    bool lost = false;
    forEachOption(block, 20 + padded(captured), bigEndian,
                  [&](uint16_t code, const QByteArray &value) {
                      if (code == Pcapng::epbFlags && value.size() == 4) {
                          const uint32_t flags = Bytes::Reader(value, bigEndian).u32(0);
                          if ((flags & 3) == Pcapng::flagOutbound)
                              direction = CaptureDirection::Outbound;
                      } else if (code == Pcapng::optComment) {
                          if (const QString text = keyValue(value, "version"); !text.isEmpty())
                              version = text;
                          if (!keyValue(value, "line-lost").isEmpty())
                              lost = true;
                      }
                  });
    const uint64_t ticks = uint64_t(fields.u32(4)) << 32 | fields.u32(8);
    const qint64 time = clocks[static_cast<size_t>(index)].nanoseconds(ticks);
    if (lost)
        losses.append(time);
    if (captured == 0)
        return false;
    // Merged captures can interleave out of order; a replay never runs backwards.
    lastTime = std::max(lastTime, time);
    record.direction = direction;
    record.timeNs = lastTime;
    record.interface = index;
    record.data = block.mid(20, static_cast<int>(captured));
    return true;
}
