#include "quorvane/registry/port_list.h"

#include "quorvane/support/version.h"
#include "tests/unit/helper_fixture.h"

namespace {

using PortRegistryTest = HelperTest;

const ULONG_PTR kPortA = 0xA1, kPortB = 0xB2, kPortC = 0xC3;

std::string CreatedLine(ULONG_PTR hPort)
{
    return "QUORVANEOnPowRegister() : CreateMutex(" + MutexName(hPort) + ") SUCCESS\n";
}

// The dump lines of the registry as it stands: the count, then each entry from the head.
Lines DumpOf(const std::string& caller)
{
    Lines lines{"QUORVANE" + caller + " : Dump() : " + std::to_string(g_PortList.nPorts) +
                " Item(s)\n"};
    int nIndex = 0;
    for (PortEntry* pEntry = g_PortList.pHead; pEntry != NULL; pEntry = pEntry->pNext) {
        lines.push_back(DumpEntry(nIndex++, pEntry->hPort, pEntry->hMutex));
    }
    return lines;
}

Lines Concat(std::initializer_list<Lines> parts)
{
    Lines all;
    for (const Lines& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

std::vector<ULONG_PTR> KeysInChainOrder()
{
    std::vector<ULONG_PTR> keys;
    for (PortEntry* pEntry = g_PortList.pHead; pEntry != NULL; pEntry = pEntry->pNext) {
        keys.push_back(pEntry->hPort);
    }
    return keys;
}

TEST_F(PortRegistryTest, RegistrationOpensTheOpenlySecuredMutexAndDumps)
{
    RegisterPort(0x1F4);

    HANDLE hMutex = MutexHandleOf(0x1F4);
    ASSERT_NE(hMutex, nullptr);
    EXPECT_EQ(
        fakeos::Traces(),
        (Lines{"QUORVANEOnPowRegister() :.......\n",
               "QUORVANEOnPowRegister() : SecurityDescriptor : SUCCESS\n",
               "QUORVANEOnPowRegister() : CreateMutex(Global\\QUORVANE.HardwareAccess."
               "00000000000001f4) SUCCESS\n",
               "QUORVANEOnPowRegister() : Dump() : 1 Item(s)\n", DumpEntry(0, 0x1F4, hMutex)}));
    EXPECT_EQ(fakeos::Calls(), Lines{"CreateMutexW(" + MutexName(0x1F4) + ", open) = 0x100"});
    EXPECT_FALSE(fakeos::IsHeldByHelper(MutexName16(0x1F4)));
}

TEST_F(PortRegistryTest, MutexCreatedByThePortSideFirstIsOpened)
{
    fakeos::CreateMutexElsewhere(MutexName16(kPortA));

    RegisterPort(kPortA);

    EXPECT_EQ(fakeos::Traces()[2], CreatedLine(kPortA));
    EXPECT_EQ(KeysInChainOrder(), std::vector<ULONG_PTR>{kPortA});
}

TEST_F(PortRegistryTest, NewestRegistrationComesFirst)
{
    RegisterPort(kPortA);
    RegisterPort(kPortB);
    RegisterPort(kPortC);

    EXPECT_EQ(KeysInChainOrder(), (std::vector<ULONG_PTR>{kPortC, kPortB, kPortA}));
    Lines traces = fakeos::Traces();
    Lines lastDump(traces.end() - 4, traces.end());
    EXPECT_EQ(lastDump, DumpOf("OnPowRegister()"));
    EXPECT_EQ(lastDump[0], "QUORVANEOnPowRegister() : Dump() : 3 Item(s)\n");
    EXPECT_EQ(lastDump[1], DumpEntry(0, kPortC, MutexHandleOf(kPortC)));
    EXPECT_EQ(lastDump[3], DumpEntry(2, kPortA, MutexHandleOf(kPortA)));
}

TEST_F(PortRegistryTest, RegisteringAKeyAgainReplacesItsEntry)
{
    RegisterPort(kPortA);
    RegisterPort(kPortB);
    HANDLE hOldMutex = MutexHandleOf(kPortA);
    ForgetRecords();

    RegisterPort(kPortA);

    EXPECT_EQ(KeysInChainOrder(), (std::vector<ULONG_PTR>{kPortA, kPortB}));
    EXPECT_NE(MutexHandleOf(kPortA), hOldMutex);
    EXPECT_EQ(
        fakeos::Traces(),
        Concat({{"QUORVANEOnPowRegister() :.......\n",
                 "QUORVANEOnPowRegister() : The port is already registred\n",
                 "QUORVANEOnPowRegister() : SecurityDescriptor : SUCCESS\n", CreatedLine(kPortA)},
                DumpOf("OnPowRegister()")}));
    EXPECT_EQ(fakeos::CallsOf("CloseHandle"),
              Lines{"CloseHandle(" + fakeos::HandleText(hOldMutex) + ") = TRUE"});
    EXPECT_EQ(fakeos::OpenHandleCount(), 2);
}

TEST_F(PortRegistryTest, FailedCreationOnReRegistrationLeavesTheKeyUnregistered)
{
    RegisterPort(kPortA);
    RegisterPort(kPortB);
    ForgetRecords();
    fakeos::FailCall(fakeos::Api::CreateMutexW, ERROR_ACCESS_DENIED);

    RegisterPort(kPortA);

    EXPECT_EQ(KeysInChainOrder(), std::vector<ULONG_PTR>{kPortB});
    EXPECT_EQ(fakeos::Traces(),
              Concat({{"QUORVANEOnPowRegister() :.......\n",
                       "QUORVANEOnPowRegister() : The port is already registred\n",
                       "QUORVANEOnPowRegister() : SecurityDescriptor : SUCCESS\n",
                       "QUORVANEOnPowRegister() : CreateMutex(" + MutexName(kPortA) +
                           ") failed. GetLastError() = 5\n"},
                      DumpOf("OnPowRegister()")}));
    EXPECT_EQ(fakeos::OpenHandleCount(), 1);
}

TEST_F(PortRegistryTest, SecurityFailureFallsBackToDefaultSecurity)
{
    const struct {
        fakeos::Api api;
        const char* pszTrace;
    } cases[] = {
        {fakeos::Api::InitializeSecurityDescriptor,
         "QUORVANEOnPowRegister() : InitializeSecurityDescriptor() failed. GetLastError() = 8\n"},
        {fakeos::Api::SetSecurityDescriptorDacl,
         "QUORVANEOnPowRegister() : SetSecurityDescriptorDacl() failed. GetLastError() = 8\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszTrace);
        ClearPortList();
        ForgetRecords();
        fakeos::FailCall(c.api, ERROR_NOT_ENOUGH_MEMORY);

        RegisterPort(kPortA);

        Lines traces = fakeos::Traces();
        ASSERT_EQ(traces.size(), 5u);
        EXPECT_EQ(traces[1], c.pszTrace);
        EXPECT_EQ(traces[2], CreatedLine(kPortA));
        EXPECT_EQ(fakeos::CallsOf("CreateMutexW"),
                  Lines{"CreateMutexW(" + MutexName(kPortA) +
                        ", default) = " + fakeos::HandleText(MutexHandleOf(kPortA))});
    }
}

TEST_F(PortRegistryTest, EntryThatCannotBeAllocatedLeavesNoHandleBehind)
{
    fakeos::FailCall(fakeos::Api::HeapAlloc, 0);

    RegisterPort(kPortA);

    EXPECT_EQ(g_PortList.nPorts, 0);
    EXPECT_EQ(fakeos::Traces(),
              (Lines{"QUORVANEOnPowRegister() :.......\n",
                     "QUORVANEOnPowRegister() : SecurityDescriptor : SUCCESS\n",
                     CreatedLine(kPortA), "QUORVANEOnPowRegister() : Dump() : 0 Item(s)\n"}));
    EXPECT_EQ(fakeos::OpenHandleCount(), 0);
    EXPECT_FALSE(fakeos::ObjectExists(MutexName16(kPortA)));
}

TEST_F(PortRegistryTest, UnregisteringTheOnlyPortEmptiesTheRegistry)
{
    RegisterPort(kPortA);
    HANDLE hMutex = MutexHandleOf(kPortA);
    ForgetRecords();

    UnregisterPort(kPortA);

    EXPECT_EQ(g_PortList.pHead, nullptr);
    EXPECT_EQ(fakeos::Traces(), (Lines{"QUORVANEOnPowUnregister ....Entering() :.......\n",
                                       "QUORVANEOnPowUnregister ....ListLookUp() :.......\n",
                                       "QUORVANEOnPowUnregister() : Dump() : 0 Item(s)\n",
                                       "QUORVANEOnPowUnregister ....Exiting() :.......\n"}));
    std::string handle = fakeos::HandleText(hMutex);
    EXPECT_EQ(fakeos::Calls(), Lines{"CloseHandle(" + handle + ") = TRUE"});
    EXPECT_FALSE(fakeos::ObjectExists(MutexName16(kPortA)));
    EXPECT_EQ(fakeos::OutstandingHeapBlocks(), 0);
}

TEST_F(PortRegistryTest, UnregisteringAnAbsentKeyChangesNothing)
{
    RegisterPort(kPortA);
    RegisterPort(kPortB);
    RegisterPort(kPortC);
    ForgetRecords();

    UnregisterPort(0xD4);

    EXPECT_EQ(KeysInChainOrder(), (std::vector<ULONG_PTR>{kPortC, kPortB, kPortA}));
    EXPECT_EQ(fakeos::Traces(), Concat({{"QUORVANEOnPowUnregister ....Entering() :.......\n"},
                                        DumpOf("OnPowUnregister()"),
                                        {"QUORVANEOnPowUnregister ....Exiting() :.......\n"}}));
    EXPECT_TRUE(fakeos::Calls().empty());
}

TEST_F(PortRegistryTest, UnregisteringFromAnEmptyRegistryOnlyTraces)
{
    UnregisterPort(kPortA);

    EXPECT_EQ(fakeos::Traces(), (Lines{"QUORVANEOnPowUnregister ....Entering() :.......\n",
                                       "QUORVANEOnPowUnregister() : Dump() : 0 Item(s)\n",
                                       "QUORVANEOnPowUnregister ....Exiting() :.......\n"}));
}

// Keys are compared whole: zero is an ordinary key, and the upper 32 bits count.
TEST_F(PortRegistryTest, KeysAreWhole64BitIdentities)
{
    const ULONG_PTR kLow = 0x5, kHigh = 0x100000005, kZero = 0, kAllOnes = ~0ull;
    for (ULONG_PTR hPort : {kLow, kHigh, kZero, kAllOnes}) {
        RegisterPort(hPort);
    }
    EXPECT_EQ(KeysInChainOrder(), (std::vector<ULONG_PTR>{kAllOnes, kZero, kHigh, kLow}));

    UnregisterPort(kHigh);
    UnregisterPort(kZero);

    EXPECT_EQ(KeysInChainOrder(), (std::vector<ULONG_PTR>{kAllOnes, kLow}));
    EXPECT_TRUE(fakeos::ObjectExists(MutexName16(kLow)));
    EXPECT_FALSE(fakeos::ObjectExists(MutexName16(kHigh)));
    EXPECT_FALSE(fakeos::ObjectExists(MutexName16(kZero)));
}

TEST_F(PortRegistryTest, RemovingFromTheMiddleKeepsTheChain)
{
    RegisterPort(kPortA);
    RegisterPort(kPortB);
    RegisterPort(kPortC);

    UnregisterPort(kPortB);

    EXPECT_EQ(KeysInChainOrder(), (std::vector<ULONG_PTR>{kPortC, kPortA}));
    EXPECT_EQ(g_PortList.nPorts, 2);
}

TEST_F(PortRegistryTest, ClearingClosesEveryHandleOnceAndTracesNothing)
{
    RegisterPort(kPortA);
    RegisterPort(kPortB);
    RegisterPort(kPortC);
    ForgetRecords();

    ClearPortList();

    EXPECT_EQ(g_PortList.pHead, nullptr);
    EXPECT_EQ(g_PortList.nPorts, 0);
    EXPECT_TRUE(fakeos::Traces().empty());
    EXPECT_EQ(fakeos::CallsOf("CloseHandle").size(), 3u);
    EXPECT_EQ(fakeos::OpenHandleCount(), 0);
    EXPECT_EQ(fakeos::OutstandingHeapBlocks(), 0);
}

// Between a granted suspend query and the resume the helper owns every port's mutex. A port
// that goes away then must not take its mutex out of reach of the port side for good.
TEST_F(PortRegistryTest, PortLeavingWhileHeldHandsItsMutexBack)
{
    fakeos::SetVersion(VER_PLATFORM_WIN32_NT, 5, 1);
    CreateSuspendModeEventForTest();
    for (void (*leave)(ULONG_PTR) : {UnregisterPort, RegisterPort}) {
        ClearPortList();
        RegisterPort(kPortA);
        ASSERT_EQ(SendPowerEvent(PBT_APMQUERYSUSPEND), TRUE);
        ASSERT_TRUE(fakeos::IsHeldByHelper(MutexName16(kPortA)));
        fakeos::CreateMutexElsewhere(MutexName16(kPortA));  // the port side keeps it open
        HANDLE hMutex = MutexHandleOf(kPortA);
        ForgetRecords();

        leave(kPortA);

        std::string handle = fakeos::HandleText(hMutex);
        EXPECT_EQ(fakeos::CallsOf("ReleaseMutex"), Lines{"ReleaseMutex(" + handle + ") = TRUE"});
        EXPECT_EQ(fakeos::CallsOf("CloseHandle"), Lines{"CloseHandle(" + handle + ") = TRUE"});
        EXPECT_FALSE(fakeos::IsHeldByHelper(MutexName16(kPortA)));
    }
}

}  // namespace
