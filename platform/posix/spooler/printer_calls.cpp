// The spooler's Win32 calls over the CUPS scheduler. Each call that needs the scheduler opens
// a connection of its own for its length, so calls on any threads run side by side.
#include <limits>

#include "platform/posix/spooler/cups_connection.h"
#include "platform/posix/spooler/cups_queries.h"
#include "platform/posix/spooler/printer_handles.h"
#include "platform/posix/spooler/printer_info.h"
#include "platform/posix/spooler/wide_text.h"
#include "platform/win32.h"

using namespace spooler;

namespace {

// The one information level provided: what the helper reads.
constexpr DWORD kPrinterInfoLevel = 2;

BOOL Fail(DWORD dwError)
{
    SetLastError(dwError);
    return FALSE;
}

// Windows' size protocol: *pcbNeeded always gets the exact size; the records are written only
// when the buffer holds them all.
BOOL ReturnRecords(const QueueStates& queues, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbNeeded)
{
    std::size_t cbNeeded = PrinterInfoBytes(queues);
    if (cbNeeded > std::numeric_limits<DWORD>::max()) {
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    *pcbNeeded = static_cast<DWORD>(cbNeeded);
    if (cbBuf < cbNeeded) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    WritePrinterInfo(queues, pBuffer);
    return TRUE;
}

bool NamesAnotherServer(DWORD Flags, LPCWSTR Name)
{
    return (Flags & PRINTER_ENUM_NAME) != 0 && Name != NULL && Name[0] != 0;
}

}  // namespace

BOOL WINAPI EnumPrintersW(DWORD Flags, LPWSTR Name, DWORD Level, LPBYTE pPrinterEnum, DWORD cbBuf,
                          LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    if (pcbNeeded == NULL || pcReturned == NULL) {
        return Fail(RPC_X_NULL_REF_POINTER);
    }
    *pcbNeeded = 0;
    *pcReturned = 0;
    if (Level != kPrinterInfoLevel) {
        return Fail(ERROR_INVALID_LEVEL);
    }
    if (pPrinterEnum == NULL && cbBuf != 0) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (NamesAnotherServer(Flags, Name)) {
        return Fail(ERROR_INVALID_NAME);  // no print server but the local one is reached
    }
    if ((Flags & PRINTER_ENUM_LOCAL) == 0) {
        return TRUE;  // connections, network and remote printers: there are none here
    }

    CupsConnection cups;
    QueueStates queues;
    DWORD dwError = cups.Error();
    if (dwError == ERROR_SUCCESS) {
        dwError = ReadLocalQueues(cups, &queues);
    }
    if (dwError != ERROR_SUCCESS) {
        return Fail(dwError);
    }
    if (!ReturnRecords(queues, pPrinterEnum, cbBuf, pcbNeeded)) {
        return FALSE;
    }
    *pcReturned = static_cast<DWORD>(queues.size());
    return TRUE;
}

BOOL WINAPI OpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW)
{
    if (phPrinter == NULL) {
        return Fail(RPC_X_NULL_REF_POINTER);
    }
    *phPrinter = NULL;
    if (pPrinterName == NULL) {
        return Fail(ERROR_NOT_SUPPORTED);  // the print server itself has no handle here
    }

    CupsConnection cups;
    std::string queueName;
    DWORD dwError = cups.Error();
    if (dwError == ERROR_SUCCESS) {
        dwError = FindQueue(cups, Utf8FromWide(pPrinterName), &queueName);
    }
    if (dwError != ERROR_SUCCESS) {
        return Fail(dwError);
    }
    *phPrinter = AddPrinterHandle(queueName);
    return TRUE;
}

BOOL WINAPI GetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf,
                        LPDWORD pcbNeeded)
{
    std::string queueName;
    if (!QueueOfPrinterHandle(hPrinter, &queueName)) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (pcbNeeded == NULL) {
        return Fail(RPC_X_NULL_REF_POINTER);
    }
    *pcbNeeded = 0;
    if (Level != kPrinterInfoLevel) {
        return Fail(ERROR_INVALID_LEVEL);
    }
    if (pPrinter == NULL && cbBuf != 0) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }

    CupsConnection cups;
    QueueStates queues(1);
    DWORD dwError = cups.Error();
    if (dwError == ERROR_SUCCESS) {
        dwError = ReadQueue(cups, queueName, &queues.front());
    }
    if (dwError != ERROR_SUCCESS) {
        return Fail(dwError);
    }
    return ReturnRecords(queues, pPrinter, cbBuf, pcbNeeded);
}

BOOL WINAPI ClosePrinter(HANDLE hPrinter)
{
    if (!RemovePrinterHandle(hPrinter)) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    return TRUE;
}
