// What the layer makes of answers a real scheduler does not give on demand, from a stand-in:
// odd values, and a scheduler that takes any address for its queue.
#include <climits>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "tests/platform/posix/spooler/fake_scheduler.h"
#include "tests/platform/posix/spooler/private_cupsd.h"

namespace {

// The jobs of the only queue, as EnumPrintersW and as GetPrinterW read them.
struct JobCounts {
    DWORD cListed = 0;
    DWORD cRead = 0;
};

JobCounts ReadJobCounts(const std::string& queue)
{
    JobCounts counts;
    DWORD cbNeeded = 0;
    DWORD cReturned = 0;
    EXPECT_FALSE(EnumPrintersW(PRINTER_ENUM_LOCAL, NULL, 2, NULL, 0, &cbNeeded, &cReturned));
    std::vector<BYTE> listing(cbNeeded);
    EXPECT_TRUE(
        EnumPrintersW(PRINTER_ENUM_LOCAL, NULL, 2, listing.data(), cbNeeded, &cbNeeded, &cReturned))
        << GetLastError();
    if (cReturned == 1) {
        counts.cListed = reinterpret_cast<const PRINTER_INFO_2W*>(listing.data())->cJobs;
    } else {
        ADD_FAILURE() << cReturned << " queues listed";
    }

    std::u16string name(queue.begin(), queue.end());
    HANDLE hPrinter = NULL;
    if (!OpenPrinterW(name.data(), &hPrinter, NULL)) {
        ADD_FAILURE() << "OpenPrinterW: " << GetLastError();
        return counts;
    }
    EXPECT_FALSE(GetPrinterW(hPrinter, 2, NULL, 0, &cbNeeded));
    std::vector<BYTE> record(cbNeeded);
    if (GetPrinterW(hPrinter, 2, record.data(), cbNeeded, &cbNeeded)) {
        counts.cRead = reinterpret_cast<const PRINTER_INFO_2W*>(record.data())->cJobs;
    } else {
        ADD_FAILURE() << "GetPrinterW: " << GetLastError();
    }
    EXPECT_TRUE(ClosePrinter(hPrinter));
    return counts;
}

struct QueuedCountCase {
    int queuedJobCount;  // the scheduler's own count, which a queue that hides its jobs shows
    DWORD cJobs;
};

TEST(SchedulerAnswersTest, AQueuesOwnJobCountIsNeverTakenBelowNone)
{
    const QueuedCountCase cases[] = {{3, 3}, {0, 0}, {-1, 0}, {INT_MIN, 0}};
    for (const QueuedCountCase& c : cases) {
        SCOPED_TRACE("queued-job-count " + std::to_string(c.queuedJobCount));
        FakeScheduler scheduler({{"Hidden", c.queuedJobCount}}, {}, JobLists::kRefused);
        ASSERT_EQ("", scheduler.Problem());
        ScopedCupsServer stand_in(scheduler.Socket());

        JobCounts counts = ReadJobCounts("Hidden");
        EXPECT_EQ(c.cJobs, counts.cListed);
        EXPECT_EQ(c.cJobs, counts.cRead);
    }
}

TEST(SchedulerAnswersTest, ANameTooLongForAnAddressIsNoQueueWhateverTheSchedulerWouldAnswer)
{
    // This scheduler answers any address with its queue, a cut or empty one too: only a name
    // never sent is refused.
    FakeScheduler scheduler({{"Lenient"}}, {});
    ASSERT_EQ("", scheduler.Problem());
    ScopedCupsServer stand_in(scheduler.Socket());

    std::u16string beyondAscii;
    for (int i = 0; i < 200; i++) {
        beyondAscii += u"打😀";
    }
    const std::pair<const char*, std::u16string> cases[] = {
        {"2000 ASCII letters", std::u16string(2000, u'L')},
        {"the queue's name, then 2000 letters", u"Lenient" + std::u16string(2000, u'L')},
        {"200 pairs beyond ASCII", beyondAscii},
    };
    for (const auto& [pszCase, name] : cases) {
        SCOPED_TRACE(pszCase);
        std::u16string copy = name;
        HANDLE hPrinter = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x77));
        EXPECT_FALSE(OpenPrinterW(copy.data(), &hPrinter, NULL));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME), GetLastError());
        EXPECT_EQ(nullptr, hPrinter);
    }

    std::u16string queue = u"Lenient";
    HANDLE hPrinter = NULL;
    ASSERT_TRUE(OpenPrinterW(queue.data(), &hPrinter, NULL)) << GetLastError();
    EXPECT_TRUE(ClosePrinter(hPrinter));
}

}  // namespace
