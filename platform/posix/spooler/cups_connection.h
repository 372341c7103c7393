// One Win32 call's conversation with the CUPS scheduler: a connection of its own to the server
// that libcups' settings name at the time of the call (CUPS_SERVER, then client.conf), one
// deadline for every answer of the call, and the scheduler's statuses as Win32 errors.
#pragma once

#include <cups/cups.h>

#include <chrono>
#include <memory>

#include "platform/posix/spooler/socket_deadline.h"
#include "platform/win32.h"

namespace spooler {

// How long one call may take with the scheduler in all, from its connection to its last answer,
// however many questions it asks and however the scheduler paces its answers. A local scheduler
// answers in milliseconds; a hung or crawling one must not hold the helper's suspend answer
// (20 s) for long.
inline constexpr std::chrono::milliseconds kCallDeadline{3000};

struct IppDeleter {
    void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using IppMessage = std::unique_ptr<ipp_t, IppDeleter>;

class CupsConnection {
  public:
    CupsConnection();
    CupsConnection(const CupsConnection&) = delete;
    CupsConnection& operator=(const CupsConnection&) = delete;
    ~CupsConnection();

    // ERROR_SUCCESS once connected; RPC_S_SERVER_UNAVAILABLE when nobody answers;
    // ERROR_NOT_ENOUGH_MEMORY when the deadline's watch could not start.
    DWORD Error() const { return error_; }

    // Sends the request. Returns ERROR_SUCCESS with the scheduler's answer in *pAnswer, or the
    // Win32 error for its status, or RPC_S_SERVER_UNAVAILABLE when the whole answer did not come
    // before the call's deadline (or that had passed already: the request is not sent).
    DWORD Ask(IppMessage request, IppMessage* pAnswer);

  private:
    static int KeepWaiting(http_t* http, void* pContext);

    std::chrono::steady_clock::time_point deadline_;
    http_t* http_ = nullptr;
    DWORD error_ = RPC_S_SERVER_UNAVAILABLE;
    SocketDeadline cutoff_;  // ends the connection at the deadline, mid-answer if need be
};

// A request for an operation, in the scheduler's language, from the calling user.
IppMessage NewRequest(ipp_op_t operation);

// The Win32 error for an answer that is not a success: see README.md for the table.
DWORD ErrorOfStatus(ipp_status_t status);

}  // namespace spooler
