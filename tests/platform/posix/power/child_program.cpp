#include "tests/platform/posix/power/child_program.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace {

long long NowMs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Waits for the child's end without polling: its pidfd becomes readable when it ends. Its exit
// status, 128 + the signal that ended it, or -1 while it still runs.
int WaitForExit(pid_t pid, int nTimeoutMs)
{
    int pidFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidFd >= 0) {
        pollfd pfd{pidFd, POLLIN, 0};
        while (poll(&pfd, 1, nTimeoutMs) < 0 && errno == EINTR) {
        }
        close(pidFd);
    }
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

ChildProgram::~ChildProgram()
{
    if (stdinFd_ >= 0) {
        close(stdinFd_);
    }
    if (pid_ > 0 && WaitForExit(pid_, 10000) < 0) {
        Kill();
    }
    if (stdoutFd_ >= 0) {
        close(stdoutFd_);
    }
}

bool ChildProgram::Start(const std::vector<std::string>& arguments, const std::string& stderrPath)
{
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0) {
        return false;
    }
    if (pipe2(fromChild, O_CLOEXEC) != 0) {
        close(toChild[0]);
        close(toChild[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
    if (!stderrPath.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    int nResult = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    stdinFd_ = toChild[1];
    stdoutFd_ = fromChild[0];
    if (nResult != 0) {
        pid_ = -1;
        return false;
    }
    return true;
}

bool ChildProgram::WriteLine(const std::string& line)
{
    std::string text = line + "\n";
    return write(stdinFd_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

std::optional<std::string> ChildProgram::ReadLine(int nTimeoutMs)
{
    long long deadline = NowMs() + nTimeoutMs;
    for (;;) {
        size_t nEnd = unread_.find('\n');
        if (nEnd != std::string::npos) {
            std::string line = unread_.substr(0, nEnd);
            unread_.erase(0, nEnd + 1);
            return line;
        }
        long long nLeftMs = deadline - NowMs();
        pollfd pfd{stdoutFd_, POLLIN, 0};
        int nReady = poll(&pfd, 1, static_cast<int>(nLeftMs > 0 ? nLeftMs : 0));
        if (nReady < 0 && errno == EINTR) {
            continue;
        }
        if (nReady <= 0) {
            return std::nullopt;
        }
        char buffer[512];
        ssize_t cbRead = read(stdoutFd_, buffer, sizeof(buffer));
        if (cbRead <= 0) {
            return std::nullopt;
        }
        unread_.append(buffer, static_cast<size_t>(cbRead));
    }
}

int ChildProgram::Wait(int nTimeoutMs)
{
    int nStatus = pid_ > 0 ? WaitForExit(pid_, nTimeoutMs) : -1;
    if (nStatus >= 0) {
        pid_ = -1;
    }
    return nStatus;
}

void ChildProgram::Kill()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}
