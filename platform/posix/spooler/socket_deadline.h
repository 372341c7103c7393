// A socket shut down, both ways, when a point in time passes: every read, write or wait of
// libcups on it then ends at once, however slowly the other end keeps talking. (libcups' own
// timeout covers only silence: a scheduler that sends a byte now and then never trips it.)
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/win32.h"

namespace spooler {

class SocketDeadline {
  public:
    SocketDeadline() = default;
    SocketDeadline(const SocketDeadline&) = delete;
    SocketDeadline& operator=(const SocketDeadline&) = delete;
    // Lets the socket be and forgets it.
    ~SocketDeadline();

    // Watches the socket of fd until the deadline. ERROR_SUCCESS, or ERROR_NOT_ENOUGH_MEMORY when
    // no descriptor or thread is left for the watch.
    DWORD Watch(int fd, std::chrono::steady_clock::time_point deadline);

  private:
    void ShutDownAtDeadline();

    // A duplicate of the owner's descriptor: it names the same socket even if libcups closes its
    // own and the number is reused for something else before the deadline.
    int fd_ = -1;
    std::chrono::steady_clock::time_point deadline_;
    std::mutex mutex_;
    std::condition_variable ended_;
    bool ending_ = false;  // the owner is done with the socket: the watch ends now
    std::thread watch_;
};

}  // namespace spooler
