// A window served as the helper serves its own: a thread of its own creates it and runs
// GetMessageW. It answers each WM_POWERBROADCAST with TRUE (or refuses a query) and records it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/win32.h"

// WM_PING answers wParam + 1: the window is still served.
const UINT WM_PING = WM_USER + 1;

struct AnsweredBroadcast {
    WPARAM event;
    long long answeredNs;  // CLOCK_MONOTONIC, just before the answer
};

struct PowerWindowBehaviour {
    int nSuspendAnswerMs = 0;     // how long PBT_APMSUSPEND takes to answer
    bool bHangOnSuspend = false;  // PBT_APMSUSPEND is answered only after EndHang()
    bool bRefuseQuery = false;    // PBT_APMQUERYSUSPEND is answered BROADCAST_QUERY_DENY
};

class PowerWindow {
  public:
    explicit PowerWindow(PowerWindowBehaviour behaviour = {});
    // Closes the window (WM_CLOSE through its queue) and joins its thread.
    ~PowerWindow();
    PowerWindow(const PowerWindow&) = delete;
    PowerWindow& operator=(const PowerWindow&) = delete;

    HWND Handle() const { return hwnd_; }
    // How long CreateWindowExW took.
    std::chrono::steady_clock::duration CreationTime() const { return creationTime_; }
    // Waits until the window has answered nCount broadcasts (or nTimeoutMs has passed) and
    // returns those it answered.
    std::vector<AnsweredBroadcast> WaitForBroadcasts(size_t nCount, int nTimeoutMs);
    // The broadcasts answered so far.
    std::vector<AnsweredBroadcast> Broadcasts();
    // Lets a hung PBT_APMSUSPEND answer.
    void EndHang();

  private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    void Serve();
    LRESULT OnPowerBroadcast(WPARAM wEvent);

    const PowerWindowBehaviour behaviour_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<AnsweredBroadcast> broadcasts_;
    bool bCreated_ = false;
    bool bHangEnded_ = false;
    HWND hwnd_ = nullptr;
    std::chrono::steady_clock::duration creationTime_{};
    std::thread thread_;
};

// CLOCK_MONOTONIC in nanoseconds, as the login stand-in stamps its events.
long long MonotonicNowNs();
