// A system bus of the test's own: dbus-daemon on a Unix socket in the test's folder, open to
// the test's user, starting no services, gone with the test.
#pragma once

#include <string>

#include "tests/platform/posix/power/child_program.h"

class PrivateSystemBus {
  public:
    // Writes the bus's configuration into the folder and starts dbus-daemon with it, its
    // messages going to "dbus-daemon.log" there. Returns the address clients connect to, or an
    // empty text if the daemon did not start.
    std::string Start(const std::string& folder);
    // Ends the daemon at once: every connection to it is lost.
    void Kill() { daemon_.Kill(); }
    ~PrivateSystemBus() { Kill(); }

  private:
    ChildProgram daemon_;
};
