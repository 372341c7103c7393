// The time limit of one spooler call, against a stand-in scheduler that answers correctly but
// slowly: the helper's suspend answer waits on these calls.
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "platform/posix/spooler/cups_connection.h"
#include "platform/win32.h"
#include "tests/platform/posix/spooler/fake_scheduler.h"
#include "tests/platform/posix/spooler/private_cupsd.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Generous: only a call that outlasts its deadline by far, never a loaded machine, takes this.
constexpr auto kCallBound = spooler::kCallDeadline + std::chrono::seconds(3);

// EnumPrintersW as the helper calls it, size first; ERROR_SUCCESS when every queue came back.
DWORD EnumerateQueues(DWORD cQueues)
{
    DWORD cbNeeded = 0;
    DWORD cReturned = 0;
    if (EnumPrintersW(PRINTER_ENUM_LOCAL, NULL, 2, NULL, 0, &cbNeeded, &cReturned)) {
        return ERROR_SUCCESS;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return GetLastError();
    }
    std::vector<BYTE> buffer(cbNeeded);
    if (!EnumPrintersW(PRINTER_ENUM_LOCAL, NULL, 2, buffer.data(), cbNeeded, &cbNeeded,
                       &cReturned)) {
        return GetLastError();
    }
    EXPECT_EQ(cQueues, cReturned);
    return ERROR_SUCCESS;
}

// OpenPrinterW of the first queue, then ClosePrinter; ERROR_SUCCESS when it opened.
DWORD OpenFirstQueue(const std::string& name)
{
    std::u16string wideName(name.begin(), name.end());
    HANDLE hPrinter = NULL;
    if (!OpenPrinterW(wideName.data(), &hPrinter, NULL)) {
        return GetLastError();
    }
    EXPECT_TRUE(ClosePrinter(hPrinter));
    return ERROR_SUCCESS;
}

struct PaceCase {
    const char* pszCase;
    int cQueues;
    AnswerPace pace;
    bool enumerate;  // EnumPrintersW, else OpenPrinterW
    DWORD dwError;
};

TEST(SpoolerDeadlineTest, ASlowSchedulerCostsACallNoMoreThanItsDeadline)
{
    const PaceCase cases[] = {
        // The stand-in's answers are correct: at full speed, the calls work.
        {"answers at once: enumerate", 3, {}, true, ERROR_SUCCESS},
        {"answers at once: open", 3, {}, false, ERROR_SUCCESS},
        // Never silent for long, so no single wait for data runs out: only the call's own
        // deadline ends it.
        {"one byte every 50 ms: enumerate",
         1,
         {milliseconds(0), milliseconds(50)},
         true,
         RPC_S_SERVER_UNAVAILABLE},
        {"one byte every 50 ms: open",
         1,
         {milliseconds(0), milliseconds(50)},
         false,
         RPC_S_SERVER_UNAVAILABLE},
        // Each answer quick enough, but an enumeration asks once per queue: the deadline is
        // the call's, not each question's.
        {"every answer 80 ms late, 80 queues: enumerate",
         80,
         {milliseconds(80), milliseconds(0)},
         true,
         RPC_S_SERVER_UNAVAILABLE},
    };
    for (const PaceCase& c : cases) {
        SCOPED_TRACE(c.pszCase);
        std::vector<FakeQueue> queues;
        queues.reserve(static_cast<std::size_t>(c.cQueues));
        for (int i = 0; i < c.cQueues; i++) {
            queues.push_back({"Slow" + std::to_string(100 + i)});
        }
        FakeScheduler scheduler(queues, c.pace);
        ASSERT_EQ("", scheduler.Problem());
        ScopedCupsServer stand_in(scheduler.Socket());

        Clock::time_point start = Clock::now();
        DWORD dwError = c.enumerate ? EnumerateQueues(static_cast<DWORD>(c.cQueues))
                                    : OpenFirstQueue(queues.front().name);
        auto took = Clock::now() - start;
        EXPECT_EQ(c.dwError, dwError);
        EXPECT_LT(took, kCallBound)
            << std::chrono::duration_cast<milliseconds>(took).count() << " ms";
    }
}

}  // namespace
