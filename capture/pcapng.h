#ifndef VANTOSCOPE_CAPTURE_PCAPNG_H
#define VANTOSCOPE_CAPTURE_PCAPNG_H

#include <cstdint>

// The pcapng numbers the writer and the reader share (docs/capture-format.md).
namespace Pcapng {

constexpr uint32_t sectionHeader = 0x0A0D0D0A;
constexpr uint32_t interfaceDescription = 0x00000001;
constexpr uint32_t enhancedPacket = 0x00000006;
constexpr uint32_t byteOrderMagic = 0x1A2B3C4D;
constexpr uint16_t majorVersion = 1;
constexpr uint16_t minorVersion = 0;

// User-defined link type: bytes as they crossed the serial line.
constexpr uint16_t linkTypeUser0 = 147;

constexpr uint16_t optEnd = 0;
constexpr uint16_t optComment = 1;
constexpr uint16_t shbUserApplication = 4;
constexpr uint16_t ifName = 2;
constexpr uint16_t ifDescription = 3;
constexpr uint16_t ifSpeed = 8;
constexpr uint16_t ifTimestampResolution = 9;
constexpr uint16_t ifTimestampOffset = 14;
constexpr uint16_t epbFlags = 2;

constexpr uint32_t flagInbound = 1;
constexpr uint32_t flagOutbound = 2;

// Blocks longer than this are taken as damage rather than read.
constexpr uint32_t maxBlockLength = 16u << 20;
constexpr uint32_t minBlockLength = 12;

} // namespace Pcapng

#endif
