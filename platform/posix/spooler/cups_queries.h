// What the spooler calls ask the scheduler: the local queues, one queue, and each queue's jobs.
#pragma once

#include <string>

#include "platform/posix/spooler/cups_connection.h"
#include "platform/posix/spooler/queue_state.h"

namespace spooler {

// Every local printer queue (no remote, discovered or class destination) in the scheduler's
// order, its jobs counted. No queues at all is a success with none.
DWORD ReadLocalQueues(CupsConnection& cups, QueueStates* pQueues);

// One destination by name, which the scheduler matches without regard to case, its jobs
// counted. ERROR_INVALID_PRINTER_NAME when there is none.
DWORD ReadQueue(CupsConnection& cups, const std::string& name, QueueState* pQueue);

// Whether a destination of that name exists; its name as the scheduler spells it.
DWORD FindQueue(CupsConnection& cups, const std::string& name, std::string* pSpelling);

}  // namespace spooler
