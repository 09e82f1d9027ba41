#ifndef VANTOSCOPE_MODELTABLE_H
#define VANTOSCOPE_MODELTABLE_H

#include <QString>
#include <optional>

// Everything the programs know about a sensor model, one row per model. The
// editions' device selectors and model choices, the simulator, the bench
// profiles and the fuzzers all read these rows; no other file names a model's
// line speed, codes or rates.
namespace Models {

// Which decoder a model's stream goes to.
enum class DecoderKind
{
    CommandProtocol,        // the command-protocol decoder
    Stream,                 // the stream decoder
    StreamFlagInConfidence, // the stream decoder; bit 0 of the confidence is a flag
};

// The layout of the frames a model sends.
enum class StreamFormat
{
    Pkg47,       // 47-byte frames of 12 points
    Pkg36,       // 36-byte frames of 8 points
    PkgVariable, // variable packets of up to 40 points
    Fir,         // command protocol, two halves of 80 columns
    Maple,       // command protocol, six zones
};

// What the earlier edition makes of a model.
struct ClassicRules
{
    bool known = false;
    // The type code it gives the stream decoder; unset: the decoder keeps the
    // code set last.
    std::optional<int> typeCode;
    // Unset: choosing the model leaves the scan filter's variant as it was.
    bool setsFilterVariant = true;
};

struct Record
{
    const char *name;
    int baudrate;
    int filterVariant; // chooses the scan filter
    int typeCode;      // given to both decoders
    DecoderKind decoderKind;
    StreamFormat format;
    // A typical unit: revolutions (or sample frames) per second and the
    // points it measures per second; a scan is a revolution or a frame.
    double scanHz;
    int pointsPerSecond;
    // Degrees of the field of view, centred ahead of the sensor.
    double fieldOfView;
    ClassicRules classic;

    QString displayName() const { return QString::fromLatin1(name); }
    int pointsPerScan() const { return static_cast<int>(pointsPerSecond / scanHz); }
    bool commandProtocol() const { return decoderKind == DecoderKind::CommandProtocol; }
};

struct Rows
{
    const Record *first;
    const Record *last;
    const Record *begin() const { return first; }
    const Record *end() const { return last; }
};
// Every model, in the order of the device selectors.
Rows rows();

// The row of `name`, or null.
const Record *find(const QString &name, Qt::CaseSensitivity cs);

} // namespace Models

#endif
