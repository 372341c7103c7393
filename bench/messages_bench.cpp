// The cost of a message sent to another process's window, next to the floor it is built on:
// a round trip over a Unix seqpacket socket pair between two processes.
#include <benchmark/benchmark.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/win32.h"

namespace {

const UINT WM_ECHO = WM_USER + 1;

void RawSeqpacketRoundTrip(benchmark::State& state)
{
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds) != 0) {
        state.SkipWithError("no socket pair");
        return;
    }
    pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        char packet[48];
        ssize_t cbPacket;
        while ((cbPacket = recv(fds[1], packet, sizeof(packet), 0)) > 0) {
            send(fds[1], packet, 24, 0);
        }
        _exit(0);
    }
    close(fds[1]);
    char request[48] = {0}, reply[48];
    for (auto _ : state) {
        send(fds[0], request, sizeof(request), 0);
        recv(fds[0], reply, sizeof(reply), 0);
    }
    close(fds[0]);
    waitpid(child, nullptr, 0);
}
BENCHMARK(RawSeqpacketRoundTrip)->UseRealTime();

LRESULT CALLBACK EchoWindowProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_ECHO) {
        return static_cast<LRESULT>(wParam);
    }
    if (uMsg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, uMsg, wParam, lParam);
}

// A child process owns a window that answers each message with its wParam.
pid_t StartEchoWindow(const std::u16string& className)
{
    int ready[2];
    if (pipe(ready) != 0) {
        return -1;
    }
    pid_t child = fork();
    if (child == 0) {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = EchoWindowProc;
        windowClass.lpszClassName = className.c_str();
        RegisterClassW(&windowClass);
        HWND hwnd = CreateWindowExW(0, className.c_str(), u"echo", 0, 0, 0, 0, 0, nullptr, nullptr,
                                    nullptr, nullptr);
        char status = hwnd != nullptr ? 'y' : 'n';
        ssize_t cbWritten = write(ready[1], &status, 1);
        (void)cbWritten;
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            DispatchMessageW(&msg);
        }
        _exit(0);
    }
    char status = 'n';
    ssize_t cbRead = read(ready[0], &status, 1);
    close(ready[0]);
    close(ready[1]);
    return cbRead == 1 && status == 'y' ? child : -1;
}

void SendMessageRoundTrip(benchmark::State& state)
{
    std::u16string className = u"QUORVANE.Bench.Echo";
    pid_t child = StartEchoWindow(className);
    HWND hwnd = child > 0 ? FindWindowW(className.c_str(), nullptr) : nullptr;
    if (hwnd == nullptr) {
        state.SkipWithError("no echo window");
        return;
    }
    WPARAM n = 0;
    for (auto _ : state) {
        n++;
        if (SendMessageW(hwnd, WM_ECHO, n, 0) != static_cast<LRESULT>(n)) {
            state.SkipWithError("wrong answer");
            break;
        }
    }
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
    waitpid(child, nullptr, 0);
}
BENCHMARK(SendMessageRoundTrip)->UseRealTime();

}  // namespace
