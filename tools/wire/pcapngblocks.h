#ifndef VANTOSCOPE_WIRE_PCAPNGBLOCKS_H
#define VANTOSCOPE_WIRE_PCAPNGBLOCKS_H

#include <QByteArray>
#include <QString>
#include <QVector>
#include <cstdint>

namespace Wire {

// Builds pcapng captures block by block in either byte order, including
// what the recorder itself never writes: other link types and timestamp
// resolutions, blocks and options a reader must skip, several sections.
class PcapngBlocks
{
public:
    struct Option
    {
        uint16_t code;
        QByteArray value;
    };

    // Starts a section in the given byte order; later blocks follow it.
    PcapngBlocks &section(bool bigEndian, const QString &application = {});
    // `resolution` is the if_tsresol byte (9: nanoseconds; 0x80 | n: 2^-n s).
    PcapngBlocks &interface(uint16_t linkType, uint8_t resolution,
                            const QVector<Option> &options = {});
    PcapngBlocks &packet(uint32_t interface, uint64_t ticks, const QByteArray &data,
                         uint32_t flags = 1, const QVector<Option> &options = {});
    PcapngBlocks &block(uint32_t type, const QByteArray &body);

    QByteArray u16(uint16_t value) const;
    QByteArray u32(uint32_t value) const;
    QByteArray u64(uint64_t value) const;
    static Option text(uint16_t code, const QString &value) { return {code, value.toUtf8()}; }

    const QByteArray &bytes() const { return out; }

private:
    void putOptions(QByteArray &body, const QVector<Option> &options) const;

    QByteArray out;
    bool big = false;
};

} // namespace Wire

#endif
