// Another program the test starts and talks to through its stdin and stdout, one line at a time.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

class ChildProgram {
  public:
    ChildProgram() = default;
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;
    // Closes its stdin and waits for it to end; one that does not end in 10 s is killed.
    ~ChildProgram();

    // Starts the program with a pipe on its stdin and one on its stdout. Its stderr is the
    // test's, or the file stderrPath names.
    bool Start(const std::vector<std::string>& arguments, const std::string& stderrPath = "");
    // Writes one line to its stdin.
    bool WriteLine(const std::string& line);
    // The next line of its stdout, without the newline; nothing if none came within nTimeoutMs
    // or it ended.
    std::optional<std::string> ReadLine(int nTimeoutMs);
    // Waits up to nTimeoutMs for it to end on its own: its exit status, 128 + the signal that
    // ended it, or -1 while it still runs.
    int Wait(int nTimeoutMs);
    // Ends it at once, as a crash would.
    void Kill();

  private:
    pid_t pid_ = -1;
    int stdinFd_ = -1;
    int stdoutFd_ = -1;
    std::string unread_;
};
