#include "tests/platform/conformance.h"

#include <gtest/gtest.h>

#include <string>

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace {

unsigned long CurrentProcessId()
{
#if defined(_WIN32)
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(getpid());
#endif
}

}  // namespace

WideString UniqueName(const std::string& purpose)
{
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = "QuorvaneConformance." + std::to_string(CurrentProcessId());
    if (test != nullptr) {
        name += std::string(".") + test->test_suite_name() + "." + test->name();
    }
    return Widen(name + "." + purpose);
}

WideString Widen(const std::string& ascii)
{
    return WideString(ascii.begin(), ascii.end());
}

std::string Narrow(const WideString& name)
{
    std::string ascii;
    for (const WCHAR unit : name) {
        ascii += static_cast<unsigned>(unit) < 0x80 ? static_cast<char>(unit) : '?';
    }
    return ascii;
}

DWORD OnAnotherThread(const std::function<DWORD()>& call)
{
    DWORD result = WAIT_FAILED;
    std::thread([&] { result = call(); }).join();
    return result;
}

bool FreeForAnotherThread(HANDLE hMutex)
{
    return OnAnotherThread([hMutex]() -> DWORD {
               const DWORD dwResult = WaitForSingleObject(hMutex, 0);
               if (dwResult == WAIT_OBJECT_0 || dwResult == WAIT_ABANDONED_0) {
                   ReleaseMutex(hMutex);
               }
               return dwResult;
           }) != WAIT_TIMEOUT;
}

MutexHolderThread::MutexHolderThread(HANDLE hMutex)
{
    thread_ = std::thread([this, hMutex] {
        const DWORD dwResult = WaitForSingleObject(hMutex, kPromptlyMs);
        std::unique_lock<std::mutex> guard(lock_);
        takeResult_ = dwResult;
        taken_ = true;
        changed_.notify_all();
        changed_.wait(guard, [this] { return releaseNow_; });
        released_ = ReleaseMutex(hMutex);
    });
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [this] { return taken_; });
}

MutexHolderThread::~MutexHolderThread()
{
    if (thread_.joinable()) {
        Release();
    }
}

BOOL MutexHolderThread::Release()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        releaseNow_ = true;
        changed_.notify_all();
    }
    thread_.join();
    return released_;
}

namespace {

HANDLE CreateFreeMutex(LPCWSTR name)
{
    return CreateMutexW(NULL, FALSE, name);
}

HANDLE CreateManualEvent(LPCWSTR name)
{
    return CreateEventW(NULL, TRUE, FALSE, name);
}

HANDLE OpenMutexForUse(LPCWSTR name)
{
    return OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name);
}

HANDLE OpenEventForUse(LPCWSTR name)
{
    return OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, name);
}

// One mutex when another thread's hold through one handle keeps this thread out through
// the other.
bool SameMutex(HANDLE hFirst, HANDLE hSecond)
{
    MutexHolderThread holder(hSecond);
    return holder.TakeResult() == WAIT_OBJECT_0 && !FreeForAnotherThread(hFirst);
}

// One event when setting and resetting through one handle shows through the other.
bool SameEvent(HANDLE hFirst, HANDLE hSecond)
{
    ResetEvent(hFirst);
    SetEvent(hSecond);
    const bool setShows = WaitForSingleObject(hFirst, 0) == WAIT_OBJECT_0;
    ResetEvent(hSecond);
    const bool resetShows = WaitForSingleObject(hFirst, 0) == WAIT_TIMEOUT;
    return setShows && resetShows;
}

// A stale error that a successful create must overwrite.
constexpr DWORD kStaleError = ERROR_INVALID_PARAMETER;

}  // namespace

const ObjectKind kMutexKind = {"Mutex",   CreateFreeMutex, OpenMutexForUse,
                               SameMutex, "create-mutex",  "open-mutex"};
const ObjectKind kEventKind = {"Event",   CreateManualEvent, OpenEventForUse,
                               SameEvent, "create-event",    "open-event"};

const ObjectKind& OtherKind(const ObjectKind& kind)
{
    return &kind == &kMutexKind ? kEventKind : kMutexKind;
}

Made Create(const ObjectKind& kind, const WideString& name)
{
    SetLastError(kStaleError);
    OwnedHandle handle(kind.create(name.c_str()));
    const DWORD dwError = GetLastError();
    return {std::move(handle), dwError};
}

Made Open(const ObjectKind& kind, const WideString& name)
{
    SetLastError(kStaleError);
    OwnedHandle handle(kind.open(name.c_str()));
    const DWORD dwError = GetLastError();
    return {std::move(handle), dwError};
}
