// Waits: parameters, access, timeouts, wait-all atomicity across processes, and what a blocked
// wait costs.
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <iterator>
#include <new>
#include <sstream>
#include <vector>

#include "tests/platform/posix/machine.h"

namespace {

using WaitTest = MachineTest;

struct ParameterCase {
    const char* what;
    DWORD nCount;
    std::vector<int> handles;  // indexes into the fixture below; -1 NULL, -2 INVALID_HANDLE_VALUE,
                               // -3 a closed handle, -4 a made-up value
    BOOL bWaitAll;
    DWORD dwResult;
    DWORD dwError;  // 0xDEAD: untouched
};

TEST_F(WaitTest, ParametersAreCheckedAsOnWindows)
{
    ScopedHandle set(CreateEventW(NULL, TRUE, TRUE, NULL));
    ScopedHandle mutex(CreateMutexW(NULL, FALSE, NULL));
    HANDLE hClosed = CreateEventW(NULL, TRUE, TRUE, NULL);
    CloseHandle(hClosed);
    std::vector<HANDLE> many(MAXIMUM_WAIT_OBJECTS + 1, set.h);

    auto handleOf = [&](int index) -> HANDLE {
        switch (index) {
            case 0:
                return set.h;
            case 1:
                return mutex.h;
            case -1:
                return NULL;
            case -2:
                return reinterpret_cast<HANDLE>(-1);
            case -3:
                return hClosed;
            default:
                return reinterpret_cast<HANDLE>(0x1234);
        }
    };
    const ParameterCase cases[] = {
        {"no handles", 0, {0}, FALSE, WAIT_FAILED, ERROR_INVALID_PARAMETER},
        {"65 handles", MAXIMUM_WAIT_OBJECTS + 1, {}, FALSE, WAIT_FAILED, ERROR_INVALID_PARAMETER},
        {"NULL", 1, {-1}, FALSE, WAIT_FAILED, ERROR_INVALID_HANDLE},
        {"INVALID_HANDLE_VALUE", 1, {-2}, FALSE, WAIT_FAILED, ERROR_INVALID_HANDLE},
        {"a closed handle", 1, {-3}, FALSE, WAIT_FAILED, ERROR_INVALID_HANDLE},
        {"a made-up value", 1, {-4}, FALSE, WAIT_FAILED, ERROR_INVALID_HANDLE},
        {"a bad handle after good ones", 3, {0, 1, -3}, TRUE, WAIT_FAILED, ERROR_INVALID_HANDLE},
        {"the same object twice, all", 2, {0, 0}, TRUE, WAIT_FAILED, ERROR_INVALID_PARAMETER},
        {"the same object twice, any", 2, {0, 0}, FALSE, WAIT_OBJECT_0, 0xDEAD},
        {"64 handles", MAXIMUM_WAIT_OBJECTS, {}, FALSE, WAIT_OBJECT_0, 0xDEAD},
    };
    for (const ParameterCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<HANDLE> handles = many;
        for (size_t i = 0; i < c.handles.size(); i++) {
            handles[i] = handleOf(c.handles[i]);
        }
        SetLastError(0xDEAD);
        EXPECT_EQ(c.dwResult, WaitForMultipleObjects(c.nCount, handles.data(), c.bWaitAll, 0));
        EXPECT_EQ(c.dwError, GetLastError());
    }
    // The failed wait-all with the mutex in it took nothing.
    SetLastError(0xDEAD);
    EXPECT_FALSE(ReleaseMutex(mutex.h));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_OWNER), GetLastError());
}

TEST_F(WaitTest, HandlesDoOnlyWhatTheirAccessAllows)
{
    ScopedHandle event(CreateEventW(NULL, TRUE, FALSE, u"Global\\Access.Event"));
    ScopedHandle mutex(CreateMutexW(NULL, FALSE, u"Global\\Access.Mutex"));
    ScopedHandle waitOnly(OpenEventW(SYNCHRONIZE, FALSE, u"Global\\Access.Event"));
    ScopedHandle modifyOnly(OpenEventW(EVENT_MODIFY_STATE, FALSE, u"Global\\Access.Event"));
    ScopedHandle mutexWaitOnly(OpenMutexW(SYNCHRONIZE, FALSE, u"Global\\Access.Mutex"));

    SetLastError(0xDEAD);
    EXPECT_FALSE(SetEvent(waitOnly.h));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(modifyOnly.h, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_TRUE(SetEvent(modifyOnly.h));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(waitOnly.h, 0));

    // Releasing asks for no right: MUTEX_MODIFY_STATE is reserved on Windows.
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutexWaitOnly.h, 0));
    EXPECT_TRUE(ReleaseMutex(mutexWaitOnly.h));

    // A handle of the other kind is not a handle for the call.
    SetLastError(0xDEAD);
    EXPECT_FALSE(SetEvent(mutex.h));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_FALSE(ReleaseMutex(event.h));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

TEST_F(WaitTest, MutexOwnershipIsPerThreadAndRecursive)
{
    ScopedHandle mutex(CreateMutexW(NULL, TRUE, u"Global\\Owned"));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutex.h, 0));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutex.h, 0));

    ChildProgram other;
    EXPECT_EQ("0 183", other.Ask("create-mutex Global\\Owned"));
    EXPECT_EQ("0 288", other.Ask("release 0"));
    EXPECT_EQ("258 57005", other.Ask("wait 0 0"));

    for (int i = 0; i < 3; i++) {
        EXPECT_TRUE(ReleaseMutex(mutex.h));
    }
    SetLastError(0xDEAD);
    EXPECT_FALSE(ReleaseMutex(mutex.h));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_OWNER), GetLastError());
    EXPECT_EQ("0 57005", other.Ask("wait 0 0"));
}

TEST_F(WaitTest, TimeoutsAreKept)
{
    ScopedHandle unset(CreateEventW(NULL, TRUE, FALSE, NULL));

    Clock::time_point start = Clock::now();
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(unset.h, 0));
    EXPECT_LT(MillisecondsSince(start), 1000) << "a zero timeout polls";

    for (DWORD dwTimeout : {1u, 20u, 150u}) {
        SCOPED_TRACE(dwTimeout);
        start = Clock::now();
        EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(unset.h, dwTimeout));
        long long elapsed = MillisecondsSince(start);
        EXPECT_GE(elapsed, static_cast<long long>(dwTimeout));
        EXPECT_LT(elapsed, static_cast<long long>(dwTimeout) + 2000);
    }
}

TEST_F(WaitTest, WaitForAnyReportsTheLowestSignaledIndex)
{
    ScopedHandle busy(CreateMutexW(NULL, FALSE, u"Global\\Any.Busy"));
    ScopedHandle unset(CreateEventW(NULL, FALSE, FALSE, NULL));
    ScopedHandle set1(CreateEventW(NULL, TRUE, TRUE, NULL));
    ScopedHandle set2(CreateEventW(NULL, FALSE, TRUE, NULL));
    ScopedHandle freeMutex(CreateMutexW(NULL, FALSE, NULL));
    ChildProgram other;
    ASSERT_EQ("0 183", other.Ask("create-mutex Global\\Any.Busy"));
    ASSERT_EQ("0 57005", other.Ask("wait 0 0"));

    HANDLE handles[] = {busy.h, unset.h, set2.h, set1.h, freeMutex.h};
    EXPECT_EQ(WAIT_OBJECT_0 + 2, WaitForMultipleObjects(5, handles, FALSE, 0));
    // The auto-reset event was consumed by that wait, the manual one was not.
    EXPECT_EQ(WAIT_OBJECT_0 + 3, WaitForMultipleObjects(5, handles, FALSE, 0));
    EXPECT_EQ(WAIT_OBJECT_0 + 3, WaitForMultipleObjects(5, handles, FALSE, 0));
    ResetEvent(set1.h);
    EXPECT_EQ(WAIT_OBJECT_0 + 4, WaitForMultipleObjects(5, handles, FALSE, 0));
    EXPECT_TRUE(ReleaseMutex(freeMutex.h));
}

TEST_F(WaitTest, WaitAllTakesNothingUntilItCanTakeEverything)
{
    ScopedHandle first(CreateMutexW(NULL, FALSE, u"Global\\All.First"));
    ScopedHandle second(CreateMutexW(NULL, TRUE, u"Global\\All.Second"));
    Pipe notes;
    pid_t waiter = ForkChild([&notes] {
        HANDLE handles[] = {OpenMutexW(SYNCHRONIZE, FALSE, u"Global\\All.First"),
                            OpenMutexW(SYNCHRONIZE, FALSE, u"Global\\All.Second")};
        notes.Say('r');
        DWORD dwResult = WaitForMultipleObjects(2, handles, TRUE, 20000);
        bool bBoth = ReleaseMutex(handles[0]) && ReleaseMutex(handles[1]);
        return dwResult == WAIT_OBJECT_0 && bBoth ? 0 : 1;
    });
    ASSERT_EQ('r', notes.Hear(10000));
    usleep(100 * 1000);  // most likely asleep in its wait by now; either way it must not hold First

    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(first.h, 0));
    EXPECT_TRUE(ReleaseMutex(first.h));
    EXPECT_TRUE(ReleaseMutex(second.h));
    EXPECT_EQ(0, WaitForChild(waiter));
}

// Shared by the contending processes: who holds which mutex by the layer's account.
struct Holders {
    std::atomic<int> inFirst;
    std::atomic<int> inSecond;
    std::atomic<int> violations;
};

TEST_F(WaitTest, WaitAllStaysAtomicUnderContentionOfProcesses)
{
    ScopedHandle first(CreateMutexW(NULL, FALSE, u"Global\\Contended.First"));
    ScopedHandle second(CreateMutexW(NULL, FALSE, u"Global\\Contended.Second"));
    void* pShared =
        mmap(nullptr, sizeof(Holders), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(MAP_FAILED, pShared);
    Holders* pHolders = new (pShared) Holders{};

    // Each process mixes wait-all, naming the mutexes in either order, with taking First and
    // then Second one at a time: a wait-all that held Second while it waited for First would
    // deadlock with a process holding First and waiting for Second.
    auto contend = [pHolders](int seed) {
        HANDLE hFirst = OpenMutexW(SYNCHRONIZE, FALSE, u"Global\\Contended.First");
        HANDLE hSecond = OpenMutexW(SYNCHRONIZE, FALSE, u"Global\\Contended.Second");
        for (int i = 0; i < 2000; i++) {
            HANDLE both[] = {(i + seed) % 2 ? hFirst : hSecond, (i + seed) % 2 ? hSecond : hFirst};
            bool bTogether = (i + seed) % 3 != 0;
            if (bTogether) {
                if (WaitForMultipleObjects(2, both, TRUE, 10000) != WAIT_OBJECT_0) {
                    return 2;
                }
            } else if (WaitForSingleObject(hFirst, 10000) != WAIT_OBJECT_0 ||
                       WaitForSingleObject(hSecond, 10000) != WAIT_OBJECT_0) {
                return 2;
            }
            int othersInFirst = pHolders->inFirst++;
            int othersInSecond = pHolders->inSecond++;
            if (othersInFirst != 0 || othersInSecond != 0) {
                pHolders->violations++;
            }
            sched_yield();  // lets the others pile up on the mutexes
            pHolders->inFirst--;
            pHolders->inSecond--;
            ReleaseMutex(both[1]);
            ReleaseMutex(both[0]);
        }
        return 0;
    };
    std::vector<pid_t> children;
    for (int seed = 0; seed < 4; seed++) {
        children.push_back(ForkChild([&contend, seed] { return contend(seed); }));
    }
    for (pid_t child : children) {
        EXPECT_EQ(0, WaitForChild(child)) << "2: a wait timed out, as in a deadlock";
    }
    EXPECT_EQ(0, pHolders->violations);
    munmap(pShared, sizeof(Holders));
}

TEST_F(WaitTest, SettingEventsWakesProcessesAsTheirKindSays)
{
    ScopedHandle manual(CreateEventW(NULL, TRUE, FALSE, u"Global\\Wake.Manual"));
    ScopedHandle automatic(CreateEventW(NULL, FALSE, FALSE, u"Global\\Wake.Auto"));
    Pipe notes;
    auto waitFor = [&notes](LPCWSTR lpName) {
        return [&notes, lpName] {
            HANDLE h = OpenEventW(SYNCHRONIZE, FALSE, lpName);
            notes.Say('r');
            DWORD dwResult = WaitForSingleObject(h, 20000);
            notes.Say('w');
            return dwResult == WAIT_OBJECT_0 ? 0 : 1;
        };
    };

    std::vector<pid_t> manualWaiters;
    for (int i = 0; i < 3; i++) {
        manualWaiters.push_back(ForkChild(waitFor(u"Global\\Wake.Manual")));
        ASSERT_EQ('r', notes.Hear(10000));
    }
    EXPECT_TRUE(SetEvent(manual.h));
    for (pid_t waiter : manualWaiters) {
        EXPECT_EQ(0, WaitForChild(waiter));
    }
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ('w', notes.Hear(1000));
    }

    std::vector<pid_t> autoWaiters;
    for (int i = 0; i < 3; i++) {
        autoWaiters.push_back(ForkChild(waitFor(u"Global\\Wake.Auto")));
        ASSERT_EQ('r', notes.Hear(10000));
    }
    for (int i = 0; i < 3; i++) {
        usleep(50 * 1000);  // gives a wrongly woken second waiter time to show
        EXPECT_TRUE(SetEvent(automatic.h));
        EXPECT_EQ('w', notes.Hear(10000));
        EXPECT_EQ(0, notes.Hear(100)) << "one SetEvent woke a second waiter";
    }
    for (pid_t waiter : autoWaiters) {
        EXPECT_EQ(0, WaitForChild(waiter));
    }
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(automatic.h, 0)) << "each set was consumed";
}

long VoluntarySwitchesOf(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
            return std::stol(line.substr(line.find(':') + 1));
        }
    }
    return -1;
}

// User and system time, in clock ticks.
long CpuTicksOf(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; i++) {
        if (i >= 14) {
            ticks += std::stol(field);
        }
    }
    return ticks;
}

TEST_F(WaitTest, BlockedWaitSleepsWithoutWakingUpOrSpinning)
{
    ScopedHandle event(CreateEventW(NULL, TRUE, FALSE, u"Global\\Asleep"));
    ScopedHandle owned(CreateMutexW(NULL, TRUE, u"Global\\Asleep.Mutex"));
    Pipe notes;
    pid_t sleeper = ForkChild([&notes] {
        HANDLE handles[] = {OpenEventW(SYNCHRONIZE, FALSE, u"Global\\Asleep"),
                            OpenMutexW(SYNCHRONIZE, FALSE, u"Global\\Asleep.Mutex")};
        notes.Say('r');
        return WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 ? 0 : 1;
    });
    ASSERT_EQ('r', notes.Hear(10000));
    usleep(200 * 1000);
    long switchesBefore = VoluntarySwitchesOf(sleeper);
    long ticksBefore = CpuTicksOf(sleeper);
    usleep(500 * 1000);
    long switchesAfter = VoluntarySwitchesOf(sleeper);
    long ticksAfter = CpuTicksOf(sleeper);
    EXPECT_GE(switchesBefore, 0);
    EXPECT_EQ(switchesBefore, switchesAfter) << "the waiter woke while nothing happened";
    EXPECT_LE(ticksAfter - ticksBefore, 2) << "the waiter used the processor while blocked";
    EXPECT_TRUE(SetEvent(event.h));
    EXPECT_EQ(0, WaitForChild(sleeper));
}

}  // namespace
