#include "quorvane/power/printer_activity.h"

#include <string.h>

#include "quorvane/support/trace.h"

const LPCWSTR ModelDriverNames[MODEL_DRIVER_COUNT] = {
    TEXT("NALVEX QT14 (XPS)"),
    TEXT("NALVEX QT16 (XPS)"),
    TEXT("NALVEX QT17 (XPS)"),
};

// Driver names are matched exactly: case-sensitive, wide character by wide character. A
// record the spooler left without a name never matches.
static BOOL IsSameDriverName(LPCWSTR pszDriverName, LPCWSTR pszModelName)
{
    if (pszDriverName == NULL) {
        return FALSE;
    }
    while (*pszDriverName != 0 && *pszDriverName == *pszModelName) {
        pszDriverName++;
        pszModelName++;
    }
    return *pszDriverName == *pszModelName;
}

// Allocates a cleared block of cbSize bytes, or returns NULL.
static LPBYTE AllocateCleared(DWORD cbSize)
{
    return static_cast<LPBYTE>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, cbSize));
}

static void FreeBlock(LPBYTE pBlock)
{
    if (pBlock != NULL) {
        HeapFree(GetProcessHeap(), 0, pBlock);
    }
}

DWORD IsModelPrinting()
{
    TraceMessage(TEXT("QUORVANEIsModelPrinting()\n"));

    DWORD cbNeeded = 0;
    DWORD cPrinters = 0;
    if (!EnumPrintersW(PRINTER_ENUM_LOCAL, NULL, 2, NULL, 0, &cbNeeded, &cPrinters)) {
        DWORD dwError = GetLastError();
        if (dwError != ERROR_INSUFFICIENT_BUFFER) {
            TraceMessage(
                TEXT("QUORVANEIsModelPrinting() : EnumPrinters(1) failed. GetLastError() = %d\n"),
                dwError);
            if (dwError != 0) {
                return 0;
            }
        }
    }

    // Printers are read only from a buffer that the second call has filled: a count reported
    // by a failed call, or without a buffer, describes nothing that can be read.
    LPBYTE pBuffer = NULL;
    cPrinters = 0;
    if (cbNeeded != 0) {
        DWORD cbBuffer = cbNeeded;
        pBuffer = AllocateCleared(cbBuffer);
        if (pBuffer == NULL) {
            TraceMessage(TEXT("QUORVANEIsModelPrinting() : Unable to allocate pBuffer. Required "
                              "buffer size : %d\n"),
                         cbBuffer);
            return 0;
        }
        DWORD cReturned = 0;
        if (EnumPrintersW(PRINTER_ENUM_LOCAL, NULL, 2, pBuffer, cbBuffer, &cbNeeded, &cReturned)) {
            // Never more records than the buffer can hold, whatever the count says.
            DWORD cFit = static_cast<DWORD>(cbBuffer / sizeof(PRINTER_INFO_2W));
            cPrinters = cReturned < cFit ? cReturned : cFit;
        } else {
            DWORD dwError = GetLastError();
            TraceMessage(
                TEXT("QUORVANEIsModelPrinting() : EnumPrinters(2) failed. GetLastError() = %d\n"),
                dwError);
            if (dwError != 0) {
                FreeBlock(pBuffer);
                return 0;
            }
        }
    }

    const PRINTER_INFO_2W* pPrinters = reinterpret_cast<const PRINTER_INFO_2W*>(pBuffer);
    BOOL bFound = FALSE;
    for (DWORD iPrinter = 0; iPrinter < cPrinters && !bFound; iPrinter++) {
        const PRINTER_INFO_2W* pPrinter = &pPrinters[iPrinter];
        for (int iModel = 0; iModel < MODEL_DRIVER_COUNT && !bFound; iModel++) {
            TraceMessage(TEXT("QUORVANEIsModelPrinting() : %s (%s) == %s\n"),
                         pPrinter->pPrinterName, pPrinter->pDriverName, ModelDriverNames[iModel]);
            // A record without a printer name names no printer that could be opened.
            if (pPrinter->pPrinterName == NULL ||
                !IsSameDriverName(pPrinter->pDriverName, ModelDriverNames[iModel])) {
                continue;
            }
            DWORD cJobs = 0;
            if (GetNumberOfJobs(pPrinter->pPrinterName, &cJobs) == 0 && cJobs != 0) {
                TraceMessage(TEXT("QUORVANEIsModelPrinting() : GetNumberOfJobs(%s) returns %d\n"),
                             pPrinter->pPrinterName, cJobs);
                bFound = TRUE;
            }
        }
    }

    FreeBlock(pBuffer);
    return bFound ? 1 : 0;
}

DWORD GetNumberOfJobs(LPWSTR pPrinterName, DWORD* pcJobs)
{
    HANDLE hPrinter = NULL;
    if (!OpenPrinterW(pPrinterName, &hPrinter, NULL)) {
        hPrinter = NULL;
        DWORD dwError = GetLastError();
        TraceMessage(
            TEXT("QUORVANEGetNumberOfJobs() : OpenPrinter(%s) failed. GetLastError() = %d\n"),
            pPrinterName, dwError);
        if (dwError != 0) {
            return dwError;
        }
    }

    DWORD cbNeeded = 0;
    if (!GetPrinterW(hPrinter, 2, NULL, 0, &cbNeeded)) {
        DWORD dwError = GetLastError();
        if (dwError != ERROR_INSUFFICIENT_BUFFER) {
            TraceMessage(
                TEXT("QUORVANEGetNumberOfJobs() : GetPrinter(1) failed. GetLastError() = %d\n"),
                dwError);
            if (dwError != 0) {
                if (hPrinter != NULL) {
                    ClosePrinter(hPrinter);
                }
                return dwError;
            }
        }
    }

    // Without a buffer the query below is made with a size of 0: it fails, and that failure is
    // the one reported.
    LPBYTE pPrinterInfo2 = NULL;
    DWORD cbPrinterInfo2 = 0;
    if (cbNeeded != 0) {
        pPrinterInfo2 = AllocateCleared(cbNeeded);
        if (pPrinterInfo2 == NULL) {
            TraceMessage(TEXT("QUORVANEGetNumberOfJobs() : Unable to allocate pPrinterInfo2. "
                              "Required size = %d\n"),
                         cbNeeded);
        } else {
            cbPrinterInfo2 = cbNeeded;
        }
    }

    BOOL bRead = GetPrinterW(hPrinter, 2, pPrinterInfo2, cbPrinterInfo2, &cbNeeded);
    if (bRead && cbPrinterInfo2 < sizeof(PRINTER_INFO_2W)) {
        // A spooler that claims success with less than one record has told nothing.
        bRead = FALSE;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
    }

    DWORD dwResult = 0;
    if (bRead) {
        DWORD cJobs = reinterpret_cast<const PRINTER_INFO_2W*>(pPrinterInfo2)->cJobs;
        *pcJobs = cJobs;
        TraceMessage(TEXT("QUORVANEGetNumberOfJobs(%s) returns %d\n"), pPrinterName, cJobs);
    } else {
        dwResult = GetLastError();
        TraceMessage(
            TEXT("QUORVANEGetNumberOfJobs() : GetPrinter(2) failed. GetLastError() = %d\n"),
            dwResult);
    }

    FreeBlock(pPrinterInfo2);
    if (hPrinter != NULL) {
        ClosePrinter(hPrinter);
    }
    return dwResult;
}
