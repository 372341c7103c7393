// A fake operating system for unit tests: the Win32 calls that the helper makes, linked in
// place of the real platform. It keeps a small model of the machine (named objects with their
// owners, windows, a message queue, a spooler, the heap), records what the helper did, and lets
// a test script the failures and answers that a real machine gives only rarely.
//
// Everything runs on the test's thread; the helper's thread is the one that calls in. "Another
// process" is simulated by the functions named ...Elsewhere.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace fakeos {

// The calls a test can make fail.
enum class Api {
    CreateMutexW,
    CreateEventW,
    ReleaseMutex,
    CloseHandle,
    InitializeSecurityDescriptor,
    SetSecurityDescriptorDacl,
    HeapAlloc,
    EnumPrintersW,
    OpenPrinterW,
    GetPrinterW,
    RegisterClassW,
    CreateWindowExW,
};

// A fresh machine: version 6.2, no objects, windows, printers, failures or records.
void Reset();

// The nth call of api from now on (1: the next one) fails with dwError.
void FailCall(Api api, DWORD dwError, int nth = 1);
// Every call of api fails with dwError.
void FailEveryCall(Api api, DWORD dwError);

// --- Version -------------------------------------------------------------------------------
enum class VersionFailure { None, ExtendedOnly, Always };
void SetVersion(DWORD dwPlatformId, DWORD dwMajorVersion, DWORD dwMinorVersion);
void SetVersionFailure(VersionFailure failure);
// The dwOSVersionInfoSize of every GetVersionExW call, in order.
std::vector<DWORD> VersionQuerySizes();

// --- Named objects -------------------------------------------------------------------------
// Another process creates a named event or mutex and keeps a handle to it.
void CreateEventElsewhere(const std::u16string& name);
void CreateMutexElsewhere(const std::u16string& name);
// Another process owns the named mutex (creating it if needed): waits for it time out.
void HoldMutexElsewhere(const std::u16string& name);
// The other process gives the named mutex back.
void ReleaseMutexElsewhere(const std::u16string& name);
// The owner of the named mutex dies holding it: the next wait gets it abandoned.
void AbandonMutexElsewhere(const std::u16string& name);

// The next WaitForMultipleObjects returns dwResult (with dwError as the last error for
// WAIT_FAILED) instead of what the model would give. A result that acquires (an index or an
// abandoned index) gives the helper every handle in the wait, as a wait-all does.
void ScriptWaitResult(DWORD dwResult, DWORD dwError = ERROR_SUCCESS);

bool ObjectExists(const std::u16string& name);
bool IsHeldByHelper(const std::u16string& name);
bool IsEventSignalled(const std::u16string& name);
// Handles the helper has open (objects, printers): 0 once it has given everything back.
int OpenHandleCount();
// Handles of the helper's named objects whose value is hHandle: the object's name, or "".
std::u16string NameOfHandle(HANDLE hHandle);

// --- Windows and messages ------------------------------------------------------------------
// Messages for the window of class "QUORVANE", delivered by GetMessageW in the order queued:
// a posted message is returned to the caller to dispatch; a sent one is handled inside
// GetMessageW and its answer recorded.
void PostToHelper(UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0);
void SendToHelper(UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0);
std::vector<LRESULT> SentMessageAnswers();
// Runs action inside GetMessageW when the queue reaches it: what happens elsewhere between
// two messages.
void QueueAction(std::function<void()> action);
// GetMessageW found nothing to deliver and no quit message: the loop would block forever.
bool MessageQueueRanDry();
// The window procedure and handle of the window created with this class, if any.
HWND FindHelperWindow();
WNDCLASSW RegisteredClass(const std::u16string& className);

// --- Spooler -------------------------------------------------------------------------------
// A local printer; a NULL name or driver makes a record that leaves that string out.
void AddPrinter(const char16_t* pszPrinterName, const char16_t* pszDriverName, DWORD cJobs);
// EnumPrintersW reports cExtra more printers than it wrote into the buffer.
void OverstateEnumeratedCount(DWORD cExtra);
// GetPrinterW asks for, and succeeds with, cbRecord bytes: less than one record.
void ShortenPrinterRecords(DWORD cbRecord);

// --- Heap ----------------------------------------------------------------------------------
// Blocks allocated and not yet freed.
int OutstandingHeapBlocks();

// --- Records -------------------------------------------------------------------------------
// Every debug output message, in order, as UTF-8.
std::vector<std::string> Traces();
// The calls that change or wait on the machine's state, in order, e.g.
// "CreateMutexW(Global\QUORVANE.HardwareAccess.00000000000001f4) = 0x104",
// "WaitForMultipleObjects(2, all, 17500) = 0", "ReleaseMutex(0x104) = FALSE 288".
std::vector<std::string> Calls();
// Forgets the traces and calls recorded so far.
void ClearRecords();
// Only the calls whose text starts with prefix.
std::vector<std::string> CallsOf(const std::string& prefix);

// A handle as the call records show it: "0x104".
std::string HandleText(HANDLE hHandle);
std::string Hex(ULONG_PTR value);

std::string Utf8(const std::u16string& text);
std::u16string Utf16(const std::string& text);

}  // namespace fakeos
