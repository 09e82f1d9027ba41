#ifndef VANTOSCOPE_WIRE_COMMANDFRAMES_H
#define VANTOSCOPE_WIRE_COMMANDFRAMES_H

#include <QByteArray>
#include <QVector>
#include <array>
#include <cstdint>

// Frames of the command/response protocol of the command-protocol models
// (Fir and Maple), in both directions:
//   AA AA AA AA | address | command | parameter (2) | length N (2) | payload | checksum
namespace Wire {

// A complete frame; the checksum is the byte sum of address through payload.
QByteArray encodeTrFrame(uint8_t address, uint8_t command, uint16_t parameter,
                         const QByteArray &payload);
// A command as the program sends it: address 1, parameter 0, `value` as a
// 4-byte (command) or 2-byte (shortCommand) payload.
QByteArray command(uint8_t code, uint32_t value);
QByteArray shortCommand(uint8_t code, uint16_t value);

// Calibration replies (command 18). Fir: slopes and intercepts of the right
// and left half. Maple: slopes and intercepts of zones 1 to 6 and 24 further
// bytes. `truncateTo` >= 0 cuts the payload to that many bytes.
QByteArray firCalibrationReply(uint32_t rightSlope, uint32_t leftSlope, uint32_t rightIntercept,
                               uint32_t leftIntercept, int truncateTo = -1);
QByteArray mapleCalibrationReply(const std::array<uint32_t, 6> &slopes,
                                 const std::array<uint32_t, 6> &intercepts,
                                 const QByteArray &extra = QByteArray(24, '\0'),
                                 int truncateTo = -1);
// Maple's reply to command 21: the number of columns it sends, then a second value.
QByteArray columnsReply(uint16_t columns, uint16_t second = 0);

// Sample frames. Command 3: each sample is a distance. Command 2: a
// millisecond timestamp, then the samples.
QByteArray plainSampleFrame(const QVector<uint16_t> &samples);
QByteArray measuredSampleFrame(int32_t timestampMs, const QVector<uint16_t> &samples,
                               uint16_t parameter = 0);

// One measured sample. Fir: value 0-511, confidence 0-254 (even; bit 0 is
// not sent). Maple: value 0-1023, confidence level 0-7 (times 32 on
// decoding), zone 0-7.
uint16_t firSample(uint16_t value, uint8_t confidence);
uint16_t mapleSample(uint16_t value, uint8_t confidenceLevel, uint8_t zone);

} // namespace Wire

#endif
