// What the kernel object conformance cases share: names of their own, handles that close
// themselves, threads that hold a mutex, the clock, and the two kinds of named object.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "platform/win32.h"

using WideString = std::basic_string<WCHAR>;

// How long a case waits for something that should happen at once. Far above any real delay,
// so that a slow machine does not fail a case; a case that needs it has failed anyway.
constexpr DWORD kPromptlyMs = 10000;

// A name that no other test run uses: "QuorvaneConformance.<pid>.<suite>.<case>.<purpose>".
// Under Wine every test program shares one object namespace, and CTest runs them side by side.
WideString UniqueName(const std::string& purpose);

WideString Widen(const std::string& ascii);
// ASCII text of a name, for command lines and failure messages.
std::string Narrow(const WideString& name);

class OwnedHandle {
  public:
    OwnedHandle() = default;
    explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
    OwnedHandle(OwnedHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept
    {
        Reset(std::exchange(other.handle_, nullptr));
        return *this;
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    ~OwnedHandle() { Reset(nullptr); }

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void Reset(HANDLE handle = nullptr)
    {
        if (handle_ != nullptr) {
            CloseHandle(handle_);
        }
        handle_ = handle;
    }

  private:
    HANDLE handle_ = nullptr;
};

class Stopwatch {
  public:
    long long ElapsedMs() const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count();
    }
    double ElapsedMsPrecise() const
    {
        return std::chrono::duration<double, std::milli>(Clock::now() - start_).count();
    }

  private:
    using Clock = std::chrono::steady_clock;
    Clock::time_point start_ = Clock::now();
};

// Runs a call on a thread of its own and returns its result: for what must be seen from a
// thread other than the one that owns a mutex.
DWORD OnAnotherThread(const std::function<DWORD()>& call);

// Whether a thread other than the caller can take the mutex now. A thread that takes it lets
// it go again, so that the mutex is left as it was found.
bool FreeForAnotherThread(HANDLE hMutex);

// A thread that takes a mutex and owns it until Release(): ownership belongs to threads, so a
// mutex "held elsewhere" in this process needs a thread of its own.
class MutexHolderThread {
  public:
    explicit MutexHolderThread(HANDLE hMutex);
    ~MutexHolderThread();

    // What the holder's wait for the mutex returned.
    DWORD TakeResult() const { return takeResult_; }
    // Makes the holder release the mutex and end; returns what ReleaseMutex returned.
    BOOL Release();

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool taken_ = false;
    bool releaseNow_ = false;
    DWORD takeResult_ = WAIT_FAILED;
    BOOL released_ = FALSE;
    std::thread thread_;
};

// The two kinds of named object, for cases that hold for both.
struct ObjectKind {
    const char* name;           // "Mutex", "Event": names parameterised cases
    HANDLE (*create)(LPCWSTR);  // a mutex nobody owns, a manual-reset event not signalled
    HANDLE (*open)(LPCWSTR);    // with the rights to wait and to change the state
    bool (*sameObject)(HANDLE, HANDLE);
    const char* childCreate;  // the conformance child's commands for this kind
    const char* childOpen;
};
extern const ObjectKind kMutexKind;
extern const ObjectKind kEventKind;

// The other kind: the one whose name this kind may not take.
const ObjectKind& OtherKind(const ObjectKind& kind);

// A handle and the last error right after the call that made it.
struct Made {
    OwnedHandle handle;
    DWORD lastError;
};
// Creates or opens with a stale last error in place, so that a call that leaves the last
// error alone is told from one that clears it.
Made Create(const ObjectKind& kind, const WideString& name);
Made Open(const ObjectKind& kind, const WideString& name);
