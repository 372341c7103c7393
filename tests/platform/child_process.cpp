#include "tests/platform/child_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

extern char** environ;
#endif

#include "tests/platform/conformance_child.h"

namespace {

// How long a child may take to start and take hold of its object.
constexpr DWORD kChildStartMs = 20000;

// Hand-shake events of their own for each child of a case.
std::string NextHandShakeName(const char* purpose)
{
    static int children = 0;
    return std::string(purpose) + "." + std::to_string(++children);
}

#if defined(_WIN32)

std::wstring ChildPath()
{
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(NULL, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length);
    path.erase(path.find_last_of(L'\\') + 1);
    return path + L"platform_conformance_child.exe";
}

// Quotes one argument so that the child's runtime splits the command line back into it.
std::wstring Quoted(const std::wstring& argument)
{
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless a quote follows them.
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        quoted += c;
        backslashes = 0;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

#else

std::string ChildPath()
{
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() /
            "platform_conformance_child")
        .string();
}

#endif

}  // namespace

#if defined(_WIN32)

ChildProcess::ChildProcess(const std::vector<std::string>& arguments)
{
    const std::wstring path = ChildPath();
    std::wstring commandLine = Quoted(path);
    for (const std::string& argument : arguments) {
        commandLine += L" " + Quoted(std::wstring(argument.begin(), argument.end()));
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(path.c_str(), commandLine.data(), NULL, NULL, FALSE, 0, NULL, NULL,
                        &startup, &process)) {
        ADD_FAILURE() << "CreateProcessW failed, last error " << GetLastError();
        return;
    }
    CloseHandle(process.hThread);
    hProcess_ = process.hProcess;
}

ChildProcess::~ChildProcess()
{
    if (hProcess_ != NULL) {
        if (!exitCode_) {
            Kill();
        }
        CloseHandle(hProcess_);
    }
}

bool ChildProcess::Started() const
{
    return hProcess_ != NULL;
}

std::optional<int> ChildProcess::Wait(DWORD timeoutMs)
{
    if (!exitCode_ && hProcess_ != NULL &&
        WaitForSingleObject(hProcess_, timeoutMs) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(hProcess_, &code);
        exitCode_ = static_cast<int>(code);
    }
    return exitCode_;
}

void ChildProcess::Kill()
{
    TerminateProcess(hProcess_, kChildKilled);
    WaitForSingleObject(hProcess_, INFINITE);
    exitCode_ = kChildKilled;
}

#else

ChildProcess::ChildProcess(const std::vector<std::string>& arguments)
{
    const std::string path = ChildPath();
    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), environ);
    if (error != 0) {
        ADD_FAILURE() << "posix_spawn " << path << " failed, errno " << error;
        return;
    }
    pid_ = pid;
}

ChildProcess::~ChildProcess()
{
    if (pid_ > 0 && !exitCode_) {
        Kill();
    }
}

bool ChildProcess::Started() const
{
    return pid_ > 0;
}

std::optional<int> ChildProcess::Wait(DWORD timeoutMs)
{
    if (exitCode_ || pid_ <= 0) {
        return exitCode_;
    }
    // Polling is good enough for a test; the layer under test is what must not poll.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t reaped = waitpid(pid_, &status, WNOHANG);
        if (reaped == pid_) {
            if (WIFEXITED(status)) {
                exitCode_ = WEXITSTATUS(status);
            } else if (WIFSIGNALED(status)) {
                exitCode_ = WTERMSIG(status) == SIGKILL ? kChildKilled : 128 + WTERMSIG(status);
            }
            return exitCode_;
        }
        if (reaped < 0 || std::chrono::steady_clock::now() >= deadline) {
            return exitCode_;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void ChildProcess::Kill()
{
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    exitCode_ = kChildKilled;
}

#endif

HoldingChild::HoldingChild(const char* command, const WideString& name, const char* then)
    : readyName_(UniqueName(NextHandShakeName("ready"))),
      goName_(UniqueName(NextHandShakeName("go"))),
      ready_(CreateEventW(NULL, FALSE, FALSE, readyName_.c_str())),
      go_(CreateEventW(NULL, TRUE, FALSE, goName_.c_str())),
      process_({command, Narrow(name), Narrow(readyName_), Narrow(goName_), then})
{
    if (!ready_ || !go_ || !process_.Started()) {
        ADD_FAILURE() << "the holding child could not be set up, last error " << GetLastError();
        return;
    }
    const Stopwatch stopwatch;
    while (stopwatch.ElapsedMs() < kChildStartMs) {
        if (WaitForSingleObject(ready_.get(), 50) == WAIT_OBJECT_0) {
            holding_ = true;
            return;
        }
        if (const std::optional<int> code = process_.Wait(0)) {
            ADD_FAILURE() << "the child ended before it held " << Narrow(name) << ": "
                          << ChildExitName(*code);
            return;
        }
    }
    ADD_FAILURE() << "the child did not take hold of " << Narrow(name) << " in time";
}

void HoldingChild::Go()
{
    SetEvent(go_.get());
}
