// Whether a local printer of a supported model has queued jobs, as the spooler sees it.
#pragma once

#include "platform/win32.h"

#define MODEL_DRIVER_COUNT 3
extern const LPCWSTR ModelDriverNames[MODEL_DRIVER_COUNT];

// 1 when a local printer whose driver is one of ModelDriverNames holds at least one job, else 0.
// Every failure counts as 0: the spooler's silence must never keep the machine awake.
DWORD IsModelPrinting();

// The number of jobs queued on a printer. Returns 0 and sets *pcJobs on success; returns the
// error and leaves *pcJobs as it was on failure.
DWORD GetNumberOfJobs(LPWSTR pPrinterName, DWORD* pcJobs);
