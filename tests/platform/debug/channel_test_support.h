// What the debug output tests share: a machine root of their own for the test program, a
// monitor for the length of a test, the child program as another process, and small helpers.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/debug/channel.h"
#include "platform/win32.h"

// Long enough that only a fault, never a slow machine, makes a test wait this long.
constexpr int kPatientMs = 10000;

struct Message {
    DWORD processId;
    std::u16string text;
};

// This process attached as the monitor, by the constructing thread, until destroyed.
class Monitor {
  public:
    Monitor();
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;
    ~Monitor();

    int Fd() const { return fd_; }
    // The next message within timeoutMs; nothing when none comes (a test failure is added
    // only by the caller).
    std::optional<Message> Next(int timeoutMs = kPatientMs);
    // Messages until count have come or none comes for kPatientMs.
    std::vector<Message> Take(size_t count);

  private:
    int fd_;
};

// The child program (debug_output_child.cpp) on this test's machine. Killed when destroyed.
class ChildProcess {
  public:
    explicit ChildProcess(const std::vector<std::string>& args);
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    pid_t Pid() const { return pid_; }
    // The next line it prints, without the newline; empty when none comes within kPatientMs.
    std::string ReadLine();
    void Kill();
    // Its exit code, or 128 + the signal that ended it.
    int Wait();

  private:
    pid_t pid_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
    std::string buffered_;
};

std::u16string Wide(const std::string& text);

inline void Write(const std::u16string& text)
{
    OutputDebugStringW(text.c_str());
}

// Writes until the ring is full, with the monitor not reading; returns the texts written.
std::vector<std::u16string> FillRing(const std::string& tag);

// The channel of this test's machine, as the layer mapped it.
debug_channel::Channel& TheChannel();
uint32_t HeadOfRing();

using Clock = std::chrono::steady_clock;

inline long long MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}
