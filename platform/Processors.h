#pragma once

// The number of processors this process may run on (its affinity, not the machine's count), at
// least 1.
int usableProcessorCount();
