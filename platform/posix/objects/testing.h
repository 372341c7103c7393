// For tests only.
#pragma once

namespace objects {

// Detaches this process from its machine root as if it had exited: its handles are closed, its
// mutexes abandoned, the arena unmapped. The next call attaches to the root that QUORVANE_ROOT
// names then, so each test can have a machine of its own. No other thread may be using the
// layer meanwhile.
void ResetForTesting();

// The mark at the start of an arena file of ours, whatever its layout.
extern const unsigned long long kArenaMagicForTesting;

}  // namespace objects
