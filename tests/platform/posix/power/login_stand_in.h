// The test's side of login_stand_in, the stand-in for systemd-logind's manager: it starts the
// program on the test's bus, asks it for signals and counts, and reads what callers did.
#pragma once

#include <sys/types.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "tests/platform/posix/power/child_program.h"

// An inhibitor taken ("inhibit"), refused ("refused") or let go of ("release").
struct InhibitorEvent {
    std::string kind;
    int id = 0;  // the inhibitor's number, from 1 (not for "refused")
    pid_t pid = 0;
    long long timeNs = 0;  // CLOCK_MONOTONIC
    std::string what, who, why, mode;
};

struct InhibitorCounts {
    int nTaken;
    int nHeld;
    int nRefused;
};

class LoginStandIn {
  public:
    // Starts it on the bus of DBUS_SYSTEM_BUS_ADDRESS and waits until it owns the name.
    bool Start(bool bRefuseInhibitors);
    // The next inhibitor event, in the order they happened.
    std::optional<InhibitorEvent> NextEvent(int nTimeoutMs);
    // Emits PrepareForSleep and returns once it is on the bus.
    bool PrepareForSleep(bool bSleeping);
    // What the stand-in has seen so far, once every inhibitor has been let go (or 5 s have
    // passed with some still held).
    std::optional<InhibitorCounts> Counts();

  private:
    // Reads one line before the deadline (CLOCK_MONOTONIC, ms): an event is kept for NextEvent,
    // anything else is an answer. FALSE when no line came.
    bool ReadOneLine(long long deadlineMs, std::vector<std::string>* pAnswer);
    // Reads lines until the answer `kind` comes; the events read meanwhile are kept in order.
    std::optional<std::vector<std::string>> AwaitAnswer(const std::string& kind, int nTimeoutMs);

    ChildProgram program_;
    std::deque<InhibitorEvent> events_;
};
