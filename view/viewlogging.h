#ifndef VANTOSCOPE_VIEWLOGGING_H
#define VANTOSCOPE_VIEWLOGGING_H

#include <QLoggingCategory>

// The map view's debug lines (the pan offset after a right-button drag).
// Enabled by default; QT_LOGGING_RULES="vantoscope.view.debug=false" silences them.
Q_DECLARE_LOGGING_CATEGORY(lcView)

#endif
