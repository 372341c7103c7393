// Deaths: a mutex's owner dies (thread exit, process exit, SIGKILL) and the mutex is abandoned
// to the next waiter; an object's last holder dies and the object goes with its name; a holder
// of the kernel lock dies and the machine goes on.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "platform/posix/objects/internal.h"
#include "tests/platform/posix/machine.h"

namespace {

using DeathTest = MachineTest;

// Death is noticed at once; the bound only keeps a lost wake-up from passing for slowness.
constexpr long long kPromptlyMs = 1000;

TEST_F(DeathTest, KilledOwnerAbandonsTheMutexToABlockedWaiterPromptly)
{
    ChildProgram holder;
    ASSERT_EQ("0 0", holder.Ask("create-mutex Global\\Killed.Holder owned"));
    ScopedHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, u"Global\\Killed.Holder"));
    ASSERT_NE(nullptr, mutex.h);

    std::atomic<long long> killedAt{0};
    Clock::time_point start = Clock::now();
    std::thread killer([&] {
        usleep(200 * 1000);
        killedAt = MillisecondsSince(start);
        holder.Kill();
    });
    DWORD dwResult = WaitForSingleObject(mutex.h, 20000);
    long long returnedAt = MillisecondsSince(start);
    killer.join();

    EXPECT_EQ(WAIT_ABANDONED_0, dwResult);
    EXPECT_LT(returnedAt - killedAt.load(), kPromptlyMs);
    // Abandonment is told once: the mutex is ours now, and an ordinary mutex afterwards.
    EXPECT_TRUE(ReleaseMutex(mutex.h));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutex.h, 0));
    EXPECT_TRUE(ReleaseMutex(mutex.h));
}

struct EndCase {
    const char* what;
    const char* end;  // the holder's last command; empty: killed
};

TEST_F(DeathTest, MutexOfADeadProcessIsAbandonedForLaterWaitsToo)
{
    const EndCase cases[] = {
        {"killed", ""},
        {"exited", "exit 0"},
    };
    for (const EndCase& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedHandle mutex(CreateMutexW(NULL, FALSE, u"Global\\Dead.Holder"));
        {
            ChildProgram holder;
            ASSERT_EQ("0 183", holder.Ask("create-mutex Global\\Dead.Holder"));
            ASSERT_EQ("0 57005", holder.Ask("wait 0 0"));
            if (c.end[0] != 0) {
                holder.Ask(c.end);
            }
        }  // gone, killed if still there
        // Nobody was waiting when it died; even a poll learns of it.
        EXPECT_EQ(WAIT_ABANDONED_0, WaitForSingleObject(mutex.h, 0));
        EXPECT_TRUE(ReleaseMutex(mutex.h));
    }
}

TEST_F(DeathTest, EveryWaiterOfAKilledOwnerGetsTheMutexInTurn)
{
    ChildProgram holder;
    ASSERT_EQ("0 0", holder.Ask("create-mutex Global\\Killed.Many owned"));
    ScopedHandle keep(OpenMutexW(SYNCHRONIZE, FALSE, u"Global\\Killed.Many"));
    Pipe notes;
    // 0: got it, 1: got it abandoned, 2: timed out, 3: failed.
    auto wait = [&notes] {
        HANDLE h = OpenMutexW(SYNCHRONIZE, FALSE, u"Global\\Killed.Many");
        notes.Say('r');
        DWORD dwResult = WaitForSingleObject(h, 20000);
        usleep(20 * 1000);
        ReleaseMutex(h);
        return dwResult == WAIT_OBJECT_0      ? 0
               : dwResult == WAIT_ABANDONED_0 ? 1
               : dwResult == WAIT_TIMEOUT     ? 2
                                              : 3;
    };
    std::vector<pid_t> waiters;
    for (int i = 0; i < 3; i++) {
        waiters.push_back(ForkChild(wait));
        ASSERT_EQ('r', notes.Hear(10000));
    }
    usleep(200 * 1000);
    holder.Kill();

    std::vector<int> results;
    for (pid_t waiter : waiters) {
        results.push_back(WaitForChild(waiter));
    }
    std::sort(results.begin(), results.end());
    EXPECT_EQ((std::vector<int>{0, 0, 1}), results);
}

TEST_F(DeathTest, NewOwnerKilledAfterAHandoverAbandonsToTheOtherWaiter)
{
    // The second waiter starts out watching this process's thread; when the mutex passes to the
    // first waiter, it must watch that one instead, or the death would go unnoticed.
    ScopedHandle mutex(CreateMutexW(NULL, TRUE, u"Global\\Handover"));
    Pipe ready;
    Pipe got;
    // A waiter that gets the mutex says its name and keeps it; the other reports its wait.
    auto waiter = [&ready, &got](char name) {
        return [&ready, &got, name] {
            HANDLE h = OpenMutexW(SYNCHRONIZE, FALSE, u"Global\\Handover");
            ready.Say('r');
            DWORD dwResult = WaitForSingleObject(h, 20000);
            if (dwResult == WAIT_OBJECT_0) {
                got.Say(name);
                pause();
            }
            return dwResult == WAIT_ABANDONED_0 ? 1 : dwResult == WAIT_TIMEOUT ? 2 : 3;
        };
    };
    pid_t a = ForkChild(waiter('a'));
    ASSERT_EQ('r', ready.Hear(10000));
    pid_t b = ForkChild(waiter('b'));
    ASSERT_EQ('r', ready.Hear(10000));
    usleep(200 * 1000);
    ASSERT_TRUE(ReleaseMutex(mutex.h));

    char owner = got.Hear(10000);
    ASSERT_TRUE(owner == 'a' || owner == 'b');
    Clock::time_point killedAt = Clock::now();
    kill(owner == 'a' ? a : b, SIGKILL);
    EXPECT_EQ(1, WaitForChild(owner == 'a' ? b : a))
        << "1: abandoned to it; 2: it timed out, never told of the death";
    EXPECT_LT(MillisecondsSince(killedAt), kPromptlyMs);
    WaitForChild(owner == 'a' ? a : b);
}

TEST_F(DeathTest, ThreadExitAbandonsItsMutexes)
{
    ScopedHandle held(CreateMutexW(NULL, FALSE, NULL));
    ScopedHandle waited(CreateMutexW(NULL, FALSE, NULL));
    std::thread owner([&] {
        WaitForSingleObject(held.h, 0);
        WaitForSingleObject(waited.h, 0);
        WaitForSingleObject(waited.h, 0);  // recursively: the count goes with it
    });
    owner.join();
    EXPECT_EQ(WAIT_ABANDONED_0, WaitForSingleObject(held.h, 0));
    EXPECT_TRUE(ReleaseMutex(held.h));

    // A waiter already asleep is woken by the exit.
    Pipe notes;
    std::thread sleeper([&] {
        WaitForSingleObject(waited.h, 0);
        WaitForSingleObject(waited.h, 0);
        notes.Say('h');
        usleep(200 * 1000);
    });
    ASSERT_EQ('h', notes.Hear(10000));
    EXPECT_EQ(WAIT_ABANDONED_0, WaitForSingleObject(waited.h, 20000));
    sleeper.join();
    EXPECT_TRUE(ReleaseMutex(waited.h));
    SetLastError(0xDEAD);
    EXPECT_FALSE(ReleaseMutex(waited.h));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_OWNER), GetLastError());
}

TEST_F(DeathTest, WaitAllReportsTheLowestAbandonedIndexAndTakesEverything)
{
    ScopedHandle free1(CreateMutexW(NULL, FALSE, NULL));
    ScopedHandle abandoned(CreateMutexW(NULL, FALSE, u"Global\\All.Abandoned"));
    ScopedHandle abandoned2(CreateMutexW(NULL, FALSE, u"Global\\All.Abandoned2"));
    ScopedHandle event(CreateEventW(NULL, FALSE, TRUE, NULL));
    {
        ChildProgram holder;
        ASSERT_EQ("0 183", holder.Ask("create-mutex Global\\All.Abandoned"));
        ASSERT_EQ("1 183", holder.Ask("create-mutex Global\\All.Abandoned2"));
        ASSERT_EQ("0 57005", holder.Ask("wait 1 0"));
        ASSERT_EQ("0 57005", holder.Ask("wait 0 0"));
    }
    HANDLE handles[] = {free1.h, abandoned2.h, event.h, abandoned.h};
    EXPECT_EQ(WAIT_ABANDONED_0 + 1, WaitForMultipleObjects(4, handles, TRUE, 0));
    EXPECT_TRUE(ReleaseMutex(free1.h));
    EXPECT_TRUE(ReleaseMutex(abandoned.h));
    EXPECT_TRUE(ReleaseMutex(abandoned2.h));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event.h, 0)) << "the auto-reset event was taken";
}

struct LastHolderCase {
    const char* what;
    const char* create;  // the child's command
    const char16_t* name;
    bool bSurvivorHolds;  // this process holds a handle too
};

TEST_F(DeathTest, ObjectGoesWithItsLastHolderEvenKilled)
{
    const LastHolderCase cases[] = {
        {"global event", "create-event Global\\Last.Event", u"Global\\Last.Event", false},
        {"owned mutex", "create-mutex Global\\Last.Mutex owned", u"Global\\Last.Mutex", false},
        {"user's event", "create-event Last.Local manual set", u"Last.Local", false},
        {"event still held here", "create-event Global\\Last.Kept", u"Global\\Last.Kept", true},
    };
    for (const LastHolderCase& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedHandle kept(NULL);
        {
            ChildProgram creator;
            ASSERT_EQ("0 0", creator.Ask(c.create));
            if (c.bSurvivorHolds) {
                kept.h = OpenEventW(SYNCHRONIZE, FALSE, c.name);
            }
        }  // killed
        bool bMutex = std::string(c.create).find("mutex") != std::string::npos;
        ScopedHandle again(bMutex ? CreateMutexW(NULL, FALSE, c.name)
                                  : CreateEventW(NULL, TRUE, FALSE, c.name));
        ASSERT_NE(nullptr, again.h);
        EXPECT_EQ(c.bSurvivorHolds ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS, GetLastError());
        if (!c.bSurvivorHolds) {
            EXPECT_EQ(bMutex ? WAIT_OBJECT_0 : WAIT_TIMEOUT, WaitForSingleObject(again.h, 0))
                << "a fresh object, not the dead one's";
        }
    }
}

TEST_F(DeathTest, MachineGoesOnAfterAKernelLockHolderIsKilled)
{
    ScopedHandle mutex(CreateMutexW(NULL, FALSE, u"Global\\Repair.Mutex"));
    ScopedHandle event(CreateEventW(NULL, TRUE, FALSE, u"Global\\Repair.Event"));
    pid_t victim = ForkChild([] {
        HANDLE h = OpenMutexW(SYNCHRONIZE, FALSE, u"Global\\Repair.Mutex");
        HANDLE hCreated = CreateEventW(NULL, TRUE, FALSE, u"Global\\Repair.Orphan");
        if (h == NULL || hCreated == NULL || WaitForSingleObject(h, 0) != WAIT_OBJECT_0) {
            return 1;
        }
        objects::EnterKernel();  // and dies holding the kernel lock
        raise(SIGKILL);
        return 2;
    });
    ASSERT_EQ(kKilledBySigkill, WaitForChild(victim));

    EXPECT_EQ(WAIT_ABANDONED_0, WaitForSingleObject(mutex.h, 5000));
    EXPECT_TRUE(ReleaseMutex(mutex.h));
    ScopedHandle orphan(CreateEventW(NULL, TRUE, FALSE, u"Global\\Repair.Orphan"));
    EXPECT_EQ(ERROR_SUCCESS, GetLastError()) << "the dead process's event went with it";
    EXPECT_TRUE(SetEvent(event.h));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event.h, 0));
}

}  // namespace
