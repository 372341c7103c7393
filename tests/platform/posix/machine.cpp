#include "tests/platform/posix/machine.h"

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/posix/objects/testing.h"

std::string MakeTemporaryFolder()
{
    char szTemplate[] = "/tmp/quorvane-test-XXXXXX";
    if (mkdtemp(szTemplate) == nullptr) {
        ADD_FAILURE() << "mkdtemp: " << strerror(errno);
        return std::string();
    }
    // Other users' processes share the machine in some tests.
    chmod(szTemplate, 01777);
    return szTemplate;
}

void RemoveTree(const std::string& path)
{
    std::error_code error;
    std::filesystem::remove_all(path, error);
}

void MachineTest::SetUp()
{
    root_ = MakeTemporaryFolder();
    setenv("QUORVANE_ROOT", root_.c_str(), 1);
}

void MachineTest::TearDown()
{
    objects::ResetForTesting();
    RemoveTree(root_);
}

std::u16string Wide(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

pid_t ForkChild(const std::function<int()>& body)
{
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        _exit(body());
    }
    EXPECT_GT(pid, 0) << "fork: " << strerror(errno);
    return pid;
}

int WaitForChild(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return WEXITSTATUS(status);
}

Pipe::Pipe()
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) == 0) {
        readFd = fds[0];
        writeFd = fds[1];
    }
}

Pipe::~Pipe()
{
    close(readFd);
    close(writeFd);
}

void Pipe::Say(char note) const
{
    ssize_t written = write(writeFd, &note, 1);
    (void)written;
}

char Pipe::Hear(int timeoutMs) const
{
    struct pollfd ready = {readFd, POLLIN, 0};
    char note = 0;
    if (poll(&ready, 1, timeoutMs) == 1 && read(readFd, &note, 1) == 1) {
        return note;
    }
    return 0;
}

ChildProgram::ChildProgram(uid_t uid)
{
    int toChild[2];
    int fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << strerror(errno);
        return;
    }
    fflush(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(toChild[0], STDIN_FILENO);
        dup2(fromChild[1], STDOUT_FILENO);
        if (uid != 0 && (setgroups(0, nullptr) != 0 || setresgid(uid, uid, uid) != 0 ||
                         setresuid(uid, uid, uid) != 0)) {
            _exit(126);
        }
        const char* argv[] = {OBJECTS_CHILD_PATH, nullptr};
        execv(OBJECTS_CHILD_PATH, const_cast<char**>(argv));
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    toChild_ = toChild[1];
    fromChild_ = fromChild[0];
}

ChildProgram::~ChildProgram()
{
    Kill();
    close(toChild_);
    close(fromChild_);
}

std::string ChildProgram::Ask(const std::string& command)
{
    std::string line = command + "\n";
    if (write(toChild_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
        return std::string();
    }
    Clock::time_point start = Clock::now();
    for (;;) {
        size_t newline = buffered_.find('\n');
        if (newline != std::string::npos) {
            std::string answer = buffered_.substr(0, newline);
            buffered_.erase(0, newline + 1);
            return answer;
        }
        int remainingMs = static_cast<int>(10000 - MillisecondsSince(start));
        struct pollfd ready = {fromChild_, POLLIN, 0};
        char chunk[256];
        ssize_t n = 0;
        if (remainingMs <= 0 || poll(&ready, 1, remainingMs) != 1 ||
            (n = read(fromChild_, chunk, sizeof(chunk))) <= 0) {
            return std::string();
        }
        buffered_.append(chunk, static_cast<size_t>(n));
    }
}

void ChildProgram::Kill()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        WaitForChild(pid_);
        pid_ = -1;
    }
}
