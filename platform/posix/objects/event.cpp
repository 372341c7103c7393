// Events: signaled or not. Setting a manual-reset event grants every wait it satisfies and it
// stays signaled; setting an auto-reset event grants the first wait it satisfies (in arrival
// order), which resets it, or stays signaled until a wait comes.
#include "platform/posix/objects/internal.h"

namespace objects {

void InitialiseEvent(uint32_t object, BOOL bManualReset, BOOL bInitialState)
{
    EventState& event = ObjectAt(object).event;
    event.manualReset = bManualReset ? 1 : 0;
    event.signaled = bInitialState ? 1 : 0;
}

bool EventSignaled(const ObjectSlot& event)
{
    return event.event.signaled != 0;
}

void ConsumeEvent(uint32_t object)
{
    EventState& event = ObjectAt(object).event;
    if (!event.manualReset) {
        event.signaled = 0;
    }
}

namespace {

void ChangeState(uint32_t object, bool bSignaled)
{
    ObjectAt(object).event.signaled = bSignaled ? 1 : 0;
    if (bSignaled) {
        ObjectSignaled(object);
    }
}

}  // namespace

}  // namespace objects

using namespace objects;

namespace {

BOOL ChangeEvent(HANDLE hEvent, bool bSignaled)
{
    if (EnterKernel() == 0) {
        return FALSE;
    }
    DWORD dwError = ERROR_SUCCESS;
    uint32_t object = ResolveHandle(hEvent, kEventObject, EVENT_MODIFY_STATE, &dwError);
    if (object == 0) {
        LeaveKernel();
        SetLastError(dwError);
        return FALSE;
    }
    ChangeState(object, bSignaled);
    LeaveKernel();
    return TRUE;
}

}  // namespace

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                           BOOL bInitialState, LPCWSTR lpName)
{
    CreateRequest request = {.kind = kEventObject,
                             .access = EVENT_ALL_ACCESS,
                             .lpAttributes = lpEventAttributes,
                             .lpName = lpName,
                             .bInitialOwner = FALSE,
                             .bManualReset = bManualReset,
                             .bInitialState = bInitialState};
    return CreateObject(request);
}

HANDLE WINAPI OpenEventW(DWORD dwDesiredAccess, BOOL /*bInheritHandle*/, LPCWSTR lpName)
{
    return OpenObject(kEventObject, dwDesiredAccess, lpName);
}

BOOL WINAPI SetEvent(HANDLE hEvent)
{
    return ChangeEvent(hEvent, true);
}

BOOL WINAPI ResetEvent(HANDLE hEvent)
{
    return ChangeEvent(hEvent, false);
}
