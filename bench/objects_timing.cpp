// The object benchmarks' core figures, timed with plain Win32 calls so that one program builds
// for both hosts: on Linux against our layer, for Windows with mingw-w64 to run under Wine.
// Google Benchmark has no Windows build here; the Linux figures are cross-checked by
// objects_bench.
//
//   objects_timing [ITERATIONS]
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace {

using Clock = std::chrono::steady_clock;

std::basic_string<WCHAR> Name(const char* pszWhat, int n)
{
    std::string name = std::string("Global\\QUORVANE.Timing.") + pszWhat + "." + std::to_string(n);
    return std::basic_string<WCHAR>(name.begin(), name.end());
}

template <typename Body>
double NanosecondsPer(long nIterations, Body body)
{
    auto began = Clock::now();
    for (long i = 0; i < nIterations; i++) {
        body();
    }
    return std::chrono::duration<double, std::nano>(Clock::now() - began).count() /
           static_cast<double>(nIterations);
}

}  // namespace

int main(int argc, char** argv)
{
    long nIterations = argc > 1 ? atol(argv[1]) : 200000;
    HANDLE hMutex = CreateMutexW(NULL, FALSE, Name("mutex", 0).c_str());
    HANDLE hEvent = CreateEventW(NULL, TRUE, FALSE, Name("event", 0).c_str());
    std::vector<HANDLE> ports;
    for (int i = 0; i < 63; i++) {
        ports.push_back(CreateMutexW(NULL, FALSE, Name("port", i).c_str()));
    }
    if (hMutex == NULL || hEvent == NULL) {
        fprintf(stderr, "objects_timing: cannot create the objects (error %lu)\n",
                static_cast<unsigned long>(GetLastError()));
        return 1;
    }

    double acquireRelease = NanosecondsPer(nIterations, [&] {
        WaitForSingleObject(hMutex, INFINITE);
        ReleaseMutex(hMutex);
    });
    double setReset = NanosecondsPer(nIterations, [&] {
        SetEvent(hEvent);
        ResetEvent(hEvent);
    });
    double waitAll63 = NanosecondsPer(nIterations / 20 + 1, [&] {
        WaitForMultipleObjects(63, ports.data(), TRUE, 0);
        for (HANDLE hPort : ports) {
            ReleaseMutex(hPort);
        }
    });

    printf("named mutex acquire+release      %10.1f ns\n", acquireRelease);
    printf("event set+reset                  %10.1f ns\n", setReset);
    printf("wait-all of 63 free mutexes      %10.1f ns (with the 63 releases)\n", waitAll63);
    return 0;
}
