// Mutex ownership as Windows keeps it: it belongs to a thread, it counts recursive waits, only
// its owner may release it, and a thread that ends owning it abandons it.
#include <gtest/gtest.h>

#include <thread>

#include "platform/win32.h"
#include "tests/platform/child_process.h"
#include "tests/platform/conformance.h"
#include "tests/platform/conformance_child.h"

namespace {

TEST(Mutex, InitialOwnerIsTheCreatingThread)
{
    const struct {
        BOOL bInitialOwner;
        bool freeForOthers;
        BOOL creatorMayRelease;
    } cases[] = {{TRUE, false, TRUE}, {FALSE, true, FALSE}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "bInitialOwner " << c.bInitialOwner);
        OwnedHandle mutex(CreateMutexW(NULL, c.bInitialOwner, NULL));
        ASSERT_TRUE(mutex);

        EXPECT_EQ(FreeForAnotherThread(mutex.get()), c.freeForOthers);
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(ReleaseMutex(mutex.get()), c.creatorMayRelease);
        EXPECT_EQ(GetLastError(), c.creatorMayRelease ? ERROR_SUCCESS : ERROR_NOT_OWNER);
        EXPECT_TRUE(FreeForAnotherThread(mutex.get()));
    }
}

TEST(Mutex, SecondCreateIgnoresInitialOwner)
{
    const WideString name = UniqueName("mutex");
    OwnedHandle first(CreateMutexW(NULL, FALSE, name.c_str()));
    ASSERT_TRUE(first);

    // bInitialOwner was settled by whoever created the mutex: this thread does not get it.
    const DWORD dwError = OnAnotherThread([&name]() -> DWORD {
        OwnedHandle second(CreateMutexW(NULL, TRUE, name.c_str()));
        return second ? GetLastError() : ERROR_INVALID_HANDLE;
    });

    EXPECT_EQ(dwError, ERROR_ALREADY_EXISTS);
    EXPECT_EQ(WaitForSingleObject(first.get(), 0), WAIT_OBJECT_0)
        << "a thread that ended owning it would have abandoned it";
    EXPECT_TRUE(ReleaseMutex(first.get()));
}

TEST(Mutex, EachWaitOfTheOwnerNeedsItsOwnRelease)
{
    OwnedHandle mutex(CreateMutexW(NULL, TRUE, NULL));
    ASSERT_TRUE(mutex);
    EXPECT_EQ(WaitForSingleObject(mutex.get(), 0), WAIT_OBJECT_0);
    const HANDLE handles[] = {mutex.get()};
    EXPECT_EQ(WaitForMultipleObjects(1, handles, TRUE, 0), WAIT_OBJECT_0);

    // Owned three times: free for others only after the third release.
    for (int release = 1; release <= 3; ++release) {
        SCOPED_TRACE(testing::Message() << "release " << release);
        EXPECT_FALSE(FreeForAnotherThread(mutex.get()));
        EXPECT_TRUE(ReleaseMutex(mutex.get()));
    }
    EXPECT_TRUE(FreeForAnotherThread(mutex.get()));

    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(ReleaseMutex(mutex.get())) << "one release more than the waits";
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
}

TEST(Mutex, OwnershipBelongsToTheThreadNotTheHandleOrProcess)
{
    OwnedHandle mutex(CreateMutexW(NULL, FALSE, NULL));
    ASSERT_TRUE(mutex);
    MutexHolderThread holder(mutex.get());
    ASSERT_EQ(holder.TakeResult(), WAIT_OBJECT_0);

    // The same handle, the same process, another thread: it waits like any stranger.
    EXPECT_EQ(WaitForSingleObject(mutex.get(), 0), WAIT_TIMEOUT);
    EXPECT_TRUE(holder.Release());
    EXPECT_EQ(WaitForSingleObject(mutex.get(), 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex.get()));
}

TEST(Mutex, ReleaseByAThreadThatDoesNotOwnItFailsWithNotOwner)
{
    OwnedHandle mutex(CreateMutexW(NULL, FALSE, NULL));
    ASSERT_TRUE(mutex);
    MutexHolderThread holder(mutex.get());
    ASSERT_EQ(holder.TakeResult(), WAIT_OBJECT_0);

    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(ReleaseMutex(mutex.get()));
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
    EXPECT_FALSE(FreeForAnotherThread(mutex.get())) << "the holder still owns it";

    EXPECT_TRUE(holder.Release());
}

TEST(Mutex, ReleaseByAProcessThatDoesNotOwnItFailsWithNotOwner)
{
    const WideString name = UniqueName("mutex");
    const struct {
        const char* state;
        BOOL bOwned;
    } cases[] = {{"owned here", TRUE}, {"free", FALSE}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.state);
        OwnedHandle mutex(CreateMutexW(NULL, c.bOwned, name.c_str()));
        ASSERT_TRUE(mutex);

        ChildProcess child({"release-mutex", Narrow(name)});
        EXPECT_EQ(child.Wait(kPromptlyMs), std::optional<int>(kChildNotOwner));

        EXPECT_EQ(FreeForAnotherThread(mutex.get()), !c.bOwned);
        if (c.bOwned) {
            EXPECT_TRUE(ReleaseMutex(mutex.get()));
        }
    }
}

TEST(Mutex, AThreadThatEndsOwningItAbandonsIt)
{
    OwnedHandle mutex(CreateMutexW(NULL, FALSE, NULL));
    ASSERT_TRUE(mutex);
    OwnedHandle taken(CreateEventW(NULL, TRUE, FALSE, NULL));
    OwnedHandle end(CreateEventW(NULL, TRUE, FALSE, NULL));
    std::thread owner([&] {
        WaitForSingleObject(mutex.get(), 0);
        SetEvent(taken.get());
        WaitForSingleObject(end.get(), kPromptlyMs);
    });
    EXPECT_EQ(WaitForSingleObject(taken.get(), kPromptlyMs), WAIT_OBJECT_0);

    // This thread is waiting, or about to, when the owner ends.
    SetEvent(end.get());
    EXPECT_EQ(WaitForSingleObject(mutex.get(), kPromptlyMs), WAIT_ABANDONED_0);
    owner.join();

    // The abandoned mutex is this thread's now, and the abandonment is told only once.
    EXPECT_FALSE(FreeForAnotherThread(mutex.get()));
    EXPECT_TRUE(ReleaseMutex(mutex.get()));
    EXPECT_EQ(WaitForSingleObject(mutex.get(), 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex.get()));
}

TEST(Mutex, AnotherProcessHoldsItUntilItReleasesIt)
{
    const WideString name = UniqueName("mutex");
    OwnedHandle mutex(CreateMutexW(NULL, FALSE, name.c_str()));
    ASSERT_TRUE(mutex);
    HoldingChild child("hold-mutex", name, "release");
    ASSERT_TRUE(child.Holding());

    EXPECT_EQ(WaitForSingleObject(mutex.get(), 0), WAIT_TIMEOUT);

    child.Go();
    EXPECT_EQ(WaitForSingleObject(mutex.get(), kPromptlyMs), WAIT_OBJECT_0)
        << "released, not abandoned";
    EXPECT_EQ(child.Wait(kPromptlyMs), std::optional<int>(kChildSucceeded));
    EXPECT_TRUE(ReleaseMutex(mutex.get()));
}

}  // namespace
