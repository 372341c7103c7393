// Waits as Windows does them: wait-any answers the lowest signalled index and changes only that
// object, wait-all takes every object or none, timeouts (zero included) are kept, and bad
// arguments fail the whole call.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "platform/win32.h"
#include "tests/platform/child_process.h"
#include "tests/platform/conformance.h"
#include "tests/platform/conformance_child.h"
#include "tests/platform/host.h"

namespace {

// Windows' clock ticks every 15.6 ms, and a timed wait may end up to one tick early.
constexpr long long kTickMs = 16;

std::vector<OwnedHandle> MakeEvents(std::size_t count, BOOL bManualReset, BOOL bInitialState)
{
    std::vector<OwnedHandle> events;
    for (std::size_t i = 0; i < count; ++i) {
        events.emplace_back(CreateEventW(NULL, bManualReset, bInitialState, NULL));
    }
    return events;
}

std::vector<HANDLE> HandlesOf(const std::vector<OwnedHandle>& owned)
{
    std::vector<HANDLE> handles;
    handles.reserve(owned.size());
    for (const OwnedHandle& handle : owned) {
        handles.push_back(handle.get());
    }
    return handles;
}

DWORD WaitForAll(const std::vector<HANDLE>& handles, DWORD dwMilliseconds)
{
    return WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE,
                                  dwMilliseconds);
}

DWORD WaitForAny(const std::vector<HANDLE>& handles, DWORD dwMilliseconds)
{
    return WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                                  dwMilliseconds);
}

TEST(WaitAny, ReturnsTheLowestSignalledIndexAndResetsOnlyThatObject)
{
    const struct {
        std::set<DWORD> signalled;
        DWORD expected;
    } cases[] = {
        {{1, 2}, WAIT_OBJECT_0 + 1},   {{3}, WAIT_OBJECT_0 + 3}, {{0, 3}, WAIT_OBJECT_0},
        {{0, 1, 2, 3}, WAIT_OBJECT_0}, {{}, WAIT_TIMEOUT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "expected " << c.expected);
        const std::vector<OwnedHandle> events = MakeEvents(4, FALSE, FALSE);
        const std::vector<HANDLE> handles = HandlesOf(events);
        for (const DWORD index : c.signalled) {
            SetEvent(handles[index]);
        }

        EXPECT_EQ(WaitForAny(handles, 0), c.expected);

        for (DWORD index = 0; index < handles.size(); ++index) {
            const bool stillSet =
                c.signalled.count(index) != 0 && WAIT_OBJECT_0 + index != c.expected;
            EXPECT_EQ(WaitForSingleObject(handles[index], 0),
                      stillSet ? WAIT_OBJECT_0 : WAIT_TIMEOUT)
                << "event " << index;
        }
    }
}

TEST(WaitAny, TakesOnlyTheMutexItReturns)
{
    OwnedHandle held(CreateMutexW(NULL, FALSE, NULL));
    OwnedHandle first(CreateMutexW(NULL, FALSE, NULL));
    OwnedHandle second(CreateMutexW(NULL, FALSE, NULL));
    MutexHolderThread holder(held.get());
    ASSERT_EQ(holder.TakeResult(), WAIT_OBJECT_0);

    EXPECT_EQ(WaitForAny({held.get(), first.get(), second.get()}, 0), WAIT_OBJECT_0 + 1);

    EXPECT_TRUE(ReleaseMutex(first.get()));
    EXPECT_FALSE(ReleaseMutex(second.get())) << "only the returned mutex is taken";
    EXPECT_TRUE(holder.Release());
}

// The mutex in the middle is held elsewhere, by a thread or by another process.
class Holder {
  public:
    virtual ~Holder() = default;
    virtual bool Holding() const = 0;
    virtual void LetGo() = 0;
};

class ThreadHolder : public Holder {
  public:
    explicit ThreadHolder(HANDLE hMutex) : thread_(hMutex) {}
    bool Holding() const override { return thread_.TakeResult() == WAIT_OBJECT_0; }
    void LetGo() override { EXPECT_TRUE(thread_.Release()); }

  private:
    MutexHolderThread thread_;
};

class ProcessHolder : public Holder {
  public:
    explicit ProcessHolder(const WideString& name) : child_("hold-mutex", name, "release") {}
    bool Holding() const override { return child_.Holding(); }
    void LetGo() override { child_.Go(); }

  private:
    HoldingChild child_;
};

TEST(WaitAll, TakesEveryObjectOrNone)
{
    const char* const holders[] = {"thread", "process"};
    for (const char* holderKind : holders) {
        SCOPED_TRACE(testing::Message() << "held by another " << holderKind);
        const WideString heldName = UniqueName(std::string("held.") + holderKind);
        OwnedHandle freeMutex(CreateMutexW(NULL, FALSE, NULL));
        OwnedHandle heldMutex(CreateMutexW(NULL, FALSE, heldName.c_str()));
        OwnedHandle event(CreateEventW(NULL, FALSE, TRUE, NULL));
        ASSERT_TRUE(freeMutex && heldMutex && event);
        std::unique_ptr<Holder> holder;
        if (std::string(holderKind) == "thread") {
            holder = std::make_unique<ThreadHolder>(heldMutex.get());
        } else {
            holder = std::make_unique<ProcessHolder>(heldName);
        }
        ASSERT_TRUE(holder->Holding());
        const std::vector<HANDLE> handles = {freeMutex.get(), heldMutex.get(), event.get()};

        EXPECT_EQ(WaitForAll(handles, 0), WAIT_TIMEOUT);
        EXPECT_EQ(WaitForAll(handles, 50), WAIT_TIMEOUT);
        EXPECT_TRUE(FreeForAnotherThread(freeMutex.get())) << "the free mutex was left free";

        holder->LetGo();
        EXPECT_EQ(WaitForAll(handles, kPromptlyMs), WAIT_OBJECT_0);

        EXPECT_TRUE(ReleaseMutex(freeMutex.get()));
        EXPECT_TRUE(ReleaseMutex(heldMutex.get()));
        EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_TIMEOUT)
            << "the auto-reset event was reset by the wait that took everything, not before";
    }
}

TEST(WaitAll, AnUnsignalledEventLeavesTheMutexFree)
{
    OwnedHandle mutex(CreateMutexW(NULL, FALSE, NULL));
    OwnedHandle event(CreateEventW(NULL, TRUE, FALSE, NULL));
    const std::vector<HANDLE> handles = {mutex.get(), event.get()};

    EXPECT_EQ(WaitForAll(handles, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForAll(handles, 50), WAIT_TIMEOUT);

    EXPECT_TRUE(FreeForAnotherThread(mutex.get()));
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(ReleaseMutex(mutex.get()));
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
}

TEST(WaitAll, OneObjectTwiceFailsWithInvalidParameter)
{
    const WideString name = UniqueName("event");
    OwnedHandle mutex(CreateMutexW(NULL, FALSE, NULL));
    OwnedHandle event(CreateEventW(NULL, FALSE, TRUE, name.c_str()));
    OwnedHandle sameEvent(OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, name.c_str()));
    ASSERT_TRUE(mutex && event && sameEvent);

    const struct {
        const char* name;
        std::vector<HANDLE> handles;
    } cases[] = {
        {"one handle twice", {mutex.get(), mutex.get()}},
        {"two handles of one event", {event.get(), sameEvent.get()}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(ERROR_SUCCESS);
        const DWORD dwResult = WaitForAll(c.handles, 0);
        if (RunningUnderWine()) {
            // Wine 8 differs from Windows here: it waits as if each object were listed once.
            EXPECT_EQ(dwResult, WAIT_OBJECT_0);
            continue;
        }
        EXPECT_EQ(dwResult, WAIT_FAILED);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
}

TEST(Waits, TimeoutZeroReturnsAtOnce)
{
    OwnedHandle event(CreateEventW(NULL, TRUE, FALSE, NULL));
    OwnedHandle mutex(CreateMutexW(NULL, FALSE, NULL));
    MutexHolderThread holder(mutex.get());
    const std::vector<HANDLE> handles = {event.get(), mutex.get()};
    const struct {
        const char* call;
        std::function<DWORD()> wait;
    } cases[] = {
        {"WaitForSingleObject, event", [&] { return WaitForSingleObject(event.get(), 0); }},
        {"WaitForSingleObject, held mutex", [&] { return WaitForSingleObject(mutex.get(), 0); }},
        {"wait-any", [&] { return WaitForAny(handles, 0); }},
        {"wait-all", [&] { return WaitForAll(handles, 0); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call);
        const Stopwatch stopwatch;
        EXPECT_EQ(c.wait(), WAIT_TIMEOUT);
        EXPECT_LT(stopwatch.ElapsedMs(), 1000) << "a poll does not wait";
    }
}

TEST(Waits, TimeoutIsKept)
{
    constexpr DWORD kTimeoutMs = 200;
    OwnedHandle event(CreateEventW(NULL, TRUE, FALSE, NULL));
    OwnedHandle mutex(CreateMutexW(NULL, FALSE, NULL));
    const std::vector<HANDLE> handles = {mutex.get(), event.get()};
    const struct {
        const char* call;
        std::function<DWORD()> wait;
    } cases[] = {
        {"WaitForSingleObject", [&] { return WaitForSingleObject(event.get(), kTimeoutMs); }},
        {"wait-any", [&] { return WaitForAny({event.get()}, kTimeoutMs); }},
        {"wait-all", [&] { return WaitForAll(handles, kTimeoutMs); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call);
        const Stopwatch stopwatch;
        EXPECT_EQ(c.wait(), WAIT_TIMEOUT);
        const long long elapsed = stopwatch.ElapsedMs();
        EXPECT_GE(elapsed, static_cast<long long>(kTimeoutMs) - kTickMs);
        EXPECT_LT(elapsed, static_cast<long long>(kTimeoutMs + kPromptlyMs));
    }
    EXPECT_TRUE(FreeForAnotherThread(mutex.get()));
}

TEST(Waits, CountOutsideOneToMaximumFailsWithInvalidParameter)
{
    const std::vector<OwnedHandle> events = MakeEvents(MAXIMUM_WAIT_OBJECTS + 1, TRUE, TRUE);
    const std::vector<HANDLE> handles = HandlesOf(events);
    const struct {
        DWORD nCount;
        DWORD expected;
    } cases[] = {
        {0, WAIT_FAILED},
        {1, WAIT_OBJECT_0},
        {MAXIMUM_WAIT_OBJECTS, WAIT_OBJECT_0},
        {MAXIMUM_WAIT_OBJECTS + 1, WAIT_FAILED},
    };
    for (const auto& c : cases) {
        for (const BOOL bWaitAll : {FALSE, TRUE}) {
            SCOPED_TRACE(testing::Message() << c.nCount << " handles, wait-all " << bWaitAll);
            SetLastError(ERROR_SUCCESS);
            EXPECT_EQ(WaitForMultipleObjects(c.nCount, handles.data(), bWaitAll, 0), c.expected);
            EXPECT_EQ(GetLastError(),
                      c.expected == WAIT_FAILED ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS);
        }
    }
}

TEST(Waits, AClosedHandleFailsTheWholeWait)
{
    OwnedHandle mutex(CreateMutexW(NULL, FALSE, NULL));
    OwnedHandle event(CreateEventW(NULL, TRUE, TRUE, NULL));
    for (const BOOL bWaitAll : {FALSE, TRUE}) {
        SCOPED_TRACE(testing::Message() << "wait-all " << bWaitAll);
        // Closed right before the wait: the runtime reuses a closed handle's value for the next
        // handle it opens.
        HANDLE hClosed = CreateEventW(NULL, TRUE, TRUE, NULL);
        CloseHandle(hClosed);
        // The signalled objects come first: a wait that took them before checking every handle
        // would succeed.
        const HANDLE handles[] = {mutex.get(), event.get(), hClosed};
        SetLastError(ERROR_SUCCESS);
        const DWORD dwResult = WaitForMultipleObjects(3, handles, bWaitAll, 0);
        const DWORD dwError = GetLastError();

        EXPECT_EQ(dwResult, WAIT_FAILED);
        EXPECT_EQ(dwError, ERROR_INVALID_HANDLE);
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(ReleaseMutex(mutex.get())) << "the mutex was not taken";
        EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
    }
}

}  // namespace
