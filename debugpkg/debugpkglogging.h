#ifndef VANTOSCOPE_DEBUGPKGLOGGING_H
#define VANTOSCOPE_DEBUGPKGLOGGING_H

#include <QLoggingCategory>

// The command-protocol decoder's debug lines (photodiode voltage reports).
// Enabled by default; QT_LOGGING_RULES="vantoscope.debugpkg.debug=false" silences them.
Q_DECLARE_LOGGING_CATEGORY(lcDebugPkg)

#endif
