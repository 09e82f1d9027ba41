#ifndef VANTOSCOPE_FRAMEDECODE_H
#define VANTOSCOPE_FRAMEDECODE_H

#include "points/pointdata.h"

#include <QString>
#include <array>
#include <cstdint>
#include <vector>

// The three frame formats of the streaming sensors: sizes, checks and the
// conversion of one checked frame into points. All multi-byte fields are
// little-endian. Each function reads only the bytes of the frame it is given.
namespace FrameDecode {

enum class Format
{
    Pkg47,
    Pkg36,
    PkgVariable
};

constexpr int pkg47Size = 47;
constexpr int pkg47Points = 12;
constexpr int pkg47BufferLimit = 4700;

constexpr int pkg36Size = 36;
constexpr int pkg36Points = 8;
constexpr int pkg36BufferLimit = 3600;
constexpr uint8_t pkg36Measurement = 0x03;
constexpr uint8_t pkg36Information = 0xFE;

constexpr int pkgVariableHeaderSize = 10;
constexpr int pkgVariableMaxSamples = 50;
constexpr int pkgVariableMaxSize = pkgVariableHeaderSize + 3 * pkgVariableMaxSamples; // 160
constexpr int pkgVariableMinBuffered = 27;
constexpr int pkgVariableResponseSize = 11;
constexpr uint8_t pkgVariableResponseType = 6;
constexpr int pkgVariableBufferLimit = 16000;

constexpr int infoRecordSize = 32;
constexpr int infoRecordOffset = 6;

using InfoRecord = std::array<uint8_t, infoRecordSize>;

Format formatForModel(int modelType);
int bufferLimit(Format format);

// CRC-8, polynomial 0x4D, not reflected, initial value 0, no final XOR.
uint8_t crc8(const uint8_t *bytes, int length);
bool pkg47CrcMatches(const uint8_t *frame);
// Whole degrees between start and end angle larger than 1.5 times what the
// frame's speed allows for 12 points.
bool pkg47SpanImplausible(const uint8_t *frame);

uint16_t pkg36Checksum(const uint8_t *frame);
bool pkg36ChecksumMatches(const uint8_t *frame);

// `packet` holds at least 10 + 3 * sampleCount bytes.
uint16_t pkgVariableChecksum(const uint8_t *packet, int sampleCount);
bool pkgVariableChecksumMatches(const uint8_t *packet, int sampleCount);
double pkgVariableAngle(uint16_t value);

// Appends the frame's points to `out`.
void convertPkg47(const uint8_t *frame, std::vector<PointData> &out);
void convertPkg36(const uint8_t *frame, std::vector<PointData> &out);
void convertPkgVariable(const uint8_t *packet, std::vector<PointData> &out);

// The information record of a Pkg36 information frame: the frame's bytes
// from offset 6 on; record bytes beyond the end of the frame are 0.
InfoRecord infoRecordFromFrame(const uint8_t *frame);
QString deviceInfoLine(const InfoRecord &record);

} // namespace FrameDecode

#endif
