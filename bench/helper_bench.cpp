// The helper as a process: how soon it answers after it starts, and what a suspend query with
// 63 ports costs next to one message round trip, all with a debug-output monitor attached.
#include <benchmark/benchmark.h>

#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/posix/include/quorvane_debug_monitor.h"
#include "platform/win32.h"

extern char** environ;

namespace {

const UINT WM_POW_REGISTER = WM_USER + 125;

// The helper built beside this program.
std::string HelperPath()
{
    char szSelf[4096];
    ssize_t cbSelf = readlink("/proc/self/exe", szSelf, sizeof(szSelf) - 1);
    std::string self(szSelf, cbSelf > 0 ? static_cast<size_t>(cbSelf) : 0);
    return self.substr(0, self.rfind('/') + 1) + "quorvane";
}

pid_t StartHelper()
{
    static std::string s_helperPath = HelperPath();
    // The suspend query waits for the ports only on systems before NT 6.
    setenv("QUORVANE_WINVER", "5.1", 1);
    pid_t pid = -1;
    char* argv[] = {s_helperPath.data(), nullptr};
    return posix_spawn(&pid, s_helperPath.c_str(), nullptr, nullptr, argv, environ) == 0 ? pid : -1;
}

void StopHelper(pid_t pid, HWND hwnd)
{
    if (hwnd != nullptr) {
        SendMessageW(hwnd, WM_CLOSE, 0, 0);
    } else {
        kill(pid, SIGKILL);
    }
    waitpid(pid, nullptr, 0);
}

// Reads and drops every trace message, as quorvane-trace does, so that tracing costs what it
// costs with a monitor that keeps up.
struct TraceDrain {
    int fd = QuorvaneAttachDebugMonitor();
    std::atomic<bool> bStop{false};
    std::thread reader{[this] {
        WCHAR szText[1024];
        DWORD dwProcessId;
        while (!bStop) {
            QuorvaneReceiveDebugMessage(fd, 50, &dwProcessId, szText, 1024);
        }
    }};
    ~TraceDrain()
    {
        bStop = true;
        reader.join();
        QuorvaneDetachDebugMonitor(fd);
    }
};

void HelperStartToAnsweringWindow(benchmark::State& state)
{
    TraceDrain drain;
    for (auto _ : state) {
        auto started = std::chrono::steady_clock::now();
        pid_t pid = StartHelper();
        HWND hwnd = nullptr;
        while (pid > 0 && hwnd == nullptr &&
               std::chrono::steady_clock::now() - started < std::chrono::seconds(5)) {
            hwnd = FindWindowW(u"QUORVANE", nullptr);
        }
        if (hwnd == nullptr) {
            state.SkipWithError("the helper's window did not appear");
            StopHelper(pid, nullptr);
            break;
        }
        SendMessageW(hwnd, WM_NULL, 0, 0);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        StopHelper(pid, hwnd);
    }
}
BENCHMARK(HelperStartToAnsweringWindow)
    ->UseManualTime()
    ->Iterations(30)
    ->Unit(benchmark::kMillisecond);

// One helper with 63 registered ports for the two benchmarks below.
struct HelperWithPorts {
    TraceDrain drain;
    pid_t pid = StartHelper();
    HWND hwnd = nullptr;
    HelperWithPorts()
    {
        auto started = std::chrono::steady_clock::now();
        while (hwnd == nullptr &&
               std::chrono::steady_clock::now() - started < std::chrono::seconds(5)) {
            hwnd = FindWindowW(u"QUORVANE", nullptr);
        }
        for (WPARAM hPort = 1; hwnd != nullptr && hPort <= 63; hPort++) {
            SendMessageW(hwnd, WM_POW_REGISTER, hPort, 0);
        }
    }
    ~HelperWithPorts() { StopHelper(pid, hwnd); }
};

void MessageRoundTripToTheHelper(benchmark::State& state)
{
    HelperWithPorts helper;
    for (auto _ : state) {
        SendMessageW(helper.hwnd, WM_NULL, 0, 0);
    }
}
BENCHMARK(MessageRoundTripToTheHelper)->UseRealTime();

// The query takes all 63 ports' mutexes at once and traces the event and the registry; the
// resume that gives them back again is not timed.
void SuspendQueryWith63Ports(benchmark::State& state)
{
    HelperWithPorts helper;
    for (auto _ : state) {
        auto began = std::chrono::steady_clock::now();
        LRESULT lAnswer = SendMessageW(helper.hwnd, WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 0);
        auto answered = std::chrono::steady_clock::now();
        SendMessageW(helper.hwnd, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
        if (lAnswer != TRUE) {
            state.SkipWithError("the query was not granted");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(answered - began).count());
    }
}
BENCHMARK(SuspendQueryWith63Ports)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
