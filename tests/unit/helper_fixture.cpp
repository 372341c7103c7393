#include "tests/unit/helper_fixture.h"

#include <stdio.h>

#include "quorvane/process/helper_process.h"
#include "quorvane/registry/port_list.h"
#include "quorvane/registry/port_messages.h"
#include "quorvane/support/version.h"

void HelperTest::SetUp()
{
    fakeos::Reset();
    g_VersionCache = VersionCache{};
    g_Process = HelperProcess{};
    InitPortList();
}

void HelperTest::TearDown()
{
    // Whatever a test left registered is torn down, so no test sees another's entries.
    ClearPortList();
}

void HelperTest::ForgetRecords()
{
    fakeos::ClearRecords();
}

std::string MutexName(ULONG_PTR hPort, const std::string& prefix)
{
    char szKey[17];
    snprintf(szKey, sizeof(szKey), "%016llx", hPort);
    return prefix + "QUORVANE.HardwareAccess." + szKey;
}

std::u16string MutexName16(ULONG_PTR hPort, const std::string& prefix)
{
    return fakeos::Utf16(MutexName(hPort, prefix));
}

std::string DumpEntry(int nIndex, ULONG_PTR hPort, HANDLE hMutex)
{
    char szLine[128];
    snprintf(szLine, sizeof(szLine), "QUORVANE[%d] hPort = %016llx, hMutex = %016llx\n", nIndex,
             hPort, reinterpret_cast<ULONG_PTR>(hMutex));
    return szLine;
}

void RegisterPort(ULONG_PTR hPort)
{
    EXPECT_EQ(0, MainWindowProc(NULL, WM_POW_REGISTER, hPort, 0));
}

void UnregisterPort(ULONG_PTR hPort)
{
    EXPECT_EQ(0, MainWindowProc(NULL, WM_POW_UNREGISTER, hPort, 0));
}

LRESULT SendPowerEvent(WPARAM wEvent)
{
    return MainWindowProc(NULL, WM_POWERBROADCAST, wEvent, 0);
}

HANDLE MutexHandleOf(ULONG_PTR hPort)
{
    PortEntry* pEntry = FindPort(hPort);
    return pEntry != NULL ? pEntry->hMutex : NULL;
}

void CreateSuspendModeEventForTest()
{
    g_Process.hSuspendModeEvent = CreateEventW(NULL, TRUE, FALSE, u"Global\\QUORVANE.SuspendMode");
}
