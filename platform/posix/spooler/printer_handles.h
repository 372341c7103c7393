// This process's open printer handles. They are not kernel handles: CloseHandle does not take
// them, nor ClosePrinter a kernel handle, and their values never meet (kernel handle values
// stay below 2^32). A closed value is never handed out again.
#pragma once

#include <string>

#include "platform/win32.h"

namespace spooler {

// A new handle for the named queue.
HANDLE AddPrinterHandle(const std::string& queueName);

// The queue an open handle stands for; false for any other value.
bool QueueOfPrinterHandle(HANDLE hPrinter, std::string* pQueueName);

// Closes an open handle; false for any other value.
bool RemovePrinterHandle(HANDLE hPrinter);

}  // namespace spooler
