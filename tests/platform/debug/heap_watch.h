// The calling thread's heap allocations (operator new) between a start and a stop.
#pragma once

#include <cstddef>

void StartWatchingHeap();
// The number of allocations the thread made since StartWatchingHeap.
size_t StopWatchingHeap();
