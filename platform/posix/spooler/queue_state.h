// One print queue as the scheduler describes it, in its own terms (UTF-8), before it becomes a
// PRINTER_INFO_2W record.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

namespace spooler {

struct QueueState {
    std::string name;          // printer-name, the queue's name as the scheduler spells it
    std::string makeAndModel;  // printer-make-and-model: the PPD's *NickName
    std::string deviceUri;     // device-uri
    std::string info;          // printer-info, the description
    std::string location;      // printer-location
    bool stopped = false;      // printer-state is stopped (cupsdisable)
    bool shared = false;       // printer-is-shared
    bool isDefault = false;    // the scheduler's default destination
    DWORD cJobs = 0;           // jobs pending, held or processing
    DWORD cQueuedJobs = 0;     // queued-job-count, the scheduler's own count of the same
};

using QueueStates = std::vector<QueueState>;

}  // namespace spooler
