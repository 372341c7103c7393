#include "quorvane/support/object_names.h"

#include "quorvane/support/version.h"

#include "tests/unit/helper_fixture.h"

namespace {

using ObjectNamesTest = HelperTest;

std::string PortMutexName(ULONG_PTR hPort)
{
    WCHAR szName[OBJECT_NAME_BUFFER_CHARS];
    BuildPortMutexName(szName, hPort);
    return fakeos::Utf8(szName);
}

std::string EventName(LPCWSTR pszBaseName)
{
    WCHAR szName[OBJECT_NAME_BUFFER_CHARS];
    BuildEventName(szName, pszBaseName);
    return fakeos::Utf8(szName);
}

TEST_F(ObjectNamesTest, PortMutexNameCarriesTheKeyInSixteenLowercaseDigits)
{
    const struct {
        ULONG_PTR hPort;
        const char* pszName;
    } cases[] = {
        {0, "Global\\QUORVANE.HardwareAccess.0000000000000000"},
        {0x1F4, "Global\\QUORVANE.HardwareAccess.00000000000001f4"},
        {0xABCDEF0123456789, "Global\\QUORVANE.HardwareAccess.abcdef0123456789"},
        {~static_cast<ULONG_PTR>(0), "Global\\QUORVANE.HardwareAccess.ffffffffffffffff"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.pszName, PortMutexName(c.hPort));
    }
}

TEST_F(ObjectNamesTest, EventNamesGetThePrefixOfTheVersion)
{
    EXPECT_EQ("Global\\QUORVANE.OnlyOneInstance", EventName(ONLY_ONE_INSTANCE_EVENT_NAME));
    EXPECT_EQ("Global\\QUORVANE.SuspendMode", EventName(SUSPEND_MODE_EVENT_NAME));

    g_VersionCache = VersionCache{};
    fakeos::SetVersion(VER_PLATFORM_WIN32_NT, 4, 0);
    EXPECT_EQ("QUORVANE.SuspendMode", EventName(SUSPEND_MODE_EVENT_NAME));
    EXPECT_EQ("QUORVANE.HardwareAccess.00000000000001f4", PortMutexName(0x1F4));
}

}  // namespace
