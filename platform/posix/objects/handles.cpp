// The handle table of this process, in process memory, guarded by the kernel lock like the
// arena. A handle value is a small multiple of 4 (never NULL, never INVALID_HANDLE_VALUE) that
// carries its entry's index and generation, so a closed handle does not reach the entry's next
// use; the entry keeps its object's generation, so it cannot reach a reused object slot.
#include "platform/posix/objects/internal.h"

namespace objects {

namespace {

struct HandleEntry {
    uint32_t object;
    uint32_t objectGeneration;
    DWORD access;
    uint16_t generation;
    uint16_t used;
};

constexpr int kIndexShift = 2;  // handle values are multiples of 4, as on Windows
constexpr int kGenerationShift = 14;
static_assert(kHandleSlots == (1u << (kGenerationShift - kIndexShift)));

HandleEntry s_handles[kHandleSlots];
uint32_t s_nextFree = 1;  // where the search for a free entry starts

HANDLE EncodeHandle(uint32_t index, uint16_t generation)
{
    uintptr_t value = (static_cast<uintptr_t>(generation) << kGenerationShift) |
                      (static_cast<uintptr_t>(index) << kIndexShift);
    return reinterpret_cast<HANDLE>(value);
}

HandleEntry* EntryOf(HANDLE hObject)
{
    uintptr_t value = reinterpret_cast<uintptr_t>(hObject);
    uint32_t index = static_cast<uint32_t>(value >> kIndexShift) & (kHandleSlots - 1);
    uintptr_t generation = value >> kGenerationShift;
    if (value !=
        reinterpret_cast<uintptr_t>(EncodeHandle(index, static_cast<uint16_t>(generation)))) {
        return nullptr;  // not a value this table hands out
    }
    HandleEntry& entry = s_handles[index];
    if (index == 0 || !entry.used || entry.generation != generation ||
        ObjectAt(entry.object).generation != entry.objectGeneration) {
        return nullptr;
    }
    return &entry;
}

uint32_t FindFreeEntry()
{
    for (uint32_t n = 1; n < kHandleSlots; n++) {
        uint32_t index = (s_nextFree + n - 1) % (kHandleSlots - 1) + 1;
        if (!s_handles[index].used) {
            s_nextFree = index % (kHandleSlots - 1) + 1;
            return index;
        }
    }
    return 0;
}

}  // namespace

HANDLE InsertHandle(uint32_t object, DWORD access)
{
    uint32_t index = FindFreeEntry();
    if (index == 0 || !AddReference(object, g_machine.process)) {
        return nullptr;
    }
    HandleEntry& entry = s_handles[index];
    entry.generation = static_cast<uint16_t>(entry.generation + 1);
    if (entry.generation == 0) {
        entry.generation = 1;
    }
    entry.used = 1;
    entry.object = object;
    entry.objectGeneration = ObjectAt(object).generation;
    entry.access = access;
    return EncodeHandle(index, entry.generation);
}

uint32_t ResolveHandle(HANDLE hObject, uint32_t kind, DWORD access, DWORD* pError)
{
    const HandleEntry* pEntry = EntryOf(hObject);
    if (pEntry == nullptr || (kind != kFreeObject && KindOf(pEntry->object) != kind)) {
        *pError = ERROR_INVALID_HANDLE;
        return 0;
    }
    if ((pEntry->access & access) != access) {
        *pError = ERROR_ACCESS_DENIED;
        return 0;
    }
    return pEntry->object;
}

void ForgetAllHandles()
{
    // Generations survive, so handles from before stay invalid after the table is reused.
    for (HandleEntry& entry : s_handles) {
        entry.used = 0;
        entry.object = 0;
    }
    s_nextFree = 1;
}

}  // namespace objects

using namespace objects;

BOOL WINAPI CloseHandle(HANDLE hObject)
{
    if (EnterKernel() == 0) {
        return FALSE;
    }
    HandleEntry* pEntry = EntryOf(hObject);
    if (pEntry == nullptr) {
        LeaveKernel();
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    uint32_t object = pEntry->object;
    pEntry->used = 0;
    uint32_t reference = FindReference(object, g_machine.process);
    if (reference != 0) {  // else a repair found the count already gone
        DropReference(reference, 1);
    }
    LeaveKernel();
    return TRUE;
}
