#ifndef VANTOSCOPE_EDITION_H
#define VANTOSCOPE_EDITION_H

// Which program this translation unit is built for. Code that differs
// between the two editions asks these constants (with `if constexpr` where
// the other branch must not even be compiled) instead of testing the macro.
// Which models exist and what choosing one sets is in modelrules.h, with
// one implementation per edition.

#ifndef VANTOSCOPE_EDITION_CLASSIC
#define VANTOSCOPE_EDITION_CLASSIC 0
#endif

namespace Edition {

constexpr bool classic = VANTOSCOPE_EDITION_CLASSIC != 0;
constexpr bool full = !classic;

// The edition's name in capture metadata and on the tools' command lines.
constexpr const char *name = classic ? "classic" : "full";

// Text of the permanent label at the right end of the status bar.
constexpr const char *versionText = classic ? "V2.3.11" : "V2.3.12";

// The map view's status block starts this many pixels left of the right edge.
constexpr int statusBlockInset = classic ? 220 : 240;

// The earlier edition shows the pixel sum of the command-protocol sensor as
// a third status line.
constexpr bool showsPixelSum = classic;

// The earlier edition decodes the Pkg47 frame only, whatever the type code.
constexpr bool pkg47Only = classic;

// The earlier edition writes a "find" debug line whenever a parser run finds
// a Pkg47 header whose second byte is 0xEC, until the first frame has passed
// its CRC.
constexpr bool logsEcHeaderFinds = classic;

// The earlier edition gives type codes to the stream decoder only; its
// command-protocol decoder serves a single model (never the Maple variant).
constexpr bool commandProtocolTakesTypeCode = full;

// The full edition's command-protocol decoder chooses its sample mode when
// measuring starts (calibrated samples for Maple, raw ones otherwise); the
// earlier edition's keeps the mode it started with.
constexpr bool commandProtocolChoosesSampleMode = full;

// The earlier edition fills the device selector before it builds the
// toolbar, the full edition after the baud selector.
constexpr bool fillsDeviceBoxFirst = classic;

// The earlier edition decides which protocol to speak when it connects from
// the device selector's text at that moment; the full edition from the
// model chosen last.
constexpr bool protocolFromSelectorText = classic;

} // namespace Edition

#endif
