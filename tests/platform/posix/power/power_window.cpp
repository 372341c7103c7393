#include "tests/platform/posix/power/power_window.h"

#include <time.h>

#include <atomic>
#include <map>
#include <string>

namespace {

// A hung window gives up on its own after this long, so that a failing test still ends.
constexpr auto kLongestHang = std::chrono::seconds(30);

std::mutex s_windowsLock;
std::map<HWND, PowerWindow*> s_windows;

PowerWindow* FindPowerWindow(HWND hwnd)
{
    std::lock_guard guard(s_windowsLock);
    auto it = s_windows.find(hwnd);
    return it != s_windows.end() ? it->second : nullptr;
}

}  // namespace

long long MonotonicNowNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

PowerWindow::PowerWindow(PowerWindowBehaviour behaviour)
    : behaviour_(behaviour), thread_([this] { Serve(); })
{
    std::unique_lock guard(lock_);
    changed_.wait(guard, [this] { return bCreated_; });
}

PowerWindow::~PowerWindow()
{
    EndHang();
    if (hwnd_ != nullptr) {
        PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    }
    thread_.join();
    std::lock_guard guard(s_windowsLock);
    s_windows.erase(hwnd_);
}

void PowerWindow::Serve()
{
    // A class of its own for each window: classes live as long as the process.
    static std::atomic<int> s_nextClass{1};
    std::string name = "QV_POWER_" + std::to_string(s_nextClass.fetch_add(1));
    std::u16string className(name.begin(), name.end());
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.lpszClassName = className.c_str();
    HWND hwnd = nullptr;
    auto started = std::chrono::steady_clock::now();
    if (RegisterClassW(&windowClass) != 0) {
        hwnd = CreateWindowExW(0, className.c_str(), u"power", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                               nullptr, nullptr);
    }
    auto creationTime = std::chrono::steady_clock::now() - started;
    if (hwnd != nullptr) {
        std::lock_guard guard(s_windowsLock);
        s_windows[hwnd] = this;
    }
    {
        std::lock_guard guard(lock_);
        hwnd_ = hwnd;
        creationTime_ = creationTime;
        bCreated_ = true;
    }
    changed_.notify_all();
    if (hwnd == nullptr) {
        return;
    }
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

LRESULT CALLBACK PowerWindow::WindowProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    PowerWindow* pWindow = FindPowerWindow(hwnd);
    switch (uMsg) {
        case WM_POWERBROADCAST:
            return pWindow != nullptr ? pWindow->OnPowerBroadcast(wParam) : TRUE;
        case WM_PING:
            return static_cast<LRESULT>(wParam + 1);
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(hwnd, uMsg, wParam, lParam);
    }
}

LRESULT PowerWindow::OnPowerBroadcast(WPARAM wEvent)
{
    std::unique_lock guard(lock_);
    if (wEvent == PBT_APMSUSPEND && behaviour_.bHangOnSuspend) {
        changed_.wait_for(guard, kLongestHang, [this] { return bHangEnded_; });
    }
    if (wEvent == PBT_APMSUSPEND && behaviour_.nSuspendAnswerMs > 0) {
        guard.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(behaviour_.nSuspendAnswerMs));
        guard.lock();
    }
    broadcasts_.push_back(AnsweredBroadcast{wEvent, MonotonicNowNs()});
    changed_.notify_all();
    return wEvent == PBT_APMQUERYSUSPEND && behaviour_.bRefuseQuery ? BROADCAST_QUERY_DENY : TRUE;
}

std::vector<AnsweredBroadcast> PowerWindow::WaitForBroadcasts(size_t nCount, int nTimeoutMs)
{
    std::unique_lock guard(lock_);
    changed_.wait_for(guard, std::chrono::milliseconds(nTimeoutMs),
                      [&] { return broadcasts_.size() >= nCount; });
    return broadcasts_;
}

std::vector<AnsweredBroadcast> PowerWindow::Broadcasts()
{
    std::lock_guard guard(lock_);
    return broadcasts_;
}

void PowerWindow::EndHang()
{
    {
        std::lock_guard guard(lock_);
        bHangEnded_ = true;
    }
    changed_.notify_all();
}
