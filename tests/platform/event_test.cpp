// Events as Windows signals them: the initial state, SetEvent and ResetEvent, a manual-reset
// event that stays signalled for every waiter, an auto-reset one that lets one waiter through
// per signal, and a signal from another process.
#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>
#include <vector>

#include "platform/win32.h"
#include "tests/platform/child_process.h"
#include "tests/platform/conformance.h"
#include "tests/platform/conformance_child.h"

namespace {

constexpr int kWaiters = 3;

TEST(Event, InitialStateAndWhatAWaitLeavesOfIt)
{
    const struct {
        BOOL bManualReset;
        BOOL bInitialState;
        DWORD firstWait;
        DWORD secondWait;
    } cases[] = {
        {TRUE, TRUE, WAIT_OBJECT_0, WAIT_OBJECT_0},  // a manual-reset event stays signalled
        {TRUE, FALSE, WAIT_TIMEOUT, WAIT_TIMEOUT},
        {FALSE, TRUE, WAIT_OBJECT_0, WAIT_TIMEOUT},  // the wait that succeeds resets it
        {FALSE, FALSE, WAIT_TIMEOUT, WAIT_TIMEOUT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "manual " << c.bManualReset << ", initially " << c.bInitialState);
        OwnedHandle event(CreateEventW(NULL, c.bManualReset, c.bInitialState, NULL));
        ASSERT_TRUE(event);

        EXPECT_EQ(WaitForSingleObject(event.get(), 0), c.firstWait);
        EXPECT_EQ(WaitForSingleObject(event.get(), 0), c.secondWait);
    }
}

TEST(Event, SetAndResetChangeTheStateAndASecondSetDoesNotCount)
{
    enum Step { kSet, kReset, kWait };
    struct Action {
        Step step;
        DWORD expectedWait;  // for kWait
    };
    const struct {
        const char* name;
        BOOL bManualReset;
        std::vector<Action> actions;
    } cases[] = {
        {"manual: set, reset",
         TRUE,
         {{kSet, 0}, {kWait, WAIT_OBJECT_0}, {kReset, 0}, {kWait, WAIT_TIMEOUT}}},
        {"manual: reset when not set", TRUE, {{kReset, 0}, {kWait, WAIT_TIMEOUT}}},
        {"manual: set twice, reset once",
         TRUE,
         {{kSet, 0}, {kSet, 0}, {kReset, 0}, {kWait, WAIT_TIMEOUT}}},
        {"auto: set twice is one signal",
         FALSE,
         {{kSet, 0}, {kSet, 0}, {kWait, WAIT_OBJECT_0}, {kWait, WAIT_TIMEOUT}}},
        {"auto: reset before the wait", FALSE, {{kSet, 0}, {kReset, 0}, {kWait, WAIT_TIMEOUT}}},
        {"auto: set after a wait",
         FALSE,
         {{kSet, 0}, {kWait, WAIT_OBJECT_0}, {kSet, 0}, {kWait, WAIT_OBJECT_0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedHandle event(CreateEventW(NULL, c.bManualReset, FALSE, NULL));
        ASSERT_TRUE(event);
        for (const Action& action : c.actions) {
            switch (action.step) {
                case kSet:
                    EXPECT_TRUE(SetEvent(event.get()));
                    break;
                case kReset:
                    EXPECT_TRUE(ResetEvent(event.get()));
                    break;
                case kWait:
                    EXPECT_EQ(WaitForSingleObject(event.get(), 0), action.expectedWait);
                    break;
            }
        }
    }
}

TEST(Event, ManualResetLetsEveryWaiterThrough)
{
    OwnedHandle event(CreateEventW(NULL, TRUE, FALSE, NULL));
    ASSERT_TRUE(event);
    std::vector<DWORD> results(kWaiters, WAIT_FAILED);
    std::vector<std::thread> waiters;
    waiters.reserve(kWaiters);
    for (DWORD& result : results) {
        waiters.emplace_back([&] { result = WaitForSingleObject(event.get(), kPromptlyMs); });
    }

    EXPECT_TRUE(SetEvent(event.get()));
    for (std::thread& waiter : waiters) {
        waiter.join();
    }

    for (const DWORD result : results) {
        EXPECT_EQ(result, WAIT_OBJECT_0);
    }
    EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_OBJECT_0) << "still signalled";
}

TEST(Event, AutoResetLetsOneWaiterThroughPerSignal)
{
    OwnedHandle event(CreateEventW(NULL, FALSE, FALSE, NULL));
    ASSERT_TRUE(event);
    std::atomic<int> through{0};
    std::vector<DWORD> results(kWaiters, WAIT_FAILED);
    std::vector<std::thread> waiters;
    waiters.reserve(kWaiters);
    for (DWORD& result : results) {
        waiters.emplace_back([&] {
            result = WaitForSingleObject(event.get(), kPromptlyMs);
            ++through;
        });
    }

    // Each signal lets exactly one waiter through: had one let two through, the last signal
    // would find no waiter left and stay set.
    for (int signal = 1; signal <= kWaiters; ++signal) {
        EXPECT_TRUE(SetEvent(event.get()));
        const Stopwatch stopwatch;
        while (through < signal && stopwatch.ElapsedMs() < kPromptlyMs) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_EQ(through, signal);
    }
    for (std::thread& waiter : waiters) {
        waiter.join();
    }

    for (const DWORD result : results) {
        EXPECT_EQ(result, WAIT_OBJECT_0);
    }
    EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_TIMEOUT);
}

TEST(Event, SetEventInAnotherProcessWakesAWaiterHere)
{
    const WideString name = UniqueName("event");
    OwnedHandle event(CreateEventW(NULL, FALSE, FALSE, name.c_str()));
    ASSERT_TRUE(event);

    ChildProcess child({"signal-event", Narrow(name)});

    EXPECT_EQ(WaitForSingleObject(event.get(), kPromptlyMs), WAIT_OBJECT_0);
    EXPECT_EQ(child.Wait(kPromptlyMs), std::optional<int>(kChildSucceeded));
    EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_TIMEOUT) << "the wait reset it";
}

}  // namespace
