#ifndef VANTOSCOPE_TEST_CPUUSAGE_H
#define VANTOSCOPE_TEST_CPUUSAGE_H

#include <sys/resource.h>

// User plus system CPU time of this process so far, in seconds.
inline double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec
           + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

#endif
