// The system's debug output buffer, read the way debug-output monitors read it: the monitor
// signals DBWIN_BUFFER_READY, a program's OutputDebugString fills the DBWIN_BUFFER section
// (the sender's process id, then the text in the ANSI code page) and signals DBWIN_DATA_READY.
#include <string.h>

#include "tools/trace/debug_monitor.h"

namespace {

const DWORD kBufferBytes = 4096;

struct BufferLayout {
    DWORD dwProcessId;
    char szText[kBufferBytes - sizeof(DWORD)];
};

}  // namespace

struct DebugMonitor {
    HANDLE hBufferReady;
    HANDLE hDataReady;
    HANDLE hMapping;
    const BufferLayout* pBuffer;
    HANDLE hStop;
};

DebugMonitor* AttachDebugMonitor(std::string* pProblem)
{
    DebugMonitor monitor{};
    monitor.hBufferReady = CreateEventW(NULL, FALSE, FALSE, L"DBWIN_BUFFER_READY");
    if (monitor.hBufferReady != NULL && GetLastError() == ERROR_ALREADY_EXISTS) {
        *pProblem = "another monitor is attached";
        CloseHandle(monitor.hBufferReady);
        return nullptr;
    }
    monitor.hDataReady = CreateEventW(NULL, FALSE, FALSE, L"DBWIN_DATA_READY");
    monitor.hMapping = CreateFileMappingW(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0,
                                          kBufferBytes, L"DBWIN_BUFFER");
    monitor.pBuffer = monitor.hMapping != NULL ? static_cast<const BufferLayout*>(MapViewOfFile(
                                                     monitor.hMapping, FILE_MAP_READ, 0, 0, 0))
                                               : nullptr;
    monitor.hStop = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (monitor.hBufferReady == NULL || monitor.hDataReady == NULL || monitor.pBuffer == nullptr ||
        monitor.hStop == NULL) {
        *pProblem = "error " + std::to_string(GetLastError());
        DebugMonitor* pPartial = new DebugMonitor(monitor);
        DetachDebugMonitor(pPartial);
        return nullptr;
    }
    SetEvent(monitor.hBufferReady);
    return new DebugMonitor(monitor);
}

Received ReceiveDebugMessage(DebugMonitor* pMonitor, int nTimeoutMs, DebugMessage* pMessage)
{
    HANDLE handles[2] = {pMonitor->hDataReady, pMonitor->hStop};
    DWORD dwWait = WaitForMultipleObjects(
        2, handles, FALSE, nTimeoutMs < 0 ? INFINITE : static_cast<DWORD>(nTimeoutMs));
    if (dwWait == WAIT_OBJECT_0 + 1) {
        return Received::Stopped;
    }
    if (dwWait != WAIT_OBJECT_0) {
        return Received::TimedOut;
    }
    pMessage->dwProcessId = pMonitor->pBuffer->dwProcessId;
    // The text is in the ANSI code page; bounded by the section whatever the sender wrote.
    const char* pszText = pMonitor->pBuffer->szText;
    int cbText = static_cast<int>(strnlen(pszText, sizeof(pMonitor->pBuffer->szText)));
    int cchText = MultiByteToWideChar(CP_ACP, 0, pszText, cbText, NULL, 0);
    pMessage->text.assign(static_cast<size_t>(cchText), L'\0');
    MultiByteToWideChar(CP_ACP, 0, pszText, cbText, pMessage->text.data(), cchText);
    SetEvent(pMonitor->hBufferReady);
    return Received::Message;
}

namespace {

HANDLE s_hStop = NULL;

BOOL WINAPI OnConsoleControl(DWORD /*dwCtrlType*/)
{
    SetEvent(s_hStop);
    return TRUE;
}

}  // namespace

void StopOnTerminationRequests(DebugMonitor* pMonitor)
{
    s_hStop = pMonitor->hStop;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void DetachDebugMonitor(DebugMonitor* pMonitor)
{
    if (pMonitor->pBuffer != nullptr) {
        UnmapViewOfFile(pMonitor->pBuffer);
    }
    for (HANDLE h :
         {pMonitor->hMapping, pMonitor->hDataReady, pMonitor->hBufferReady, pMonitor->hStop}) {
        if (h != NULL) {
            CloseHandle(h);
        }
    }
    delete pMonitor;
}
