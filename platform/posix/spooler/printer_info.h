// PRINTER_INFO_2W records as Windows lays them out in a caller's buffer: the records first,
// then every string they point to, all inside the buffer.
#pragma once

#include <cstddef>

#include "platform/posix/spooler/queue_state.h"
#include "platform/win32.h"

namespace spooler {

// The exact bytes that the records of these queues and their strings take.
std::size_t PrinterInfoBytes(const QueueStates& queues);

// Writes the records at pBuffer, which holds at least PrinterInfoBytes(queues) bytes at any
// alignment, and their strings right after the last record.
void WritePrinterInfo(const QueueStates& queues, LPBYTE pBuffer);

}  // namespace spooler
