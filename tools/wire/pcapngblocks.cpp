#include "pcapngblocks.h"

#include <QtEndian>

namespace Wire {

namespace {

void pad(QByteArray &out)
{
    while (out.size() % 4)
        out.append('\0');
}

} // namespace

QByteArray PcapngBlocks::u16(uint16_t value) const
{
    const uint16_t v = big ? qToBigEndian(value) : qToLittleEndian(value);
    return QByteArray(reinterpret_cast<const char *>(&v), 2);
}

QByteArray PcapngBlocks::u32(uint32_t value) const
{
    const uint32_t v = big ? qToBigEndian(value) : qToLittleEndian(value);
    return QByteArray(reinterpret_cast<const char *>(&v), 4);
}

QByteArray PcapngBlocks::u64(uint64_t value) const
{
    const quint64 v = big ? qToBigEndian(quint64(value)) : qToLittleEndian(quint64(value));
    return QByteArray(reinterpret_cast<const char *>(&v), 8);
}

void PcapngBlocks::putOptions(QByteArray &body, const QVector<Option> &options) const
{
    if (options.isEmpty())
        return;
    for (const Option &option : options) {
        body += u16(option.code) + u16(static_cast<uint16_t>(option.value.size())) + option.value;
        pad(body);
    }
    body += u32(0);
}

PcapngBlocks &PcapngBlocks::block(uint32_t type, const QByteArray &body)
{
    QByteArray padded = body;
    pad(padded);
    const uint32_t length = static_cast<uint32_t>(padded.size() + 12);
    out += u32(type) + u32(length) + padded + u32(length);
    return *this;
}

PcapngBlocks &PcapngBlocks::section(bool bigEndian, const QString &application)
{
    big = bigEndian;
    QByteArray body = u32(0x1A2B3C4D) + u16(1) + u16(0) + u64(~uint64_t(0));
    if (!application.isEmpty())
        putOptions(body, {text(4, application)});
    return block(0x0A0D0D0A, body);
}

PcapngBlocks &PcapngBlocks::interface(uint16_t linkType, uint8_t resolution,
                                      const QVector<Option> &options)
{
    QByteArray body = u16(linkType) + u16(0) + u32(0);
    putOptions(body, QVector<Option>{{9, QByteArray(1, char(resolution))}} + options);
    return block(1, body);
}

PcapngBlocks &PcapngBlocks::packet(uint32_t interface, uint64_t ticks, const QByteArray &data,
                                   uint32_t flags, const QVector<Option> &options)
{
    QByteArray body = u32(interface) + u32(static_cast<uint32_t>(ticks >> 32)) +
                      u32(static_cast<uint32_t>(ticks)) + u32(uint32_t(data.size())) +
                      u32(uint32_t(data.size())) + data;
    pad(body);
    putOptions(body, QVector<Option>{{2, u32(flags)}} + options);
    return block(6, body);
}

} // namespace Wire
