#include "tests/platform/posix/power/child_modes.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "platform/posix/power/testing.h"
#include "platform/win32.h"
#include "tests/platform/posix/power/power_window.h"

namespace {

constexpr UINT kHeldTimeoutMs = 10000;
constexpr int kToldTimeoutMs = 10000;

LRESULT CALLBACK PlainWindowProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(hwnd, uMsg, wParam, lParam);
}

int ExitWithAWindow()
{
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = PlainWindowProc;
    windowClass.lpszClassName = u"QV_POWER_EXITING";
    if (RegisterClassW(&windowClass) == 0 ||
        CreateWindowExW(0, u"QV_POWER_EXITING", u"exiting", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr,
                        nullptr) == nullptr ||
        !power_service::WaitForInhibitorForTesting(kHeldTimeoutMs)) {
        return 1;
    }
    printf("held\n");
    fflush(stdout);
    return 0;
}

int RecordPowerEvents(int argc, char** argv)
{
    std::vector<std::unique_ptr<PowerWindow>> windows;
    for (int i = 2; i < argc; i++) {
        bool bRefuse = strcmp(argv[i], "refuse") == 0;
        windows.push_back(
            std::make_unique<PowerWindow>(PowerWindowBehaviour{.bRefuseQuery = bRefuse}));
        if (windows.back()->Handle() == nullptr) {
            return 1;
        }
    }
    if (!power_service::WaitForInhibitorForTesting(kHeldTimeoutMs)) {
        return 1;
    }
    printf("held\n");
    fflush(stdout);
    char szLine[16];
    if (fgets(szLine, sizeof(szLine), stdin) == nullptr) {
        return 1;
    }
    for (const std::unique_ptr<PowerWindow>& pWindow : windows) {
        const char* pszSeparator = "";
        for (const AnsweredBroadcast& broadcast : pWindow->Broadcasts()) {
            printf("%s%llu", pszSeparator, static_cast<unsigned long long>(broadcast.event));
            pszSeparator = " ";
        }
        printf("\n");
    }
    fflush(stdout);
    return 0;
}

// Plain descriptors, not objects: they are used while exit destroys the program's objects.
int s_toldPipe[2] = {-1, -1};     // each window writes its letter when told PBT_APMSUSPEND
int s_exitingPipe[2] = {-1, -1};  // written once exit has destroyed the static objects

bool ReadLetter(int fd, char expected, int nTimeoutMs)
{
    pollfd pfd{fd, POLLIN, 0};
    char letter = 0;
    return poll(&pfd, 1, nTimeoutMs) == 1 && read(fd, &letter, 1) == 1 && letter == expected;
}

// Registered before anything of the layer is made, so that exit calls it after destroying them.
void AwaitLastWindowAtExit()
{
    char exiting = 'x';
    bool bWritten = write(s_exitingPipe[1], &exiting, 1) == 1;
    _exit(bWritten && ReadLetter(s_toldPipe[0], 'b', kToldTimeoutMs) ? 0 : 3);
}

LRESULT CALLBACK FirstWindowProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_POWERBROADCAST && wParam == PBT_APMSUSPEND) {
        char told = 'a';
        if (write(s_toldPipe[1], &told, 1) == 1) {
            ReadLetter(s_exitingPipe[0], 'x', kToldTimeoutMs);
        }
        return TRUE;
    }
    return DefWindowProcW(hwnd, uMsg, wParam, lParam);
}

LRESULT CALLBACK SecondWindowProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_POWERBROADCAST && wParam == PBT_APMSUSPEND) {
        char told = 'b';
        return write(s_toldPipe[1], &told, 1) == 1;
    }
    return DefWindowProcW(hwnd, uMsg, wParam, lParam);
}

struct ServedWindow {
    const char16_t* pszClass;
    WNDPROC pfnProc;
    int createdFd;  // gets 'c' once the window exists, 'n' if it could not be made
};

// Never joined: the thread serves its window until the process ends. It reads its ServedWindow
// only until it has written to createdFd.
void* ServeWindow(void* pParameter)
{
    const ServedWindow* pWindow = static_cast<const ServedWindow*>(pParameter);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = pWindow->pfnProc;
    windowClass.lpszClassName = pWindow->pszClass;
    HWND hwnd = RegisterClassW(&windowClass) == 0
                    ? nullptr
                    : CreateWindowExW(0, pWindow->pszClass, u"told", WS_OVERLAPPEDWINDOW,
                                      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                      nullptr, nullptr, nullptr, nullptr);
    char created = hwnd != nullptr ? 'c' : 'n';
    if (write(pWindow->createdFd, &created, 1) != 1 || hwnd == nullptr) {
        return nullptr;
    }
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        DispatchMessageW(&msg);
    }
    return nullptr;
}

bool StartServedWindow(const ServedWindow* pWindow, int createdReadFd)
{
    pthread_t thread;
    if (pthread_create(&thread, nullptr, ServeWindow, const_cast<ServedWindow*>(pWindow)) != 0) {
        return false;
    }
    pthread_detach(thread);
    return ReadLetter(createdReadFd, 'c', kToldTimeoutMs);
}

int ExitWhileTelling()
{
    int createdPipe[2];
    if (pipe2(s_toldPipe, O_CLOEXEC) != 0 || pipe2(s_exitingPipe, O_CLOEXEC) != 0 ||
        pipe2(createdPipe, O_CLOEXEC) != 0 || atexit(AwaitLastWindowAtExit) != 0) {
        return 1;
    }
    // Made one after the other, so that the first has the lower handle and is told first.
    const ServedWindow first{u"QV_POWER_TOLD_FIRST", FirstWindowProc, createdPipe[1]};
    const ServedWindow second{u"QV_POWER_TOLD_SECOND", SecondWindowProc, createdPipe[1]};
    if (!StartServedWindow(&first, createdPipe[0]) || !StartServedWindow(&second, createdPipe[0]) ||
        !power_service::WaitForInhibitorForTesting(kHeldTimeoutMs)) {
        return 1;
    }
    printf("held\n");
    fflush(stdout);
    return ReadLetter(s_toldPipe[0], 'a', kToldTimeoutMs) ? 0 : 4;
}

}  // namespace

std::optional<int> RunChildMode(int argc, char** argv)
{
    if (argc == 2 && strcmp(argv[1], kExitWithAWindow) == 0) {
        return ExitWithAWindow();
    }
    if (argc >= 2 && strcmp(argv[1], kRecordPowerEvents) == 0) {
        return RecordPowerEvents(argc, argv);
    }
    if (argc == 2 && strcmp(argv[1], kExitWhileTelling) == 0) {
        return ExitWhileTelling();
    }
    return std::nullopt;
}
