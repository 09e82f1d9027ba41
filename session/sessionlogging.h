#ifndef VANTOSCOPE_SESSIONLOGGING_H
#define VANTOSCOPE_SESSIONLOGGING_H

#include <QLoggingCategory>

// The category for a sensor session's own messages, beside its decoders'
// (vantoscope.lipkg, vantoscope.debugpkg). Enabled by default;
// QT_LOGGING_RULES="vantoscope.session.debug=false" silences it.
Q_DECLARE_LOGGING_CATEGORY(lcSession)

#endif
