#include "debugpkglogging.h"

Q_LOGGING_CATEGORY(lcDebugPkg, "vantoscope.debugpkg")
