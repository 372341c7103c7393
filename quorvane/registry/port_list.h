// The port registry: the ports the port component has registered, newest first, each with
// the helper's handle to that port's hardware-access mutex.
#pragma once

#include "platform/win32.h"

struct PortEntry {
    ULONG_PTR hPort;   // the port key: an identity only, never dereferenced
    HANDLE hMutex;     // the port's hardware-access mutex, owned by this entry
    PortEntry* pNext;  // the next older registration
    LONG nAcquired;    // how often this thread's waits took the mutex and have not given it back
};

struct PortList {
    PortEntry* pHead;  // the newest registration, or NULL when empty
    LONG nPorts;       // the number of entries in the chain
};

extern PortList g_PortList;

// Sets the registry empty without touching any entry: for start-up, before any exists.
void InitPortList();

PortEntry* FindPort(ULONG_PTR hPort);

// Puts a new entry at the head. Returns FALSE, changing nothing, when it cannot be allocated.
BOOL AddPort(ULONG_PTR hPort, HANDLE hMutex);

// Unlinks and frees the entry with this key, if any. Its handle is the caller's to close first.
void RemovePort(ULONG_PTR hPort);

// Records that a wait took the mutexes of the first nEntries entries from the head.
void NoteAcquired(LONG nEntries);

// Releases the entry's mutex once, as the resume does for every port, held or not. A success
// gives back one acquisition.
BOOL ReleasePortMutex(PortEntry* pEntry);

// Gives back every acquisition the entry still records. A mutex is recursive: a suspend
// queried twice takes it twice, and one release alone would leave the port locked.
void GiveBackPortMutex(PortEntry* pEntry);

// Gives back what this thread holds of the entry's mutex, then closes the handle: closing
// alone would keep the port locked for as long as the helper lives.
void ClosePortMutex(PortEntry* pEntry);

// Traces the count and every entry under the caller's name, e.g. "OnPowRegister()".
void Dump(LPCWSTR pszCaller);

// Closes every mutex handle and frees every entry.
void ClearPortList();
