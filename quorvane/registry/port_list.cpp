#include "quorvane/registry/port_list.h"

#include "quorvane/support/trace.h"

PortList g_PortList;

void InitPortList()
{
    g_PortList.pHead = NULL;
    g_PortList.nPorts = 0;
}

PortEntry* FindPort(ULONG_PTR hPort)
{
    for (PortEntry* pEntry = g_PortList.pHead; pEntry != NULL; pEntry = pEntry->pNext) {
        if (pEntry->hPort == hPort) {
            return pEntry;
        }
    }
    return NULL;
}

BOOL AddPort(ULONG_PTR hPort, HANDLE hMutex)
{
    PortEntry* pEntry =
        static_cast<PortEntry*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(PortEntry)));
    if (pEntry == NULL) {
        return FALSE;
    }
    pEntry->hPort = hPort;
    pEntry->hMutex = hMutex;
    pEntry->pNext = g_PortList.pHead;
    g_PortList.pHead = pEntry;
    g_PortList.nPorts++;
    return TRUE;
}

void RemovePort(ULONG_PTR hPort)
{
    PortEntry** ppLink = &g_PortList.pHead;
    while (*ppLink != NULL && (*ppLink)->hPort != hPort) {
        ppLink = &(*ppLink)->pNext;
    }

    PortEntry* pEntry = *ppLink;
    if (pEntry == NULL) {
        return;
    }
    *ppLink = pEntry->pNext;
    HeapFree(GetProcessHeap(), 0, pEntry);
    g_PortList.nPorts--;
}

void NoteAcquired(LONG nEntries)
{
    LONG nNoted = 0;
    for (PortEntry* pEntry = g_PortList.pHead; pEntry != NULL && nNoted < nEntries;
         pEntry = pEntry->pNext, nNoted++) {
        pEntry->nAcquired++;
    }
}

BOOL ReleasePortMutex(PortEntry* pEntry)
{
    if (!ReleaseMutex(pEntry->hMutex)) {
        return FALSE;
    }
    if (pEntry->nAcquired > 0) {
        pEntry->nAcquired--;
    }
    return TRUE;
}

void GiveBackPortMutex(PortEntry* pEntry)
{
    while (pEntry->nAcquired > 0) {
        if (!ReleasePortMutex(pEntry)) {
            // The platform says this thread holds nothing more: nothing is left to give back.
            pEntry->nAcquired = 0;
        }
    }
}

void ClosePortMutex(PortEntry* pEntry)
{
    GiveBackPortMutex(pEntry);
    CloseHandle(pEntry->hMutex);
}

void Dump(LPCWSTR pszCaller)
{
    TraceMessage(TEXT("QUORVANE%s : Dump() : %d Item(s)\n"), pszCaller, g_PortList.nPorts);

    int nIndex = 0;
    for (PortEntry* pEntry = g_PortList.pHead; pEntry != NULL; pEntry = pEntry->pNext) {
        TraceMessage(TEXT("QUORVANE[%d] hPort = %016Ix, hMutex = %016Ix\n"), nIndex, pEntry->hPort,
                     reinterpret_cast<ULONG_PTR>(pEntry->hMutex));
        nIndex++;
    }
}

void ClearPortList()
{
    for (PortEntry* pEntry = g_PortList.pHead; pEntry != NULL; pEntry = pEntry->pNext) {
        ClosePortMutex(pEntry);
    }
    while (g_PortList.pHead != NULL) {
        PortEntry* pEntry = g_PortList.pHead;
        g_PortList.pHead = pEntry->pNext;
        HeapFree(GetProcessHeap(), 0, pEntry);
        g_PortList.nPorts--;
    }
}
