#include "platform/posix/spooler/socket_deadline.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <system_error>

namespace spooler {

SocketDeadline::~SocketDeadline()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
    }
    ended_.notify_one();
    if (watch_.joinable()) {
        watch_.join();
    }
    if (fd_ >= 0) {
        close(fd_);
    }
}

DWORD SocketDeadline::Watch(int fd, std::chrono::steady_clock::time_point deadline)
{
    fd_ = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (fd_ < 0) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    deadline_ = deadline;
    try {
        watch_ = std::thread([this] { ShutDownAtDeadline(); });
    } catch (const std::system_error&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return ERROR_SUCCESS;
}

void SocketDeadline::ShutDownAtDeadline()
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (!ended_.wait_until(lock, deadline_, [this] { return ending_; })) {
        shutdown(fd_, SHUT_RDWR);
    }
}

}  // namespace spooler
