#include "platform/posix/kernel/deadline.h"

namespace monotonic {

timespec DeadlineAfter(unsigned long long nMilliseconds)
{
    timespec when;
    clock_gettime(CLOCK_MONOTONIC, &when);
    when.tv_sec += static_cast<time_t>(nMilliseconds / 1000);
    when.tv_nsec += static_cast<long>(nMilliseconds % 1000) * 1000000L;
    if (when.tv_nsec >= 1000000000L) {
        when.tv_sec++;
        when.tv_nsec -= 1000000000L;
    }
    return when;
}

}  // namespace monotonic
