// What the POSIX object tests share: a machine root of their own per test, and other processes
// on that machine (forked ones running a function, or the command-driven child program).
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>

#include "platform/win32.h"

// A fresh folder with the sticky, open-to-all mode of a machine root; removed with its content.
std::string MakeTemporaryFolder();
void RemoveTree(const std::string& path);

// Each test runs on a machine of its own: a new root set in QUORVANE_ROOT, and the layer
// detached from it afterwards, so the next test attaches to its own.
class MachineTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    std::string root_;
};

std::u16string Wide(const std::string& text);

// A handle that is closed when the scope ends.
struct ScopedHandle {
    HANDLE h = NULL;
    explicit ScopedHandle(HANDLE hObject) : h(hObject) {}
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ~ScopedHandle()
    {
        if (h != NULL) {
            CloseHandle(h);
        }
    }
};

// Runs body in a forked child, which exits with body's result.
pid_t ForkChild(const std::function<int()>& body);
// The exit code of a child, or 128 + signal for one killed by a signal.
int WaitForChild(pid_t pid);
constexpr int kKilledBySigkill = 128 + 9;

// A pipe for "I am ready" notes between a test and its forked children.
struct Pipe {
    int readFd = -1;
    int writeFd = -1;
    Pipe();
    ~Pipe();
    void Say(char note) const;
    // The next note, or 0 when none comes within timeoutMs.
    char Hear(int timeoutMs) const;
};

// The child program (objects_child.cpp) as another process on this machine: one command line
// in, one answer line out.
class ChildProgram {
  public:
    // uid 0 keeps this process's user; another uid (we run as root) starts it as that user.
    explicit ChildProgram(uid_t uid = 0);
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;
    ~ChildProgram();

    // The answer to the command; empty when none comes within 10 seconds.
    std::string Ask(const std::string& command);
    void Kill();
    pid_t Pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
    std::string buffered_;
};

using Clock = std::chrono::steady_clock;

inline long long MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}
