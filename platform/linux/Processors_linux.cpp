#include "platform/Processors.h"

#include <sched.h>
#include <time.h>
#include <unistd.h>

int usableProcessorCount()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0)
            return count;
    }
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
}

qint64 threadCpuNanoseconds()
{
    struct timespec now = {};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) != 0)
        return 0;
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

qint64 threadCpuResolutionNanoseconds()
{
    struct timespec step = {};
    if (clock_getres(CLOCK_THREAD_CPUTIME_ID, &step) != 0)
        return 1;
    return qMax<qint64>(1, qint64(step.tv_sec) * 1000000000 + step.tv_nsec);
}
