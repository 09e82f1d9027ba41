#ifndef VANTOSCOPE_EDITION_H
#define VANTOSCOPE_EDITION_H

// Which program this translation unit is built for. Code that differs
// between the two editions asks these constants (with `if constexpr` where
// the other branch must not even be compiled) instead of testing the macro.

#ifndef VANTOSCOPE_EDITION_CLASSIC
#define VANTOSCOPE_EDITION_CLASSIC 0
#endif

namespace Edition {

constexpr bool classic = VANTOSCOPE_EDITION_CLASSIC != 0;
constexpr bool full = !classic;

// Text of the permanent label at the right end of the status bar.
constexpr const char *versionText = classic ? "V2.3.11" : "V2.3.12";

} // namespace Edition

#endif
