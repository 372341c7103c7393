// Replaces the program's operator new and delete with ones that count the allocations of a
// thread that watches; memory still comes from malloc.
#include "tests/platform/debug/heap_watch.h"

#include <stdlib.h>

#include <new>

namespace {

thread_local bool t_bWatching = false;
thread_local size_t t_cAllocations = 0;

void* Allocate(size_t cb)
{
    if (t_bWatching) {
        t_cAllocations++;
    }
    void* pBlock = malloc(cb != 0 ? cb : 1);
    if (pBlock == nullptr) {
        throw std::bad_alloc();
    }
    return pBlock;
}

}  // namespace

void StartWatchingHeap()
{
    t_cAllocations = 0;
    t_bWatching = true;
}

size_t StopWatchingHeap()
{
    t_bWatching = false;
    return t_cAllocations;
}

void* operator new(size_t cb)
{
    return Allocate(cb);
}

void* operator new[](size_t cb)
{
    return Allocate(cb);
}

void operator delete(void* pBlock) noexcept
{
    free(pBlock);
}

void operator delete[](void* pBlock) noexcept
{
    free(pBlock);
}

void operator delete(void* pBlock, size_t) noexcept
{
    free(pBlock);
}

void operator delete[](void* pBlock, size_t) noexcept
{
    free(pBlock);
}
