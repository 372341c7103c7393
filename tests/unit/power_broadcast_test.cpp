#include "quorvane/power/power_broadcast.h"

#include "quorvane/process/helper_process.h"
#include "quorvane/registry/port_list.h"
#include "quorvane/support/version.h"
#include "tests/unit/helper_fixture.h"

namespace {

const ULONG_PTR kPortA = 0xA1, kPortB = 0xB2;

const char kAcquired[] =
    "QUORVANEOnPowerBroadcast() : All Mutex QUORVANE.HardwareAccess acquired\n";
const char kReleased[] = "QUORVANEOnPowerBroadcast() : Release Mutex SUCCEEDED\n";
const char kNotOwner[] =
    "QUORVANEOnPowerBroadcast() : Release Mutex failed. GetLastError() = 288\n";
const char kUnmatched[] = "QUORVANEOnPowerBroadcast() : Unmatched\n";
const char kTimedOut[] =
    "QUORVANEOnPowerBroadcast() : WaitForMultipleObjects() returns WAIT_TIMEOUT\n";
const char kDenied[] = "QUORVANEOnPowerBroadcast() : Query suspend is denied\n";

// The suspend-mode event is the fourth handle: after the ports' mutexes at 0x100 and 0x104
// and the event itself at 0x108.
class PowerBroadcastTest : public HelperTest {
  protected:
    void Start(DWORD dwMajor, DWORD dwMinor, std::initializer_list<ULONG_PTR> ports)
    {
        fakeos::SetVersion(VER_PLATFORM_WIN32_NT, dwMajor, dwMinor);
        for (ULONG_PTR hPort : ports) {
            RegisterPort(hPort);
        }
        CreateSuspendModeEventForTest();
        ForgetRecords();
    }

    // What every broadcast traces first: the event's name and the dump of the registry.
    static Lines Opening(const char* pszEvent)
    {
        Lines lines{std::string("QUORVANEOnPowerBroadcast(") + pszEvent + ")\n",
                    "QUORVANEOnPowerBroadcast() : Dump() : " + std::to_string(g_PortList.nPorts) +
                        " Item(s)\n"};
        int nIndex = 0;
        for (PortEntry* pEntry = g_PortList.pHead; pEntry != NULL; pEntry = pEntry->pNext) {
            lines.push_back(DumpEntry(nIndex++, pEntry->hPort, pEntry->hMutex));
        }
        return lines;
    }

    static Lines Then(Lines lines, std::initializer_list<std::string> more)
    {
        lines.insert(lines.end(), more.begin(), more.end());
        return lines;
    }

    // The calls that hold, release or signal: what a broadcast may change.
    static Lines PowerCalls()
    {
        Lines calls;
        for (const std::string& call : fakeos::Calls()) {
            if (call.rfind("Wait", 0) == 0 || call.rfind("ReleaseMutex", 0) == 0 ||
                call.rfind("SetEvent", 0) == 0 || call.rfind("ResetEvent", 0) == 0) {
                calls.push_back(call);
            }
        }
        return calls;
    }

    static bool IsSuspendModeSet()
    {
        return fakeos::IsEventSignalled(u"Global\\QUORVANE.SuspendMode");
    }
};

TEST_F(PowerBroadcastTest, EventNamesCoverTheDocumentedCodes)
{
    const struct {
        WPARAM wEvent;
        const char16_t* pszName;
    } cases[] = {
        {0, u"PBT_APMQUERYSUSPEND"},
        {1, u"PBT_APMQUERYSTANDBY"},
        {2, u"PBT_APMQUERYSUSPENDFAILED"},
        {3, u"PBT_APMQUERYSTANDBYFAILED"},
        {4, u"PBT_APMSUSPEND"},
        {5, u"PBT_APMSTANDBY"},
        {6, u"PBT_APMRESUMECRITICAL"},
        {7, u"PBT_APMRESUMESUSPEND"},
        {8, u"PBT_APMRESUMESTANDBY"},
        {9, u"PBT_APMBATTERYLOW"},
        {10, u"PBT_APMPOWERSTATUSCHANGE"},
        {11, u"PBT_APMOEMEVENT"},
        {12, u"Unknown"},
        {0x12, u"PBT_APMRESUMEAUTOMATIC"},
        {0x8013, u"Unknown"},
        {~static_cast<WPARAM>(0), u"Unknown"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(std::u16string(c.pszName), PowerEventName(c.wEvent)) << c.wEvent;
    }
}

TEST_F(PowerBroadcastTest, WithoutPortsEveryEventIsGrantedUntouched)
{
    Start(5, 1, {});
    for (WPARAM wEvent : {0, 2, 4, 6, 7, 0x12, 0x99}) {
        SCOPED_TRACE(wEvent);
        ForgetRecords();

        EXPECT_EQ(SendPowerEvent(wEvent), TRUE);

        EXPECT_EQ(fakeos::Traces(),
                  (Lines{"QUORVANEOnPowerBroadcast(" + fakeos::Utf8(PowerEventName(wEvent)) + ")\n",
                         "QUORVANEOnPowerBroadcast() : Dump() : 0 Item(s)\n",
                         "QUORVANEOnPowerBroadcast() : No ports are registered\n"}));
        EXPECT_TRUE(PowerCalls().empty());
    }
}

// Each code, from a state where the helper holds nothing, on a system before NT 6.
TEST_F(PowerBroadcastTest, EveryEventCodeOnNt51WithOnePort)
{
    const struct {
        WPARAM wEvent;
        Lines traces;  // after the opening lines
        Lines calls;
        bool bHeldAfter;
        bool bSuspendModeAfter;
    } cases[] = {
        {PBT_APMQUERYSUSPEND,
         {kAcquired},
         {"WaitForMultipleObjects(1, all, 17500) = 0"},
         true,
         false},
        {PBT_APMQUERYSTANDBY, {kUnmatched}, {}, false, false},
        {PBT_APMQUERYSUSPENDFAILED,
         {kNotOwner},
         {"ReleaseMutex(0x100) = FALSE 288", "ResetEvent(0x104) = TRUE"},
         false,
         false},
        {PBT_APMQUERYSTANDBYFAILED, {kUnmatched}, {}, false, false},
        {PBT_APMSUSPEND, {}, {"SetEvent(0x104) = TRUE"}, false, true},
        {PBT_APMSTANDBY, {kUnmatched}, {}, false, false},
        {PBT_APMRESUMECRITICAL, {kUnmatched}, {}, false, false},
        {PBT_APMRESUMESUSPEND,
         {kNotOwner},
         {"ReleaseMutex(0x100) = FALSE 288", "ResetEvent(0x104) = TRUE"},
         false,
         false},
        {PBT_APMRESUMESTANDBY, {kUnmatched}, {}, false, false},
        {PBT_APMBATTERYLOW, {kUnmatched}, {}, false, false},
        {PBT_APMPOWERSTATUSCHANGE, {kUnmatched}, {}, false, false},
        {PBT_APMOEMEVENT, {kUnmatched}, {}, false, false},
        {PBT_APMRESUMEAUTOMATIC,
         {kNotOwner},
         {"ReleaseMutex(0x100) = FALSE 288", "ResetEvent(0x104) = TRUE"},
         false,
         false},
        {0x13, {kUnmatched}, {}, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wEvent);
        SetUp();
        Start(5, 1, {kPortA});
        const char* pszName = nullptr;
        std::string name = fakeos::Utf8(PowerEventName(c.wEvent));
        pszName = name.c_str();

        EXPECT_EQ(SendPowerEvent(c.wEvent), TRUE);

        Lines expected = Opening(pszName);
        expected.insert(expected.end(), c.traces.begin(), c.traces.end());
        EXPECT_EQ(fakeos::Traces(), expected);
        EXPECT_EQ(PowerCalls(), c.calls);
        EXPECT_EQ(fakeos::IsHeldByHelper(MutexName16(kPortA)), c.bHeldAfter);
        EXPECT_EQ(IsSuspendModeSet(), c.bSuspendModeAfter);
        EXPECT_EQ(fakeos::OutstandingHeapBlocks(), 1);  // the registry's one entry
        TearDown();
    }
}

TEST_F(PowerBroadcastTest, SuspendRoadOnNt51TakesEverythingAndGivesItBack)
{
    Start(5, 1, {kPortA, kPortB});

    EXPECT_EQ(SendPowerEvent(PBT_APMQUERYSUSPEND), TRUE);
    EXPECT_TRUE(fakeos::IsHeldByHelper(MutexName16(kPortA)));
    EXPECT_TRUE(fakeos::IsHeldByHelper(MutexName16(kPortB)));
    EXPECT_EQ(SendPowerEvent(PBT_APMSUSPEND), TRUE);
    EXPECT_TRUE(IsSuspendModeSet());
    EXPECT_EQ(SendPowerEvent(PBT_APMRESUMESUSPEND), TRUE);
    EXPECT_FALSE(fakeos::IsHeldByHelper(MutexName16(kPortA)));
    EXPECT_FALSE(IsSuspendModeSet());
    EXPECT_EQ(SendPowerEvent(PBT_APMRESUMEAUTOMATIC), TRUE);

    Lines expected = Then(Opening("PBT_APMQUERYSUSPEND"), {kAcquired});
    for (const Lines& part :
         {Opening("PBT_APMSUSPEND"), Then(Opening("PBT_APMRESUMESUSPEND"), {kReleased, kReleased}),
          Then(Opening("PBT_APMRESUMEAUTOMATIC"), {kNotOwner, kNotOwner})}) {
        expected.insert(expected.end(), part.begin(), part.end());
    }
    EXPECT_EQ(fakeos::Traces(), expected);
    EXPECT_EQ(PowerCalls(),
              (Lines{"WaitForMultipleObjects(2, all, 17500) = 0", "SetEvent(0x108) = TRUE",
                     "ReleaseMutex(0x104) = TRUE", "ReleaseMutex(0x100) = TRUE",
                     "ResetEvent(0x108) = TRUE", "ReleaseMutex(0x104) = FALSE 288",
                     "ReleaseMutex(0x100) = FALSE 288", "ResetEvent(0x108) = TRUE"}));
}

TEST_F(PowerBroadcastTest, SuspendRoadOnNt6GrantsAtOnceAndTakesTheMutexesOnTheAnnouncement)
{
    Start(6, 0, {kPortA, kPortB});

    EXPECT_EQ(SendPowerEvent(PBT_APMQUERYSUSPEND), TRUE);
    EXPECT_EQ(fakeos::Traces(), Opening("PBT_APMQUERYSUSPEND"));
    EXPECT_TRUE(PowerCalls().empty());
    ForgetRecords();

    EXPECT_EQ(SendPowerEvent(PBT_APMSUSPEND), TRUE);
    EXPECT_EQ(fakeos::Traces(), Then(Opening("PBT_APMSUSPEND"), {kAcquired}));
    EXPECT_EQ(PowerCalls(),
              (Lines{"SetEvent(0x108) = TRUE", "WaitForMultipleObjects(2, all, 1900) = 0"}));
    EXPECT_TRUE(fakeos::IsHeldByHelper(MutexName16(kPortA)));
    EXPECT_TRUE(fakeos::IsHeldByHelper(MutexName16(kPortB)));
    ForgetRecords();

    EXPECT_EQ(SendPowerEvent(PBT_APMRESUMEAUTOMATIC), TRUE);
    EXPECT_EQ(fakeos::Traces(), Then(Opening("PBT_APMRESUMEAUTOMATIC"), {kReleased, kReleased}));
    EXPECT_FALSE(fakeos::IsHeldByHelper(MutexName16(kPortA)));
    EXPECT_FALSE(IsSuspendModeSet());
}

// The system may ask again before the machine sleeps or resumes, and a wait for a mutex this
// thread already owns takes it once more: each of those must be given back on resume.
TEST_F(PowerBroadcastTest, ResumeGivesBackEveryAcquisition)
{
    const struct {
        const char* pszCase;
        DWORD dwMajor;
        std::vector<WPARAM> events;
    } cases[] = {
        {"query twice", 5, {PBT_APMQUERYSUSPEND, PBT_APMQUERYSUSPEND, PBT_APMRESUMESUSPEND}},
        {"critical resume between two queries",
         5,
         {PBT_APMQUERYSUSPEND, PBT_APMRESUMECRITICAL, PBT_APMQUERYSUSPEND, PBT_APMRESUMEAUTOMATIC}},
        {"announced twice on NT 6", 6, {PBT_APMSUSPEND, PBT_APMSUSPEND, PBT_APMRESUMESUSPEND}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszCase);
        SetUp();
        Start(c.dwMajor, 1, {kPortA, kPortB});

        for (WPARAM wEvent : c.events) {
            EXPECT_EQ(SendPowerEvent(wEvent), TRUE);
        }

        EXPECT_FALSE(fakeos::IsHeldByHelper(MutexName16(kPortA)));
        EXPECT_FALSE(fakeos::IsHeldByHelper(MutexName16(kPortB)));
        // One trace per port for the resume, however many times the mutex was taken.
        Lines traces = fakeos::Traces();
        EXPECT_EQ(Lines(traces.end() - 2, traces.end()), (Lines{kReleased, kReleased}));
        TearDown();
    }
}

TEST_F(PowerBroadcastTest, BusyPortRefusesTheQueryAfterTheFullWait)
{
    Start(5, 1, {kPortA, kPortB});
    fakeos::HoldMutexElsewhere(MutexName16(kPortA));

    EXPECT_EQ(SendPowerEvent(PBT_APMQUERYSUSPEND), BROADCAST_QUERY_DENY);

    EXPECT_EQ(fakeos::Traces(), Then(Opening("PBT_APMQUERYSUSPEND"), {kTimedOut, kDenied}));
    EXPECT_EQ(PowerCalls(), Lines{"WaitForMultipleObjects(2, all, 17500) = 258"});
    // Wait-all takes nothing unless it can take everything.
    EXPECT_FALSE(fakeos::IsHeldByHelper(MutexName16(kPortB)));
}

TEST_F(PowerBroadcastTest, BusyPortOnNt6DelaysTheAnnouncementButNeverRefusesIt)
{
    Start(6, 1, {kPortA});
    fakeos::HoldMutexElsewhere(MutexName16(kPortA));

    EXPECT_EQ(SendPowerEvent(PBT_APMSUSPEND), TRUE);

    EXPECT_EQ(fakeos::Traces(), Then(Opening("PBT_APMSUSPEND"), {kTimedOut}));
    EXPECT_EQ(PowerCalls(),
              (Lines{"SetEvent(0x104) = TRUE", "WaitForMultipleObjects(1, all, 1900) = 258"}));
    EXPECT_TRUE(IsSuspendModeSet());
}

TEST_F(PowerBroadcastTest, AbandonedMutexStillGrantsWithItsWaitValue)
{
    const struct {
        DWORD dwMajor;
        WPARAM wEvent;
        const char* pszTrace;
    } cases[] = {
        // Port A is second in the chain, so its index in the wait is 1.
        {5, PBT_APMQUERYSUSPEND,
         "QUORVANEOnPowerBroadcast() : WaitForMultipleObjects() returns 129\n"},
        {6, PBT_APMSUSPEND, "QUORVANEOnPowerBroadcast() : WaitForSingleObject() returns 129\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszTrace);
        SetUp();
        Start(c.dwMajor, 1, {kPortA, kPortB});
        fakeos::AbandonMutexElsewhere(MutexName16(kPortA));

        EXPECT_EQ(SendPowerEvent(c.wEvent), TRUE);

        EXPECT_EQ(fakeos::Traces(),
                  Then(Opening(fakeos::Utf8(PowerEventName(c.wEvent)).c_str()), {c.pszTrace}));
        EXPECT_TRUE(fakeos::IsHeldByHelper(MutexName16(kPortA)));
        EXPECT_TRUE(fakeos::IsHeldByHelper(MutexName16(kPortB)));
        TearDown();
    }
}

// Whatever else a wait returns, the query is granted and the announcement acknowledged, with
// the value traced: only an index below the number of ports means every mutex was acquired.
TEST_F(PowerBroadcastTest, UnusualWaitResultsAreTracedAndGranted)
{
    const struct {
        DWORD dwMajor;
        WPARAM wEvent;
        DWORD dwResult;
        DWORD dwError;
        const char* pszTrace;
    } cases[] = {
        {5, PBT_APMQUERYSUSPEND, WAIT_FAILED, ERROR_INVALID_HANDLE,
         "QUORVANEOnPowerBroadcast() : WaitForMultipleObjects() returns WAIT_FAILED. "
         "GetLastError() = 6\n"},
        {5, PBT_APMQUERYSUSPEND, WAIT_ABANDONED_0, 0,
         "QUORVANEOnPowerBroadcast() : WaitForMultipleObjects() returns 128\n"},
        {5, PBT_APMQUERYSUSPEND, 1, 0,
         "QUORVANEOnPowerBroadcast() : WaitForMultipleObjects() returns 1\n"},
        {6, PBT_APMSUSPEND, WAIT_FAILED, ERROR_INVALID_HANDLE,
         "QUORVANEOnPowerBroadcast() : WaitForSingleObject() returns -1\n"},
        {6, PBT_APMSUSPEND, 1, 0, "QUORVANEOnPowerBroadcast() : WaitForSingleObject() returns 1\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszTrace);
        SetUp();
        Start(c.dwMajor, 2, {kPortA});
        fakeos::ScriptWaitResult(c.dwResult, c.dwError);

        EXPECT_EQ(SendPowerEvent(c.wEvent), TRUE);

        EXPECT_EQ(fakeos::Traces(),
                  Then(Opening(fakeos::Utf8(PowerEventName(c.wEvent)).c_str()), {c.pszTrace}));
        TearDown();
    }
}

// The platform waits on at most 64 objects at once; past that every wait fails.
TEST_F(PowerBroadcastTest, MorePortsThanOneWaitCanTake)
{
    const struct {
        DWORD dwMajor;
        WPARAM wEvent;
        int nPorts;
        const char* pszTrace;
    } cases[] = {
        {5, PBT_APMQUERYSUSPEND, 64, kAcquired},
        {5, PBT_APMQUERYSUSPEND, 65,
         "QUORVANEOnPowerBroadcast() : WaitForMultipleObjects() returns WAIT_FAILED. "
         "GetLastError() = 87\n"},
        {6, PBT_APMSUSPEND, 64, kAcquired},
        {6, PBT_APMSUSPEND, 65, "QUORVANEOnPowerBroadcast() : WaitForSingleObject() returns -1\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.nPorts << " ports on " << c.dwMajor << ".1");
        SetUp();
        Start(c.dwMajor, 1, {});
        for (int i = 0; i < c.nPorts; i++) {
            RegisterPort(0x1000 + static_cast<ULONG_PTR>(i));
        }
        ForgetRecords();

        EXPECT_EQ(SendPowerEvent(c.wEvent), TRUE);

        Lines traces = fakeos::Traces();
        EXPECT_EQ(traces.size(), 2u + static_cast<size_t>(c.nPorts) + 1u);
        EXPECT_EQ(traces.back(), c.pszTrace);
        TearDown();
    }
}

TEST_F(PowerBroadcastTest, SnapshotThatCannotBeAllocatedIsAFailedWait)
{
    const struct {
        DWORD dwMajor;
        WPARAM wEvent;
        const char* pszTrace;
    } cases[] = {
        {5, PBT_APMQUERYSUSPEND,
         "QUORVANEOnPowerBroadcast() : WaitForMultipleObjects() returns WAIT_FAILED. "
         "GetLastError() = 8\n"},
        {6, PBT_APMSUSPEND, "QUORVANEOnPowerBroadcast() : WaitForSingleObject() returns -1\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszTrace);
        SetUp();
        Start(c.dwMajor, 1, {kPortA});
        fakeos::FailCall(fakeos::Api::HeapAlloc, 0);

        EXPECT_EQ(SendPowerEvent(c.wEvent), TRUE);

        EXPECT_EQ(fakeos::Traces().back(), c.pszTrace);
        EXPECT_TRUE(fakeos::CallsOf("Wait").empty());
        EXPECT_FALSE(fakeos::IsHeldByHelper(MutexName16(kPortA)));
        TearDown();
    }
}

TEST_F(PowerBroadcastTest, Windows2000RefusesAtOnceWhileAModelPrinterHasJobs)
{
    Start(5, 0, {kPortA});
    fakeos::AddPrinter(u"Office", u"NALVEX QT16 (XPS)", 2);

    EXPECT_EQ(SendPowerEvent(PBT_APMQUERYSUSPEND), BROADCAST_QUERY_DENY);

    Lines traces = fakeos::Traces();
    EXPECT_EQ(traces[3], "QUORVANEIsModelPrinting()\n");
    EXPECT_EQ(traces.back(),
              "QUORVANEOnPowerBroadcast() : We are running Windows 2000 and one printer is "
              "printing -> deny syspend\n");
    EXPECT_TRUE(fakeos::CallsOf("Wait").empty());
    EXPECT_FALSE(fakeos::IsHeldByHelper(MutexName16(kPortA)));
}

TEST_F(PowerBroadcastTest, Windows2000WaitsAsUsualWhenNoModelPrinterIsBusy)
{
    Start(5, 0, {kPortA});
    fakeos::AddPrinter(u"Office", u"NALVEX QT16 (XPS)", 0);
    fakeos::AddPrinter(u"Other", u"Some Other Driver", 5);

    EXPECT_EQ(SendPowerEvent(PBT_APMQUERYSUSPEND), TRUE);

    EXPECT_EQ(fakeos::Traces().back(), kAcquired);
    EXPECT_EQ(fakeos::CallsOf("Wait"), Lines{"WaitForMultipleObjects(1, all, 17500) = 0"});
}

TEST_F(PowerBroadcastTest, Windows2000WithoutPortsNeverAsksTheSpooler)
{
    Start(5, 0, {});
    fakeos::AddPrinter(u"Office", u"NALVEX QT16 (XPS)", 2);

    EXPECT_EQ(SendPowerEvent(PBT_APMQUERYSUSPEND), TRUE);

    EXPECT_EQ(fakeos::Traces().back(), "QUORVANEOnPowerBroadcast() : No ports are registered\n");
    EXPECT_TRUE(fakeos::CallsOf("EnumPrinters").empty());
}

// The printer rule belongs to Windows 2000 alone.
TEST_F(PowerBroadcastTest, OtherVersionsNeverAskTheSpooler)
{
    for (DWORD dwMinor : {1u, 2u}) {
        SetUp();
        Start(5, dwMinor, {kPortA});
        fakeos::AddPrinter(u"Office", u"NALVEX QT16 (XPS)", 2);

        EXPECT_EQ(SendPowerEvent(PBT_APMQUERYSUSPEND), TRUE);

        EXPECT_TRUE(fakeos::CallsOf("EnumPrinters").empty());
        TearDown();
    }
}

TEST_F(PowerBroadcastTest, UnknownVersionWaitsLikeAnOldSystem)
{
    Start(6, 0, {kPortA});
    fakeos::SetVersionFailure(fakeos::VersionFailure::Always);
    g_VersionCache = VersionCache{};

    EXPECT_EQ(SendPowerEvent(PBT_APMQUERYSUSPEND), TRUE);

    EXPECT_EQ(fakeos::Traces().back(), kAcquired);
    EXPECT_TRUE(fakeos::CallsOf("EnumPrinters").empty());
}

TEST_F(PowerBroadcastTest, PortRegisteredWhileHeldIsNotHeldAndItsReleaseFails)
{
    Start(5, 1, {kPortA});
    ASSERT_EQ(SendPowerEvent(PBT_APMQUERYSUSPEND), TRUE);
    RegisterPort(kPortB);
    ForgetRecords();

    EXPECT_EQ(SendPowerEvent(PBT_APMRESUMESUSPEND), TRUE);

    EXPECT_EQ(fakeos::Traces(), Then(Opening("PBT_APMRESUMESUSPEND"), {kNotOwner, kReleased}));
    EXPECT_FALSE(fakeos::IsHeldByHelper(MutexName16(kPortA)));
}

TEST_F(PowerBroadcastTest, MissingSuspendModeEventChangesNothingElse)
{
    Start(5, 1, {kPortA});
    CloseHandle(g_Process.hSuspendModeEvent);
    g_Process.hSuspendModeEvent = NULL;
    ForgetRecords();

    EXPECT_EQ(SendPowerEvent(PBT_APMSUSPEND), TRUE);
    EXPECT_EQ(SendPowerEvent(PBT_APMRESUMESUSPEND), TRUE);

    EXPECT_EQ(fakeos::Traces().back(), kNotOwner);
}

}  // namespace
