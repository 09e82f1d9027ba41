#include "scanfilter.h"
