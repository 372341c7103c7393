// Many threads of one process at once: exclusion, wait-all, and event wake-ups. The plain
// counters guarded by the layer's mutexes are what ThreadSanitizer checks in its build.
#include <atomic>
#include <thread>
#include <vector>

#include "tests/platform/posix/machine.h"

namespace {

using ThreadsTest = MachineTest;

constexpr int kThreads = 4;

TEST_F(ThreadsTest, MutexExcludesThreadsFromEachOther)
{
    ScopedHandle mutex(CreateMutexW(NULL, FALSE, u"Global\\Threads.Counter"));
    long counter = 0;  // guarded by the mutex alone
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++) {
        threads.emplace_back([&, t] {
            // Half the threads use a handle of their own, as another component would.
            HANDLE h = t % 2 ? OpenMutexW(SYNCHRONIZE, FALSE, u"Global\\Threads.Counter") : mutex.h;
            for (int i = 0; i < 2000; i++) {
                if (WaitForSingleObject(h, 10000) != WAIT_OBJECT_0) {
                    failures++;
                    return;
                }
                counter++;
                ReleaseMutex(h);
            }
            if (h != mutex.h) {
                CloseHandle(h);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(0, failures.load());
    EXPECT_EQ(kThreads * 2000L, counter);
}

TEST_F(ThreadsTest, WaitAllAndSingleWaitsShareMutexesWithoutDeadlock)
{
    ScopedHandle first(CreateMutexW(NULL, FALSE, NULL));
    ScopedHandle second(CreateMutexW(NULL, FALSE, NULL));
    long both = 0;  // guarded by holding both mutexes
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    // Single waits always take first, then second; wait-all names them in either order. A
    // wait-all that took second and then waited for first would deadlock with a single waiter.
    for (int t = 0; t < kThreads; t++) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 1000; i++) {
                HANDLE ordered[] = {first.h, second.h};
                HANDLE reversed[] = {second.h, first.h};
                HANDLE* pair = (i + t) % 2 ? ordered : reversed;
                bool bTaken = (i + t) % 3 != 0
                                  ? WaitForMultipleObjects(2, pair, TRUE, 10000) == WAIT_OBJECT_0
                                  : WaitForSingleObject(first.h, 10000) == WAIT_OBJECT_0 &&
                                        WaitForSingleObject(second.h, 10000) == WAIT_OBJECT_0;
                if (!bTaken) {
                    failures++;
                    return;
                }
                both++;
                ReleaseMutex(pair[0]);
                ReleaseMutex(pair[1]);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(0, failures.load()) << "a wait timed out, as in a deadlock";
    EXPECT_EQ(kThreads * 1000L, both);
}

TEST_F(ThreadsTest, ManualEventReleasesEveryWaiterAndAutoEventOne)
{
    ScopedHandle gate(CreateEventW(NULL, TRUE, FALSE, NULL));
    ScopedHandle turnstile(CreateEventW(NULL, FALSE, FALSE, NULL));
    std::atomic<int> throughGate{0};
    std::atomic<int> throughTurnstile{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++) {
        threads.emplace_back([&] {
            if (WaitForSingleObject(gate.h, 10000) == WAIT_OBJECT_0) {
                throughGate++;
            }
            if (WaitForSingleObject(turnstile.h, 10000) == WAIT_OBJECT_0) {
                throughTurnstile++;
            }
        });
    }
    EXPECT_TRUE(SetEvent(gate.h));
    for (int t = 1; t <= kThreads; t++) {
        EXPECT_TRUE(SetEvent(turnstile.h));
        Clock::time_point start = Clock::now();
        while (throughTurnstile.load() < t && MillisecondsSince(start) < 10000) {
            std::this_thread::yield();
        }
        EXPECT_EQ(t, throughTurnstile.load()) << "each SetEvent lets exactly one thread through";
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(kThreads, throughGate.load());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(gate.h, 0)) << "a manual event stays set";
}

}  // namespace
