#ifndef VANTOSCOPE_WIRE_SERVICEFRAMES_H
#define VANTOSCOPE_WIRE_SERVICEFRAMES_H

#include <QByteArray>
#include <cstdint>

// Byte-stuffed service frames that every sensor model understands:
//   AA AA | 10 command parameter(2) length(4) payload checksum | 55 55
// with every 55, A5 or AA after the 10 preceded by A5.
namespace Wire {

// Escapes every 55, A5 and AA of `content` with A5.
QByteArray stuff(const QByteArray &content);
// The unescaped content: 10, command, parameter, payload length, payload, checksum.
QByteArray serviceContent(uint8_t command, uint16_t parameter, const QByteArray &payload);
// A complete service frame built from serviceContent.
QByteArray encodeServiceFrame(uint8_t command, uint16_t parameter, const QByteArray &payload);

// A request as the program sends it (parameter 0, `value` as two bytes).
QByteArray serviceRequest(uint8_t command, uint16_t value);
// The information reply (command 127): the two version words, then `rest`
// (at most 96 bytes). A `payloadSize` >= 0 cuts or pads the record to that size.
QByteArray informationReply(uint32_t firmwareVersion, uint32_t hardwareVersion,
                            const QByteArray &rest = QByteArray(), int payloadSize = 104);
// Photodiode voltage (command 249) and status byte (command 253) reports.
QByteArray voltageReport(uint16_t voltage);
QByteArray statusReport(uint8_t status);

} // namespace Wire

#endif
