#include "quorvane/support/object_names.h"

#include "quorvane/support/version.h"

LPCWSTR GetObjectNamePrefix()
{
    return IsNt5OrLater() ? TEXT("Global\\") : TEXT("");
}

// The names in use are a few dozen characters long, far below the budget, so the result of
// the formatting is not examined.
void BuildEventName(WCHAR szName[OBJECT_NAME_BUFFER_CHARS], LPCWSTR pszBaseName)
{
    StringCbPrintfW(szName, OBJECT_NAME_BUDGET_BYTES, TEXT("%s%s"), GetObjectNamePrefix(),
                    pszBaseName);
}

void BuildPortMutexName(WCHAR szName[OBJECT_NAME_BUFFER_CHARS], ULONG_PTR hPort)
{
    StringCbPrintfW(szName, OBJECT_NAME_BUDGET_BYTES, TEXT("%s%s%016Ix"), GetObjectNamePrefix(),
                    HARDWARE_ACCESS_MUTEX_NAME, hPort);
}
