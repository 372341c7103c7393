// Sleep: the calling thread waits, without being woken early by a signal.
#include <errno.h>
#include <time.h>

#include "platform/win32.h"

void WINAPI Sleep(DWORD dwMilliseconds)
{
    timespec remaining = {static_cast<time_t>(dwMilliseconds / 1000),
                          static_cast<long>(dwMilliseconds % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}
