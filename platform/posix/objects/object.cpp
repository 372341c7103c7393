// Object slots and what every kind shares: references per process, the create and open paths
// with their names and security, and destruction once nothing refers to an object.
//
// Security is the creator's choice between two descriptors: open (a present, null DACL), which
// lets every user open the object, and default (no attributes, or any other descriptor), which
// lets only the creating user open it. Others get ERROR_ACCESS_DENIED.
#include <unistd.h>

#include "platform/posix/objects/internal.h"

namespace objects {

namespace {

bool IsOpenSecurity(LPSECURITY_ATTRIBUTES lpAttributes)
{
    if (lpAttributes == nullptr || lpAttributes->lpSecurityDescriptor == nullptr) {
        return false;
    }
    const auto* pDescriptor =
        static_cast<const SECURITY_DESCRIPTOR*>(lpAttributes->lpSecurityDescriptor);
    return (pDescriptor->Control & SE_DACL_PRESENT) != 0 && pDescriptor->Dacl == nullptr;
}

bool MayOpen(const ObjectSlot& object)
{
    return object.openToEveryone != 0 || object.creatorUid == geteuid();
}

uint32_t AllocateObject()
{
    for (int pass = 0; pass < 2; pass++) {
        for (uint32_t o = 1; o < kObjectSlots; o++) {
            if (KindOf(o) == kFreeObject) {
                return o;
            }
        }
        // Objects of dead processes may be all that fills the table.
        SweepDeadThreads();
        SweepDeadProcesses();
    }
    return 0;
}

uint32_t AllocateReference()
{
    for (uint32_t r = 1; r < kReferenceSlots; r++) {
        if (TheArena().references[r].handles == 0) {
            return r;
        }
    }
    return 0;
}

// Finds the named object, first letting go of it for every holder that died.
uint32_t LookUp(const ObjectName& name)
{
    uint32_t object = FindNamedObject(name);
    if (object == 0) {
        return 0;
    }
    ReapDeadHolders(object);
    return FindNamedObject(name);
}

uint32_t NewObject(const CreateRequest& request, const ObjectName& name)
{
    uint32_t object = AllocateObject();
    if (object == 0) {
        return 0;
    }
    ObjectSlot& slot = ObjectAt(object);
    slot.handles = 0;
    slot.waiters = 0;
    slot.firstReference = 0;
    slot.creatorUid = geteuid();
    slot.openToEveryone = IsOpenSecurity(request.lpAttributes) ? 1 : 0;
    PublishName(object, name);
    if (request.kind == kMutexObject) {
        InitialiseMutex(object);
    } else {
        InitialiseEvent(object, request.bManualReset, request.bInitialState);
    }
    // Last: a holder of the kernel lock that dies before this leaves the slot free.
    KindOf(object) = request.kind;
    return object;
}

}  // namespace

bool AddReference(uint32_t object, uint32_t process)
{
    uint32_t reference = FindReference(object, process);
    if (reference == 0) {
        reference = AllocateReference();
        if (reference == 0) {
            return false;
        }
        ReferenceSlot& r = TheArena().references[reference];
        r = ReferenceSlot{object, process, 0, ObjectAt(object).firstReference,
                          TheArena().processes[process].firstReference};
        ObjectAt(object).firstReference = reference;
        TheArena().processes[process].firstReference = reference;
    }
    TheArena().references[reference].handles++;
    ObjectAt(object).handles++;
    return true;
}

uint32_t FindReference(uint32_t object, uint32_t process)
{
    for (uint32_t r = ObjectAt(object).firstReference; r != 0;
         r = TheArena().references[r].nextInObject) {
        if (TheArena().references[r].process == process) {
            return r;
        }
    }
    return 0;
}

void DropReference(uint32_t reference, uint32_t handles)
{
    ReferenceSlot& r = TheArena().references[reference];
    uint32_t object = r.object;
    r.handles -= handles;
    ObjectAt(object).handles -= handles;
    if (r.handles == 0) {
        for (uint32_t* pLink = &ObjectAt(object).firstReference; *pLink != 0;
             pLink = &TheArena().references[*pLink].nextInObject) {
            if (*pLink == reference) {
                *pLink = r.nextInObject;
                break;
            }
        }
        for (uint32_t* pLink = &TheArena().processes[r.process].firstReference; *pLink != 0;
             pLink = &TheArena().references[*pLink].nextInProcess) {
            if (*pLink == reference) {
                *pLink = r.nextInProcess;
                break;
            }
        }
        r = ReferenceSlot{};
    }
    DestroyIfUnused(object);
}

void DestroyIfUnused(uint32_t object)
{
    uint32_t kind = KindOf(object);
    ObjectSlot& slot = ObjectAt(object);
    if (kind == kFreeObject || slot.handles != 0 || slot.waiters != 0) {
        return;
    }
    if (kind == kMutexObject && slot.mutex.owner != 0) {
        DisownMutex(object);
    }
    WithdrawName(object);
    KindOf(object) = kFreeObject;
    slot.generation++;
    slot.nameSpace = kUnnamed;
    slot.nameLength = 0;
    slot.firstReference = 0;
}

bool IsSignaledFor(uint32_t object, uint32_t thread)
{
    const ObjectSlot& slot = ObjectAt(object);
    return KindOf(object) == kMutexObject ? MutexSignaledFor(slot, thread) : EventSignaled(slot);
}

bool AcquireFor(uint32_t object, uint32_t thread)
{
    if (KindOf(object) == kMutexObject) {
        return GrabMutex(object, thread);
    }
    ConsumeEvent(object);
    return false;
}

HANDLE CreateObject(const CreateRequest& request)
{
    ObjectName name;
    DWORD dwError = ParseObjectName(request.lpName, &name);
    if (dwError != ERROR_SUCCESS) {
        SetLastError(dwError);
        return nullptr;
    }
    uint32_t thread = EnterKernel();
    if (thread == 0) {
        return nullptr;
    }

    HANDLE hObject = nullptr;
    uint32_t object = name.nameSpace != kUnnamed ? LookUp(name) : 0;
    if (object != 0) {
        // An existing object is opened as it is: the kind, the creator's security and its
        // state stand; bInitialOwner, bManualReset and bInitialState are not looked at.
        if (KindOf(object) != request.kind) {
            dwError = ERROR_INVALID_HANDLE;
        } else if (!MayOpen(ObjectAt(object))) {
            dwError = ERROR_ACCESS_DENIED;
        } else {
            hObject = InsertHandle(object, request.access);
            dwError = hObject != nullptr ? ERROR_ALREADY_EXISTS : ERROR_NO_SYSTEM_RESOURCES;
        }
    } else {
        object = NewObject(request, name);
        hObject = object != 0 ? InsertHandle(object, request.access) : nullptr;
        if (hObject == nullptr) {
            if (object != 0) {
                DestroyIfUnused(object);
            }
            dwError = ERROR_NO_SYSTEM_RESOURCES;
        } else if (request.kind == kMutexObject && request.bInitialOwner) {
            GrabMutex(object, thread);
        }
    }
    LeaveKernel();
    SetLastError(dwError);
    return hObject;
}

HANDLE OpenObject(uint32_t kind, DWORD dwDesiredAccess, LPCWSTR lpName)
{
    if (lpName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    ObjectName name;
    DWORD dwError = ParseObjectName(lpName, &name);
    if (dwError == ERROR_SUCCESS && name.nameSpace == kUnnamed) {
        dwError = ERROR_INVALID_NAME;  // the empty name names no object
    }
    if (dwError != ERROR_SUCCESS) {
        SetLastError(dwError);
        return nullptr;
    }
    if (EnterKernel() == 0) {
        return nullptr;
    }

    HANDLE hObject = nullptr;
    uint32_t object = LookUp(name);
    if (object == 0) {
        dwError = ERROR_FILE_NOT_FOUND;
    } else if (KindOf(object) != kind) {
        dwError = ERROR_INVALID_HANDLE;
    } else if (!MayOpen(ObjectAt(object))) {
        dwError = ERROR_ACCESS_DENIED;
    } else {
        hObject = InsertHandle(object, dwDesiredAccess);
        if (hObject == nullptr) {
            dwError = ERROR_NO_SYSTEM_RESOURCES;
        }
    }
    LeaveKernel();
    if (hObject == nullptr) {
        SetLastError(dwError);
    }
    return hObject;
}

}  // namespace objects
