#ifndef VANTOSCOPE_FUZZ_FUZZDRIVER_H
#define VANTOSCOPE_FUZZ_FUZZDRIVER_H

#include <QByteArray>
#include <QString>
#include <QVector>
#include <cstddef>
#include <cstdint>
#include <utility>

// Runs one fuzz input through a fresh decoder and checks the invariants
// after every chunk and every published scan. A broken invariant aborts with
// a message naming it. The libFuzzer harnesses and the regression test share
// this code, so a saved input replays exactly as it was found.
//
// Input layouts (the stream is whatever follows the control bytes, pushed
// `repeat` times (1, 2, 4 or 16; DebugPkg 1 to 64) in chunks whose sizes follow the chunk pattern):
//   LiPkg:    model, options (bit 0 filter off, bit 1 change model halfway
//             to the model in bits 2-7), chunk pattern, repeat, stream
//   QTRNet:   options (bit 0 Maple, bit 1 apply calibration, bit 2 push the
//             next chunk from inside dataReady), chunk pattern, repeat,
//             calibration length L, L calibration payload bytes, stream
//   DebugPkg: chunk pattern, repeat, stream
//   Capture:  the file itself (pcapng, or raw bytes at 115200 baud), read
//             through, rewound and read through again
//   Bridge:   client messages to the live bridge, each a kind byte (bit 0:
//             binary), a 16-bit little-endian length L and L bytes, handled in
//             turn by one client's protocol state
//   Check:    model (index into the edition's model names), options (bit 0
//             filter off, bit 1 two reference targets in the next six bytes:
//             angle byte × 1.41°, 16-bit little-endian distance in mm, each),
//             the capture file; run through the bench check, its report
//             evaluated and written as text, JSON and JUnit XML
//   Profile:  model (index into the edition's model names), then a profile
//             JSON file applied over the model's defaults
namespace FuzzDriver {

struct Outcome
{
    int chunks = 0;
    int scans = 0;  // mapReady emissions
    int frames = 0; // QTRNet dataReady / DebugPkg dataReady emissions
};

Outcome runLiPkg(const uint8_t *data, size_t size);
Outcome runQTRNet(const uint8_t *data, size_t size);
Outcome runDebugPkg(const uint8_t *data, size_t size);
// `frames` counts the records of one reading, `chunks` the readings.
Outcome runCapture(const uint8_t *data, size_t size);
// `chunks` is 1 when the capture could be read, `frames` the bytes it fed.
Outcome runBenchCheck(const uint8_t *data, size_t size);
// `chunks` is 1, `scans` 1 when the profile was taken, `frames` its references.
Outcome runProfile(const uint8_t *data, size_t size);
// `chunks` counts the client messages, `frames` the replies.
Outcome runBridgeClient(const uint8_t *data, size_t size);

// Control bytes that make the inputs above from a model's captured stream.
// The LiPkg model is looked up by name among the models this edition's
// LiPkg serves; -1 when it serves none of that name.
int liPkgModelIndex(const QString &name);
QByteArray liPkgInput(int modelIndex, const QByteArray &stream);
QByteArray qtrNetInput(bool maple, const QByteArray &calibration, const QByteArray &stream);
QByteArray debugPkgInput(const QByteArray &stream);
// The bench check's input for `model` (a name the edition knows; -1 from
// benchCheckModelIndex otherwise), filter on, no references.
int benchCheckModelIndex(const QString &name);
QByteArray benchCheckInput(int modelIndex, const QByteArray &capture);

// The bridge's input for these client messages (text, or binary when the
// flag says so).
QByteArray bridgeClientInput(const QVector<std::pair<bool, QByteArray>> &messages);

// Chunk size number `k` of a pattern byte.
int chunkSize(uint8_t pattern, int k);

} // namespace FuzzDriver

#endif
