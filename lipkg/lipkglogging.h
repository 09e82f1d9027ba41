#ifndef VANTOSCOPE_LIPKGLOGGING_H
#define VANTOSCOPE_LIPKGLOGGING_H

#include <QLoggingCategory>

// The streaming decoder's debug lines: device information records and, in the
// earlier edition, the second header found before the first good CRC.
// Enabled by default; QT_LOGGING_RULES="vantoscope.lipkg.debug=false" silences them.
Q_DECLARE_LOGGING_CATEGORY(lcLiPkg)

#endif
