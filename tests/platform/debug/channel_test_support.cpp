#include "tests/platform/debug/channel_test_support.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/posix/include/quorvane_debug_monitor.h"

extern char** environ;

Monitor::Monitor() : fd_(QuorvaneAttachDebugMonitor()) {}

Monitor::~Monitor()
{
    if (fd_ >= 0) {
        QuorvaneDetachDebugMonitor(fd_);
    }
}

std::optional<Message> Monitor::Next(int timeoutMs)
{
    WCHAR szText[debug_channel::kRecordChars + 1];
    DWORD dwProcessId = 0;
    int nChars = QuorvaneReceiveDebugMessage(fd_, timeoutMs, &dwProcessId, szText,
                                             sizeof(szText) / sizeof(szText[0]));
    if (nChars <= 0) {
        return std::nullopt;
    }
    return Message{dwProcessId, std::u16string(szText, static_cast<size_t>(nChars))};
}

std::vector<Message> Monitor::Take(size_t count)
{
    std::vector<Message> messages;
    while (messages.size() < count) {
        std::optional<Message> message = Next();
        if (!message) {
            break;
        }
        messages.push_back(*message);
    }
    return messages;
}

ChildProcess::ChildProcess(const std::vector<std::string>& args)
{
    int toChild[2];
    int fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << strerror(errno);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
    std::vector<std::string> argv = {DEBUG_OUTPUT_CHILD_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    pointers.reserve(argv.size() + 1);
    for (std::string& arg : argv) {
        pointers.push_back(arg.data());
    }
    pointers.push_back(nullptr);
    int rc =
        posix_spawn(&pid_, DEBUG_OUTPUT_CHILD_PATH, &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    toChild_ = toChild[1];
    fromChild_ = fromChild[0];
    if (rc != 0) {
        ADD_FAILURE() << "posix_spawn: " << strerror(rc);
        pid_ = -1;
    }
}

ChildProcess::~ChildProcess()
{
    Kill();
    close(toChild_);
    close(fromChild_);
}

std::string ChildProcess::ReadLine()
{
    Clock::time_point start = Clock::now();
    for (;;) {
        size_t newline = buffered_.find('\n');
        if (newline != std::string::npos) {
            std::string line = buffered_.substr(0, newline);
            buffered_.erase(0, newline + 1);
            return line;
        }
        int remainingMs = static_cast<int>(kPatientMs - MillisecondsSince(start));
        pollfd ready = {fromChild_, POLLIN, 0};
        char chunk[256];
        ssize_t cb = 0;
        if (remainingMs <= 0 || poll(&ready, 1, remainingMs) != 1 ||
            (cb = read(fromChild_, chunk, sizeof(chunk))) <= 0) {
            return std::string();
        }
        buffered_.append(chunk, static_cast<size_t>(cb));
    }
}

void ChildProcess::Kill()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        Wait();
    }
}

int ChildProcess::Wait()
{
    if (pid_ <= 0) {
        return -1;
    }
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

std::u16string Wide(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

std::vector<std::u16string> FillRing(const std::string& tag)
{
    std::vector<std::u16string> texts;
    for (;;) {
        uint32_t head = HeadOfRing();
        uint32_t stamp = debug_channel::Shared(RecordAt(TheChannel(), head).stamp).load();
        if (stamp != debug_channel::StampOf(head)) {
            return texts;  // the record at the head holds a message not read yet
        }
        texts.push_back(Wide(tag + ":" + std::to_string(texts.size()) + "\n"));
        Write(texts.back());
    }
}

debug_channel::Channel& TheChannel()
{
    return *debug_channel::TheChannelMapping().channel;
}

uint32_t HeadOfRing()
{
    return debug_channel::Shared(TheChannel().head.value).load();
}
