// The conformance child (platform_conformance_child, built beside the tests) as a real second
// process: started with CreateProcessW on Windows and posix_spawn elsewhere, inheriting this
// process's environment (and so, on POSIX hosts, its machine root).
#pragma once

#include <optional>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <sys/types.h>
#endif

#include "platform/win32.h"
#include "tests/platform/conformance.h"

class ChildProcess {
  public:
    // Starts the child with these arguments (ASCII only); a failure to start fails the test.
    explicit ChildProcess(const std::vector<std::string>& arguments);
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // A child still running is killed, so that none outlives its test.
    ~ChildProcess();

    bool Started() const;
    // The exit code (ChildExit, kChildKilled for a child that died of SIGKILL), or nothing
    // if the child is still running after timeoutMs.
    std::optional<int> Wait(DWORD timeoutMs);

  private:
    void Kill();

#if defined(_WIN32)
    HANDLE hProcess_ = NULL;
#else
    pid_t pid_ = -1;
#endif
    std::optional<int> exitCode_;
};

// A child that holds a named object (the hold-mutex and hold-event commands) until told to go
// on, and then does what `then` says.
class HoldingChild {
  public:
    HoldingChild(const char* command, const WideString& name, const char* then);

    // True once the child has told that it holds the object.
    bool Holding() const { return holding_; }
    // Lets the child go on; returns at once.
    void Go();
    std::optional<int> Wait(DWORD timeoutMs) { return process_.Wait(timeoutMs); }

  private:
    WideString readyName_;
    WideString goName_;
    OwnedHandle ready_;
    OwnedHandle go_;
    ChildProcess process_;
    bool holding_ = false;
};
