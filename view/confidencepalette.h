#ifndef VANTOSCOPE_CONFIDENCEPALETTE_H
#define VANTOSCOPE_CONFIDENCEPALETTE_H

#include "editions/modelrules.h"

#include <QColor>
#include <cstdint>

// The colours the map gives a point by its confidence when confidence
// colours are on; they depend on what the confidence means for the decoder.
namespace ConfidencePalette {

// The command-protocol models' palette: near-black through blue-violet,
// magenta-red and orange to pale yellow. Out-of-range values take the
// nearest end.
QColor intensityColor(int confidence);

// A point's colour: the palette above for the command protocol, red for a
// set flag bit and otherwise the grey of the remaining bits where bit 0 is a
// flag, and the grey of the confidence for the other streaming models.
QColor colorFor(uint8_t confidence, Edition::DecoderKind kind);

} // namespace ConfidencePalette

#endif
