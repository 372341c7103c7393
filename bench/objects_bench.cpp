// The cost of the kernel objects the helper waits on, next to the floor they are built on: a
// robust, process-shared pthread mutex in shared memory.
#include <benchmark/benchmark.h>

#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32.h"

namespace {

std::u16string UniqueName(const char* pszWhat, int n = 0)
{
    std::string name = "Global\\QUORVANE.Bench." + std::to_string(getpid()) + "." + pszWhat + "." +
                       std::to_string(n);
    return std::u16string(name.begin(), name.end());
}

void RobustSharedPthreadMutex(benchmark::State& state)
{
    void* pShared = mmap(nullptr, sizeof(pthread_mutex_t), PROT_READ | PROT_WRITE,
                         MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    auto* pMutex = static_cast<pthread_mutex_t*>(pShared);
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(pMutex, &attributes);
    for (auto _ : state) {
        pthread_mutex_lock(pMutex);
        pthread_mutex_unlock(pMutex);
    }
    pthread_mutex_destroy(pMutex);
    munmap(pShared, sizeof(pthread_mutex_t));
}
BENCHMARK(RobustSharedPthreadMutex);

void NamedMutexAcquireRelease(benchmark::State& state)
{
    HANDLE hMutex = CreateMutexW(nullptr, FALSE, UniqueName("mutex").c_str());
    for (auto _ : state) {
        WaitForSingleObject(hMutex, INFINITE);
        ReleaseMutex(hMutex);
    }
    CloseHandle(hMutex);
}
BENCHMARK(NamedMutexAcquireRelease);

void NamedEventSetReset(benchmark::State& state)
{
    HANDLE hEvent = CreateEventW(nullptr, TRUE, FALSE, UniqueName("event").c_str());
    for (auto _ : state) {
        SetEvent(hEvent);
        ResetEvent(hEvent);
    }
    CloseHandle(hEvent);
}
BENCHMARK(NamedEventSetReset);

// What the helper does for a suspend query and the resume with many ports: take them all at
// once, then give each back. The whole cycle is timed, the releases included.
void WaitAllFreeMutexes(benchmark::State& state)
{
    const int nMutexes = static_cast<int>(state.range(0));
    std::vector<HANDLE> mutexes;
    for (int i = 0; i < nMutexes; i++) {
        mutexes.push_back(CreateMutexW(nullptr, FALSE, UniqueName("port", i).c_str()));
    }
    for (auto _ : state) {
        if (WaitForMultipleObjects(static_cast<DWORD>(nMutexes), mutexes.data(), TRUE, 0) !=
            WAIT_OBJECT_0) {
            state.SkipWithError("the wait did not take every mutex");
            break;
        }
        for (HANDLE hMutex : mutexes) {
            ReleaseMutex(hMutex);
        }
    }
    for (HANDLE hMutex : mutexes) {
        CloseHandle(hMutex);
    }
}
BENCHMARK(WaitAllFreeMutexes)->Arg(63);

// Two processes take turns: each sets the other's event and waits for its own. One iteration
// is a round trip, two wake-ups of a blocked waiter.
void HandOffBetweenProcesses(benchmark::State& state)
{
    std::u16string pingName = UniqueName("ping"), pongName = UniqueName("pong");
    HANDLE hPing = CreateEventW(nullptr, FALSE, FALSE, pingName.c_str());
    HANDLE hPong = CreateEventW(nullptr, FALSE, FALSE, pongName.c_str());
    pid_t child = fork();
    if (child == 0) {
        HANDLE hChildPing = CreateEventW(nullptr, FALSE, FALSE, pingName.c_str());
        HANDLE hChildPong = CreateEventW(nullptr, FALSE, FALSE, pongName.c_str());
        // An INFINITE wait would outlive the parent; a generous limit ends the child instead.
        while (WaitForSingleObject(hChildPing, 10000) == WAIT_OBJECT_0) {
            SetEvent(hChildPong);
        }
        _exit(0);
    }
    for (auto _ : state) {
        SetEvent(hPing);
        WaitForSingleObject(hPong, INFINITE);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    CloseHandle(hPing);
    CloseHandle(hPong);
}
BENCHMARK(HandOffBetweenProcesses)->UseRealTime();

// How soon a blocked waiter gets a mutex whose owner process was killed: from the kill to the
// waiter's return, each iteration a new owner process.
void AbandonmentSeenAfterKill(benchmark::State& state)
{
    std::u16string mutexName = UniqueName("abandoned"), readyName = UniqueName("ready");
    HANDLE hMutex = CreateMutexW(nullptr, FALSE, mutexName.c_str());
    HANDLE hReady = CreateEventW(nullptr, FALSE, FALSE, readyName.c_str());
    for (auto _ : state) {
        pid_t owner = fork();
        if (owner == 0) {
            // The mutex exists already, so only a wait makes this process its owner.
            WaitForSingleObject(CreateMutexW(nullptr, FALSE, mutexName.c_str()), INFINITE);
            SetEvent(CreateEventW(nullptr, FALSE, FALSE, readyName.c_str()));
            pause();
            _exit(0);
        }
        WaitForSingleObject(hReady, INFINITE);
        std::atomic<bool> bWaiting{false};
        std::chrono::steady_clock::time_point returned;
        DWORD dwResult = 0;
        std::thread waiter([&] {
            bWaiting = true;
            dwResult = WaitForSingleObject(hMutex, 10000);
            returned = std::chrono::steady_clock::now();
        });
        while (!bWaiting) {
            std::this_thread::yield();
        }
        // Long enough for the waiter to be asleep in the kernel, not on its way there.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        auto killed = std::chrono::steady_clock::now();
        kill(owner, SIGKILL);
        waiter.join();
        waitpid(owner, nullptr, 0);
        if (dwResult != WAIT_ABANDONED_0) {
            state.SkipWithError("the waiter did not get the mutex abandoned");
            break;
        }
        ReleaseMutex(hMutex);
        state.SetIterationTime(std::chrono::duration<double>(returned - killed).count());
    }
    CloseHandle(hReady);
    CloseHandle(hMutex);
}
BENCHMARK(AbandonmentSeenAfterKill)->UseManualTime()->Iterations(50)->Unit(benchmark::kMicrosecond);

}  // namespace
