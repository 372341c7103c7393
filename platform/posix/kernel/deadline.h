// Deadlines on the monotonic clock, as the futex waits of the layer take them: a wait that is
// interrupted and started again still ends when it was first meant to.
#pragma once

#include <time.h>

namespace monotonic {

// The monotonic time nMilliseconds from now.
timespec DeadlineAfter(unsigned long long nMilliseconds);

}  // namespace monotonic
