#include "viewlogging.h"

Q_LOGGING_CATEGORY(lcView, "vantoscope.view")
