#include "quorvane/support/version.h"

#include <string.h>

VersionCache g_VersionCache;

// Systems that predate the extended structure reject its size; they accept the plain one.
static void QueryVersion()
{
    if (g_VersionCache.bKnown) {
        return;
    }

    OSVERSIONINFOEXW* pVersion = &g_VersionCache.osvi;
    memset(pVersion, 0, sizeof(*pVersion));
    pVersion->dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);
    BOOL bSucceeded = GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(pVersion));
    if (!bSucceeded) {
        pVersion->dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
        bSucceeded = GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(pVersion));
    }
    g_VersionCache.bKnown = bSucceeded ? 1 : 0;
}

static BOOL IsNt()
{
    QueryVersion();
    return g_VersionCache.bKnown && g_VersionCache.osvi.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

BOOL IsNt5OrLater()
{
    return IsNt() && g_VersionCache.osvi.dwMajorVersion > 4;
}

BOOL IsNt6OrLater()
{
    return IsNt() && g_VersionCache.osvi.dwMajorVersion > 5;
}

BOOL IsWindows2000()
{
    return IsNt() && g_VersionCache.osvi.dwMajorVersion == 5 &&
           g_VersionCache.osvi.dwMinorVersion == 0;
}
