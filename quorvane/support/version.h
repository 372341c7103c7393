// The operating-system version, queried once it can be known, and the questions the power
// rules and the object names ask of it.
#pragma once

#include "platform/win32.h"

struct VersionCache {
    OSVERSIONINFOEXW osvi;  // as filled by GetVersionExW; only the platform and version are read
    DWORD bKnown;           // 1 once a query has succeeded; never refreshed after that
};

extern VersionCache g_VersionCache;

BOOL IsNt5OrLater();
BOOL IsNt6OrLater();
BOOL IsWindows2000();
