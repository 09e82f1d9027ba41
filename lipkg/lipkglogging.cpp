#include "lipkglogging.h"

Q_LOGGING_CATEGORY(lcLiPkg, "vantoscope.lipkg")
