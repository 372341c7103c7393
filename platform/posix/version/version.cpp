// The version of the emulated machine: QUORVANE_WINVER gives it, 6.2 when unset (what Windows 8
// and later report to a program that does not declare itself compatible with them).
//
//   MAJOR.MINOR      an NT system of that version
//   MAJOR.MINOR/ID   that version with another platform id
//   fail             every query fails
//   fail-ex          the extended (284-byte) query fails; the plain (276-byte) one works
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform/win32.h"

namespace {

struct EmulatedVersion {
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwPlatformId;
    BOOL bFailPlain;
    BOOL bFailExtended;
};

const EmulatedVersion kDefaultVersion = {6, 2, VER_PLATFORM_WIN32_NT, FALSE, FALSE};

BOOL ParseNumber(const char** ppsz, DWORD* pdwValue)
{
    const char* psz = *ppsz;
    if (*psz < '0' || *psz > '9') {
        return FALSE;
    }
    unsigned long long ullValue = 0;
    while (*psz >= '0' && *psz <= '9') {
        ullValue = ullValue * 10 + static_cast<unsigned>(*psz - '0');
        if (ullValue > 0xFFFFFFFFull) {
            return FALSE;
        }
        psz++;
    }
    *pdwValue = static_cast<DWORD>(ullValue);
    *ppsz = psz;
    return TRUE;
}

BOOL ParseVersion(const char* pszSetting, EmulatedVersion* pVersion)
{
    *pVersion = kDefaultVersion;
    if (strcmp(pszSetting, "fail") == 0) {
        pVersion->bFailPlain = TRUE;
        pVersion->bFailExtended = TRUE;
        return TRUE;
    }
    if (strcmp(pszSetting, "fail-ex") == 0) {
        pVersion->bFailExtended = TRUE;
        return TRUE;
    }

    const char* psz = pszSetting;
    if (!ParseNumber(&psz, &pVersion->dwMajorVersion) || *psz++ != '.' ||
        !ParseNumber(&psz, &pVersion->dwMinorVersion)) {
        return FALSE;
    }
    if (*psz == '/') {
        psz++;
        if (!ParseNumber(&psz, &pVersion->dwPlatformId)) {
            return FALSE;
        }
    }
    return *psz == 0;
}

const EmulatedVersion& GetEmulatedVersion()
{
    static const EmulatedVersion s_version = [] {
        EmulatedVersion version = kDefaultVersion;
        const char* pszSetting = getenv("QUORVANE_WINVER");
        if (pszSetting != NULL && !ParseVersion(pszSetting, &version)) {
            // A mistyped setting must not pass for the intended machine unnoticed.
            fprintf(stderr,
                    "quorvane: QUORVANE_WINVER=\"%s\" is not MAJOR.MINOR, MAJOR.MINOR/ID, fail "
                    "or fail-ex; the version is 6.2\n",
                    pszSetting);
            version = kDefaultVersion;
        }
        return version;
    }();
    return s_version;
}

}  // namespace

BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW lpVersionInformation)
{
    if (lpVersionInformation == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD cbSize = lpVersionInformation->dwOSVersionInfoSize;
    BOOL bExtended = cbSize == sizeof(OSVERSIONINFOEXW);
    if (!bExtended && cbSize != sizeof(OSVERSIONINFOW)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }

    const EmulatedVersion& version = GetEmulatedVersion();
    if (bExtended ? version.bFailExtended : version.bFailPlain) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }

    memset(lpVersionInformation, 0, cbSize);
    lpVersionInformation->dwOSVersionInfoSize = cbSize;
    lpVersionInformation->dwMajorVersion = version.dwMajorVersion;
    lpVersionInformation->dwMinorVersion = version.dwMinorVersion;
    lpVersionInformation->dwPlatformId = version.dwPlatformId;
    if (bExtended) {
        reinterpret_cast<LPOSVERSIONINFOEXW>(lpVersionInformation)->wProductType =
            1;  // workstation
    }
    return TRUE;
}
