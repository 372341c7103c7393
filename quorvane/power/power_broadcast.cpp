#include "quorvane/power/power_broadcast.h"

#include "quorvane/power/printer_activity.h"
#include "quorvane/process/helper_process.h"
#include "quorvane/registry/port_list.h"
#include "quorvane/support/trace.h"
#include "quorvane/support/version.h"

LPCWSTR PowerEventName(WPARAM wEvent)
{
    switch (wEvent) {
        case PBT_APMQUERYSUSPEND:
            return TEXT("PBT_APMQUERYSUSPEND");
        case PBT_APMQUERYSTANDBY:
            return TEXT("PBT_APMQUERYSTANDBY");
        case PBT_APMQUERYSUSPENDFAILED:
            return TEXT("PBT_APMQUERYSUSPENDFAILED");
        case PBT_APMQUERYSTANDBYFAILED:
            return TEXT("PBT_APMQUERYSTANDBYFAILED");
        case PBT_APMSUSPEND:
            return TEXT("PBT_APMSUSPEND");
        case PBT_APMSTANDBY:
            return TEXT("PBT_APMSTANDBY");
        case PBT_APMRESUMECRITICAL:
            return TEXT("PBT_APMRESUMECRITICAL");
        case PBT_APMRESUMESUSPEND:
            return TEXT("PBT_APMRESUMESUSPEND");
        case PBT_APMRESUMESTANDBY:
            return TEXT("PBT_APMRESUMESTANDBY");
        case PBT_APMBATTERYLOW:
            return TEXT("PBT_APMBATTERYLOW");
        case PBT_APMPOWERSTATUSCHANGE:
            return TEXT("PBT_APMPOWERSTATUSCHANGE");
        case PBT_APMOEMEVENT:
            return TEXT("PBT_APMOEMEVENT");
        case PBT_APMRESUMEAUTOMATIC:
            return TEXT("PBT_APMRESUMEAUTOMATIC");
        default:
            return TEXT("Unknown");
    }
}

// Both waits, the query's and the announcement's, end in these words.
static const WCHAR kAllAcquired[] =
    TEXT("QUORVANEOnPowerBroadcast() : All Mutex QUORVANE.HardwareAccess acquired\n");
static const WCHAR kWaitTimedOut[] =
    TEXT("QUORVANEOnPowerBroadcast() : WaitForMultipleObjects() returns WAIT_TIMEOUT\n");

// The handles of every registered port, newest first, for one broadcast's wait.
struct MutexSnapshot {
    HANDLE* phMutexes;  // NULL when the array could not be allocated
    DWORD nCount;
};

static MutexSnapshot TakeSnapshot()
{
    MutexSnapshot snapshot;
    snapshot.nCount = static_cast<DWORD>(g_PortList.nPorts);
    snapshot.phMutexes = static_cast<HANDLE*>(
        HeapAlloc(GetProcessHeap(), 0, sizeof(HANDLE) * static_cast<SIZE_T>(snapshot.nCount)));
    if (snapshot.phMutexes != NULL) {
        DWORD i = 0;
        for (PortEntry* pEntry = g_PortList.pHead; pEntry != NULL && i < snapshot.nCount;
             pEntry = pEntry->pNext) {
            snapshot.phMutexes[i++] = pEntry->hMutex;
        }
    }
    return snapshot;
}

static void FreeSnapshot(MutexSnapshot* pSnapshot)
{
    if (pSnapshot->phMutexes != NULL) {
        HeapFree(GetProcessHeap(), 0, pSnapshot->phMutexes);
        pSnapshot->phMutexes = NULL;
    }
}

static BOOL IsAllAcquired(const MutexSnapshot* pSnapshot, DWORD dwWaitResult)
{
    return dwWaitResult < WAIT_OBJECT_0 + pSnapshot->nCount;
}

// An abandoned mutex is acquired all the same, and a wait-all that reports one took them all.
static BOOL IsAllAcquiredOneAbandoned(const MutexSnapshot* pSnapshot, DWORD dwWaitResult)
{
    return dwWaitResult >= WAIT_ABANDONED_0 && dwWaitResult < WAIT_ABANDONED_0 + pSnapshot->nCount;
}

// Waits until this thread owns every port's mutex at once, or the time runs out, and records
// what it took so that it can all be given back. A snapshot that could not be allocated is a
// wait that failed for want of memory: the broadcast then takes the course of any failed wait.
static DWORD WaitForAllPorts(const MutexSnapshot* pSnapshot, DWORD dwMilliseconds)
{
    if (pSnapshot->phMutexes == NULL) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return WAIT_FAILED;
    }
    DWORD dwWaitResult =
        WaitForMultipleObjects(pSnapshot->nCount, pSnapshot->phMutexes, TRUE, dwMilliseconds);
    if (IsAllAcquired(pSnapshot, dwWaitResult) ||
        IsAllAcquiredOneAbandoned(pSnapshot, dwWaitResult)) {
        NoteAcquired(static_cast<LONG>(pSnapshot->nCount));
    }
    return dwWaitResult;
}

static LRESULT OnQuerySuspend(const MutexSnapshot* pSnapshot)
{
    // From NT 6 on the system no longer waits for an answer it could be refused with; the
    // mutexes are taken when the suspend is announced instead.
    if (IsNt6OrLater()) {
        return TRUE;
    }

    if (IsWindows2000() && IsModelPrinting()) {
        TraceMessage(
            TEXT("QUORVANEOnPowerBroadcast() : We are running Windows 2000 and one printer is "
                 "printing -> deny syspend\n"));
        return BROADCAST_QUERY_DENY;
    }

    DWORD dwWaitResult = WaitForAllPorts(pSnapshot, QUERY_SUSPEND_WAIT_MS);
    if (dwWaitResult == WAIT_TIMEOUT) {
        TraceMessage(kWaitTimedOut);
        TraceMessage(TEXT("QUORVANEOnPowerBroadcast() : Query suspend is denied\n"));
        return BROADCAST_QUERY_DENY;
    }
    if (dwWaitResult == WAIT_FAILED) {
        TraceMessage(TEXT("QUORVANEOnPowerBroadcast() : WaitForMultipleObjects() returns "
                          "WAIT_FAILED. GetLastError() = %d\n"),
                     GetLastError());
    } else if (IsAllAcquired(pSnapshot, dwWaitResult)) {
        TraceMessage(kAllAcquired);
    } else {
        // An abandoned mutex: ownership passed to this thread all the same.
        TraceMessage(TEXT("QUORVANEOnPowerBroadcast() : WaitForMultipleObjects() returns %d\n"),
                     dwWaitResult);
    }
    return TRUE;
}

static LRESULT OnSuspend(const MutexSnapshot* pSnapshot)
{
    SetEvent(g_Process.hSuspendModeEvent);

    if (IsNt6OrLater()) {
        DWORD dwWaitResult = WaitForAllPorts(pSnapshot, SUSPEND_WAIT_MS);
        if (dwWaitResult == WAIT_TIMEOUT) {
            TraceMessage(kWaitTimedOut);
        } else if (IsAllAcquired(pSnapshot, dwWaitResult)) {
            TraceMessage(kAllAcquired);
        } else {
            TraceMessage(TEXT("QUORVANEOnPowerBroadcast() : WaitForSingleObject() returns %d\n"),
                         dwWaitResult);
        }
    }
    // The system is going to sleep whatever the answer: it is only acknowledged.
    return TRUE;
}

// Every port is tried, held or not: a port registered after the mutexes were taken is not
// held, and its failed release must not keep the others locked.
static LRESULT OnSuspendEnded()
{
    LONG nReleased = 0;
    for (PortEntry* pEntry = g_PortList.pHead; pEntry != NULL && nReleased < g_PortList.nPorts;
         pEntry = pEntry->pNext, nReleased++) {
        if (ReleasePortMutex(pEntry)) {
            TraceMessage(TEXT("QUORVANEOnPowerBroadcast() : Release Mutex SUCCEEDED\n"));
            GiveBackPortMutex(pEntry);
        } else {
            TraceMessage(
                TEXT("QUORVANEOnPowerBroadcast() : Release Mutex failed. GetLastError() = %d\n"),
                GetLastError());
        }
    }
    ResetEvent(g_Process.hSuspendModeEvent);
    return TRUE;
}

LRESULT OnPowerBroadcast(HWND /*hwnd*/, WPARAM wParam, LPARAM /*lParam*/)
{
    LONG nPorts = g_PortList.nPorts;

    TraceMessage(TEXT("QUORVANEOnPowerBroadcast(%s)\n"), PowerEventName(wParam));
    Dump(TEXT("OnPowerBroadcast()"));

    if (nPorts == 0) {
        TraceMessage(TEXT("QUORVANEOnPowerBroadcast() : No ports are registered\n"));
        return TRUE;
    }

    MutexSnapshot snapshot = TakeSnapshot();
    LRESULT lResult = TRUE;
    switch (wParam) {
        case PBT_APMQUERYSUSPEND:
            lResult = OnQuerySuspend(&snapshot);
            break;
        case PBT_APMSUSPEND:
            lResult = OnSuspend(&snapshot);
            break;
        case PBT_APMQUERYSUSPENDFAILED:
        case PBT_APMRESUMESUSPEND:
        case PBT_APMRESUMEAUTOMATIC:
            lResult = OnSuspendEnded();
            break;
        default:
            TraceMessage(TEXT("QUORVANEOnPowerBroadcast() : Unmatched\n"));
            break;
    }
    FreeSnapshot(&snapshot);
    return lResult;
}
