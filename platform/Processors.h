#pragma once

#include <QtGlobal>

// The number of processors this process may run on (its affinity, not the machine's count), at
// least 1.
int usableProcessorCount();

// Processor time the calling thread has used so far, in nanoseconds. Unlike the wall clock it
// does not grow while the thread waits for a processor on a busy machine.
qint64 threadCpuNanoseconds();

// The step in which threadCpuNanoseconds() advances: 1 where the system counts exactly; a clock
// tick where it counts a thread's time tick by tick.
qint64 threadCpuResolutionNanoseconds();
