// What a process's end leaves behind, whether it exits or is killed: each mutex it owned is
// abandoned to the next waiter (WAIT_ABANDONED_0 + its index), and each object that only it
// held is gone, its name free again.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>

#include "platform/win32.h"
#include "tests/platform/child_process.h"
#include "tests/platform/conformance.h"
#include "tests/platform/conformance_child.h"

namespace {

const struct Ending {
    const char* then;  // the child's last step after GO (see conformance_child.h)
    int exitCode;
} kEndings[] = {
    {"kill", kChildKilled}, {"exit", kChildSucceeded},  // exits still owning the mutex
};

TEST(ProcessDeath, AbandonsItsMutexToAThreadAlreadyWaiting)
{
    for (const Ending& ending : kEndings) {
        SCOPED_TRACE(ending.then);
        const WideString name = UniqueName(std::string("mutex.") + ending.then);
        OwnedHandle mutex(CreateMutexW(NULL, FALSE, name.c_str()));
        OwnedHandle neverSet(CreateEventW(NULL, TRUE, FALSE, NULL));
        ASSERT_TRUE(mutex && neverSet);
        HoldingChild child("hold-mutex", name, ending.then);
        ASSERT_TRUE(child.Holding());
        ASSERT_EQ(WaitForSingleObject(mutex.get(), 0), WAIT_TIMEOUT);

        // The wait starts right after GO, so it is under way (or about to be) when the holder
        // dies: its end must wake the waiter, not only be seen by the next wait.
        const HANDLE handles[] = {neverSet.get(), mutex.get()};
        const Stopwatch sinceGo;
        child.Go();
        const DWORD dwResult = WaitForMultipleObjects(2, handles, FALSE, kPromptlyMs);
        const double delayMs = sinceGo.ElapsedMsPrecise();

        EXPECT_EQ(dwResult, WAIT_ABANDONED_0 + 1);
        std::printf("abandonment by a holder that did \"%s\": seen %.2f ms after GO\n", ending.then,
                    delayMs);
        RecordProperty(std::string("abandonment_ms_") + ending.then, std::to_string(delayMs));
        EXPECT_EQ(child.Wait(kPromptlyMs), std::optional<int>(ending.exitCode));

        // The waiter owns the mutex now; the next wait sees it as any released mutex.
        EXPECT_FALSE(FreeForAnotherThread(mutex.get()));
        EXPECT_TRUE(ReleaseMutex(mutex.get()));
        EXPECT_EQ(WaitForSingleObject(mutex.get(), 0), WAIT_OBJECT_0);
        EXPECT_TRUE(ReleaseMutex(mutex.get()));
    }
}

TEST(ProcessDeath, AbandonmentWithNobodyWaitingIsToldToTheNextWaiter)
{
    for (const Ending& ending : kEndings) {
        SCOPED_TRACE(ending.then);
        const WideString name = UniqueName(std::string("mutex.") + ending.then);
        OwnedHandle mutex(CreateMutexW(NULL, FALSE, name.c_str()));
        ASSERT_TRUE(mutex);
        HoldingChild child("hold-mutex", name, ending.then);
        ASSERT_TRUE(child.Holding());

        child.Go();
        ASSERT_EQ(child.Wait(kPromptlyMs), std::optional<int>(ending.exitCode));

        EXPECT_EQ(WaitForSingleObject(mutex.get(), 0), WAIT_ABANDONED_0);
        EXPECT_TRUE(ReleaseMutex(mutex.get()));
        EXPECT_EQ(WaitForSingleObject(mutex.get(), 0), WAIT_OBJECT_0);
        EXPECT_TRUE(ReleaseMutex(mutex.get()));
    }
}

TEST(ProcessDeath, WaitAllWithAnAbandonedMutexTakesEveryObject)
{
    const WideString name = UniqueName("mutex");
    OwnedHandle freeMutex(CreateMutexW(NULL, FALSE, NULL));
    OwnedHandle heldMutex(CreateMutexW(NULL, FALSE, name.c_str()));
    ASSERT_TRUE(freeMutex && heldMutex);
    HoldingChild child("hold-mutex", name, "kill");
    ASSERT_TRUE(child.Holding());
    const HANDLE handles[] = {freeMutex.get(), heldMutex.get()};

    child.Go();
    const DWORD dwResult = WaitForMultipleObjects(2, handles, TRUE, kPromptlyMs);

    // With wait-all, Windows tells only that some mutex among them was abandoned.
    EXPECT_GE(dwResult, WAIT_ABANDONED_0);
    EXPECT_LT(dwResult, WAIT_ABANDONED_0 + 2);
    EXPECT_TRUE(ReleaseMutex(freeMutex.get()));
    EXPECT_TRUE(ReleaseMutex(heldMutex.get()));
}

TEST(ProcessDeath, AnObjectOnlyTheDeadProcessHeldIsGone)
{
    const struct {
        const ObjectKind* kind;
        const char* command;
    } holds[] = {{&kEventKind, "hold-event"}, {&kMutexKind, "hold-mutex"}};
    for (const auto& hold : holds) {
        for (const Ending& ending : kEndings) {
            SCOPED_TRACE(testing::Message() << hold.command << ", then " << ending.then);
            const WideString name = UniqueName(std::string(hold.command) + "." + ending.then);
            HoldingChild child(hold.command, name, ending.then);
            ASSERT_TRUE(child.Holding());
            EXPECT_EQ(Create(*hold.kind, name).lastError, ERROR_ALREADY_EXISTS)
                << "the object exists while its holder lives";

            child.Go();
            ASSERT_EQ(child.Wait(kPromptlyMs), std::optional<int>(ending.exitCode));

            const Made opened = Open(*hold.kind, name);
            EXPECT_FALSE(opened.handle);
            EXPECT_EQ(opened.lastError, ERROR_FILE_NOT_FOUND);
            const Made created = Create(*hold.kind, name);
            EXPECT_TRUE(created.handle);
            EXPECT_EQ(created.lastError, ERROR_SUCCESS);
        }
    }
}

}  // namespace
