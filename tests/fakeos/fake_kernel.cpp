// The fake kernel: named events and mutexes with owners, waits, the last error, the heap,
// security descriptors, the version query and debug output.
#include <stdlib.h>
#include <string.h>

#include "tests/fakeos/fake_machine.h"

using namespace fakeos;

namespace {

std::u16string NameOf(LPCWSTR lpName)
{
    return lpName != nullptr ? std::u16string(lpName) : std::u16string();
}

std::string CreateCallText(const char* pszCall, LPCWSTR lpName, bool bOpenSecurity)
{
    return std::string(pszCall) + "(" + Utf8(NameOf(lpName)) +
           (bOpenSecurity ? ", open" : ", default") + ")";
}

bool IsOpenSecurity(LPSECURITY_ATTRIBUTES lpAttributes)
{
    if (lpAttributes == nullptr || lpAttributes->nLength != sizeof(SECURITY_ATTRIBUTES)) {
        return false;
    }
    const auto* pDescriptor =
        static_cast<const SECURITY_DESCRIPTOR*>(lpAttributes->lpSecurityDescriptor);
    return pDescriptor != nullptr && (pDescriptor->Control & SE_DACL_PRESENT) != 0 &&
           pDescriptor->Dacl == nullptr;
}

Object BlankObject(ObjectKind kind, const std::u16string& name)
{
    Object object{};
    object.kind = kind;
    object.name = name;
    object.owner = Owner::None;
    return object;
}

// Creates or opens a named object for the helper, as CreateEventW and CreateMutexW do.
HANDLE CreateOrOpen(ObjectKind kind, const Object& blank, LPCWSTR lpName, const char* pszCall,
                    bool bOpenSecurity)
{
    std::string callText = CreateCallText(pszCall, lpName, bOpenSecurity);
    Machine& m = TheMachine();

    int objectId = 0;
    Object* pExisting = FindNamed(NameOf(lpName), &objectId);
    if (pExisting != nullptr && pExisting->kind != kind) {
        m.dwLastError = ERROR_INVALID_HANDLE;
        Record(callText + " = NULL 6");
        return nullptr;
    }
    DWORD dwError = ERROR_SUCCESS;
    if (pExisting != nullptr) {
        dwError = ERROR_ALREADY_EXISTS;
    } else {
        objectId = NewObject(blank);
    }
    HANDLE hHandle = NewHandle(objectId);
    m.dwLastError = dwError;
    Record(callText + " = " + HandleText(hHandle) +
           (dwError == ERROR_ALREADY_EXISTS ? " existing" : ""));
    return hHandle;
}

void CreateElsewhere(ObjectKind kind, const std::u16string& name)
{
    Object* pObject = FindNamed(name);
    if (pObject == nullptr) {
        pObject = &TheMachine().objects.at(NewObject(BlankObject(kind, name)));
    }
    pObject->bHeldElsewhere = true;
}

bool IsAvailable(const Object& object)
{
    if (object.kind == ObjectKind::Event) {
        return object.bSignalled;
    }
    return object.owner != Owner::Elsewhere;
}

// Gives the helper what a satisfied wait gives: a mutex's ownership, an auto-reset event's
// signal. Returns whether a mutex came abandoned.
bool Acquire(Object* pObject)
{
    if (pObject->kind == ObjectKind::Event) {
        if (!pObject->bManualReset) {
            pObject->bSignalled = false;
        }
        return false;
    }
    bool bAbandoned = pObject->bAbandoned;
    pObject->bAbandoned = false;
    pObject->owner = Owner::Helper;
    pObject->nRecursion++;
    return bAbandoned;
}

}  // namespace

namespace fakeos {

void CreateEventElsewhere(const std::u16string& name)
{
    CreateElsewhere(ObjectKind::Event, name);
}

void CreateMutexElsewhere(const std::u16string& name)
{
    CreateElsewhere(ObjectKind::Mutex, name);
}

void HoldMutexElsewhere(const std::u16string& name)
{
    CreateElsewhere(ObjectKind::Mutex, name);
    Object* pObject = FindNamed(name);
    pObject->owner = Owner::Elsewhere;
    pObject->nRecursion = 1;
}

void ReleaseMutexElsewhere(const std::u16string& name)
{
    Object* pObject = FindNamed(name);
    if (pObject != nullptr && pObject->owner == Owner::Elsewhere) {
        pObject->owner = Owner::None;
        pObject->nRecursion = 0;
    }
}

void AbandonMutexElsewhere(const std::u16string& name)
{
    HoldMutexElsewhere(name);
    Object* pObject = FindNamed(name);
    pObject->owner = Owner::None;
    pObject->nRecursion = 0;
    pObject->bAbandoned = true;
}

void ScriptWaitResult(DWORD dwResult, DWORD dwError)
{
    TheMachine().scriptedWaits.emplace_back(dwResult, dwError);
}

bool ObjectExists(const std::u16string& name)
{
    return FindNamed(name) != nullptr;
}

bool IsHeldByHelper(const std::u16string& name)
{
    Object* pObject = FindNamed(name);
    return pObject != nullptr && pObject->kind == ObjectKind::Mutex &&
           pObject->owner == Owner::Helper;
}

bool IsEventSignalled(const std::u16string& name)
{
    Object* pObject = FindNamed(name);
    return pObject != nullptr && pObject->kind == ObjectKind::Event && pObject->bSignalled;
}

std::u16string NameOfHandle(HANDLE hHandle)
{
    Object* pObject = LookUp(hHandle);
    return pObject != nullptr ? pObject->name : std::u16string();
}

void SetVersion(DWORD dwPlatformId, DWORD dwMajorVersion, DWORD dwMinorVersion)
{
    Machine& m = TheMachine();
    m.dwPlatformId = dwPlatformId;
    m.dwMajorVersion = dwMajorVersion;
    m.dwMinorVersion = dwMinorVersion;
}

void SetVersionFailure(VersionFailure failure)
{
    TheMachine().versionFailure = failure;
}

std::vector<DWORD> VersionQuerySizes()
{
    return TheMachine().versionQuerySizes;
}

}  // namespace fakeos

DWORD WINAPI GetLastError(void)
{
    return TheMachine().dwLastError;
}

void WINAPI SetLastError(DWORD dwErrCode)
{
    TheMachine().dwLastError = dwErrCode;
}

HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner,
                           LPCWSTR lpName)
{
    if (ShouldFail(Api::CreateMutexW)) {
        Record(CreateCallText("CreateMutexW", lpName, IsOpenSecurity(lpMutexAttributes)) +
               " = NULL " + std::to_string(GetLastError()));
        return nullptr;
    }
    HANDLE hMutex = CreateOrOpen(ObjectKind::Mutex, BlankObject(ObjectKind::Mutex, NameOf(lpName)),
                                 lpName, "CreateMutexW", IsOpenSecurity(lpMutexAttributes));
    if (hMutex != nullptr && bInitialOwner && LookUp(hMutex)->owner != Owner::Elsewhere) {
        Acquire(LookUp(hMutex));
    }
    return hMutex;
}

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                           BOOL bInitialState, LPCWSTR lpName)
{
    if (ShouldFail(Api::CreateEventW)) {
        Record(CreateCallText("CreateEventW", lpName, IsOpenSecurity(lpEventAttributes)) +
               " = NULL " + std::to_string(GetLastError()));
        return nullptr;
    }
    Object blank = BlankObject(ObjectKind::Event, NameOf(lpName));
    blank.bManualReset = bManualReset != FALSE;
    blank.bSignalled = bInitialState != FALSE;
    std::string callName = std::string("CreateEventW") + (bManualReset ? "[manual" : "[auto") +
                           (bInitialState ? ",set]" : ",clear]");
    return CreateOrOpen(ObjectKind::Event, blank, lpName, callName.c_str(),
                        IsOpenSecurity(lpEventAttributes));
}

BOOL WINAPI ReleaseMutex(HANDLE hMutex)
{
    std::string callText = "ReleaseMutex(" + HandleText(hMutex) + ")";
    Object* pObject = LookUp(hMutex);
    DWORD dwError = ERROR_SUCCESS;
    if (ShouldFail(Api::ReleaseMutex)) {
        dwError = GetLastError();
    } else if (pObject == nullptr || pObject->kind != ObjectKind::Mutex) {
        dwError = ERROR_INVALID_HANDLE;
    } else if (pObject->owner != Owner::Helper) {
        dwError = ERROR_NOT_OWNER;
    }
    if (dwError != ERROR_SUCCESS) {
        SetLastError(dwError);
        Record(callText + " = FALSE " + std::to_string(dwError));
        return FALSE;
    }
    if (--pObject->nRecursion == 0) {
        pObject->owner = Owner::None;
    }
    Record(callText + " = TRUE");
    return TRUE;
}

static BOOL SetEventState(HANDLE hEvent, bool bSignalled, const char* pszCall)
{
    std::string callText = std::string(pszCall) + "(" + HandleText(hEvent) + ")";
    Object* pObject = LookUp(hEvent);
    if (pObject == nullptr || pObject->kind != ObjectKind::Event) {
        SetLastError(ERROR_INVALID_HANDLE);
        Record(callText + " = FALSE 6");
        return FALSE;
    }
    pObject->bSignalled = bSignalled;
    Record(callText + " = TRUE");
    return TRUE;
}

BOOL WINAPI SetEvent(HANDLE hEvent)
{
    return SetEventState(hEvent, true, "SetEvent");
}

BOOL WINAPI ResetEvent(HANDLE hEvent)
{
    return SetEventState(hEvent, false, "ResetEvent");
}

DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                                    DWORD dwMilliseconds)
{
    Machine& m = TheMachine();
    std::string callText = "WaitForMultipleObjects(" + std::to_string(nCount) +
                           (bWaitAll ? ", all, " : ", any, ") + std::to_string(dwMilliseconds) +
                           ")";
    auto finish = [&](DWORD dwResult, DWORD dwError) {
        if (dwResult == WAIT_FAILED) {
            SetLastError(dwError);
            Record(callText + " = WAIT_FAILED " + std::to_string(dwError));
        } else {
            Record(callText + " = " + std::to_string(dwResult));
        }
        return dwResult;
    };

    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || lpHandles == nullptr) {
        return finish(WAIT_FAILED, ERROR_INVALID_PARAMETER);
    }
    std::vector<Object*> objects;
    for (DWORD i = 0; i < nCount; i++) {
        Object* pObject = LookUp(lpHandles[i]);
        if (pObject == nullptr || pObject->kind == ObjectKind::Printer) {
            return finish(WAIT_FAILED, ERROR_INVALID_HANDLE);
        }
        objects.push_back(pObject);
    }

    if (!m.scriptedWaits.empty()) {
        auto [dwResult, dwError] = m.scriptedWaits.front();
        m.scriptedWaits.pop_front();
        bool bAcquires = dwResult < WAIT_OBJECT_0 + nCount ||
                         (dwResult >= WAIT_ABANDONED_0 && dwResult < WAIT_ABANDONED_0 + nCount);
        if (bAcquires) {
            for (Object* pObject : objects) {
                Acquire(pObject);
            }
        }
        return finish(dwResult, dwError);
    }

    // Everything here happens at once: an object that is not available now would stay so
    // for the whole time limit, since nothing else runs while the helper waits.
    if (bWaitAll) {
        for (Object* pObject : objects) {
            if (!IsAvailable(*pObject)) {
                return finish(WAIT_TIMEOUT, ERROR_SUCCESS);
            }
        }
        DWORD dwResult = WAIT_OBJECT_0;
        for (DWORD i = 0; i < nCount; i++) {
            if (Acquire(objects[i]) && dwResult == WAIT_OBJECT_0) {
                dwResult = WAIT_ABANDONED_0 + i;
            }
        }
        return finish(dwResult, ERROR_SUCCESS);
    }
    for (DWORD i = 0; i < nCount; i++) {
        if (IsAvailable(*objects[i])) {
            bool bAbandoned = Acquire(objects[i]);
            return finish((bAbandoned ? WAIT_ABANDONED_0 : WAIT_OBJECT_0) + i, ERROR_SUCCESS);
        }
    }
    return finish(WAIT_TIMEOUT, ERROR_SUCCESS);
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    return WaitForMultipleObjects(1, &hHandle, TRUE, dwMilliseconds);
}

BOOL WINAPI CloseHandle(HANDLE hObject)
{
    Machine& m = TheMachine();
    std::string callText = "CloseHandle(" + HandleText(hObject) + ")";
    auto it = m.handles.find(reinterpret_cast<ULONG_PTR>(hObject));
    if (ShouldFail(Api::CloseHandle) || it == m.handles.end()) {
        if (it == m.handles.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
        }
        Record(callText + " = FALSE " + std::to_string(GetLastError()));
        return FALSE;
    }
    int objectId = it->second;
    m.handles.erase(it);
    Object& object = m.objects.at(objectId);
    // Closing a handle never gives up a mutex's ownership: that stays with the thread.
    if (--object.nHelperHandles == 0 && !object.bHeldElsewhere) {
        m.objects.erase(objectId);
    }
    Record(callText + " = TRUE");
    return TRUE;
}

void WINAPI Sleep(DWORD dwMilliseconds)
{
    Record("Sleep(" + std::to_string(dwMilliseconds) + ")");
}

BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD dwRevision)
{
    if (ShouldFail(Api::InitializeSecurityDescriptor)) {
        return FALSE;
    }
    if (dwRevision != SECURITY_DESCRIPTOR_REVISION) {
        SetLastError(1305);  // ERROR_UNKNOWN_REVISION
        return FALSE;
    }
    memset(pSecurityDescriptor, 0, sizeof(SECURITY_DESCRIPTOR));
    static_cast<SECURITY_DESCRIPTOR*>(pSecurityDescriptor)->Revision = SECURITY_DESCRIPTOR_REVISION;
    return TRUE;
}

BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent,
                                      PACL pDacl, BOOL bDaclDefaulted)
{
    if (ShouldFail(Api::SetSecurityDescriptorDacl)) {
        return FALSE;
    }
    auto* pDescriptor = static_cast<SECURITY_DESCRIPTOR*>(pSecurityDescriptor);
    pDescriptor->Control = static_cast<WORD>((bDaclPresent ? SE_DACL_PRESENT : 0) |
                                             (bDaclDefaulted ? SE_DACL_DEFAULTED : 0));
    pDescriptor->Dacl = pDacl;
    return TRUE;
}

static int s_processHeap;

HANDLE WINAPI GetProcessHeap(void)
{
    return &s_processHeap;
}

LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes)
{
    // A failing allocation leaves the last error as it was, as HeapAlloc does.
    DWORD dwLastError = GetLastError();
    bool bFail = ShouldFail(Api::HeapAlloc);
    SetLastError(dwLastError);
    if (hHeap != &s_processHeap || bFail) {
        return nullptr;
    }
    // Exactly the size asked for (but never zero bytes), so that the sanitizers see an overrun.
    size_t cbBlock = dwBytes != 0 ? dwBytes : 1;
    void* pBlock = (dwFlags & HEAP_ZERO_MEMORY) != 0 ? calloc(1, cbBlock) : malloc(cbBlock);
    if (pBlock != nullptr) {
        TheMachine().nHeapBlocks++;
    }
    return pBlock;
}

BOOL WINAPI HeapFree(HANDLE hHeap, DWORD /*dwFlags*/, LPVOID lpMem)
{
    if (hHeap != &s_processHeap) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (lpMem != nullptr) {
        TheMachine().nHeapBlocks--;
        free(lpMem);
    }
    return TRUE;
}

BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW lpVersionInformation)
{
    Machine& m = TheMachine();
    DWORD cbSize = lpVersionInformation->dwOSVersionInfoSize;
    m.versionQuerySizes.push_back(cbSize);

    bool bExtended = cbSize == sizeof(OSVERSIONINFOEXW);
    bool bFails = m.versionFailure == VersionFailure::Always ||
                  (bExtended && m.versionFailure == VersionFailure::ExtendedOnly) ||
                  (!bExtended && cbSize != sizeof(OSVERSIONINFOW));
    if (bFails) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    lpVersionInformation->dwMajorVersion = m.dwMajorVersion;
    lpVersionInformation->dwMinorVersion = m.dwMinorVersion;
    lpVersionInformation->dwPlatformId = m.dwPlatformId;
    return TRUE;
}

void WINAPI OutputDebugStringW(LPCWSTR lpOutputString)
{
    TheMachine().traces.push_back(Utf8(lpOutputString));
}
