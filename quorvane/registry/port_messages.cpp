#include "quorvane/registry/port_messages.h"

#include "quorvane/registry/port_list.h"
#include "quorvane/support/object_names.h"
#include "quorvane/support/security.h"
#include "quorvane/support/trace.h"

static const SecurityTraceTexts kRegisterSecurityTexts = {
    TEXT("QUORVANEOnPowRegister() : InitializeSecurityDescriptor() failed. GetLastError() = %d\n"),
    TEXT("QUORVANEOnPowRegister() : SetSecurityDescriptorDacl() failed. GetLastError() = %d\n"),
    TEXT("QUORVANEOnPowRegister() : SecurityDescriptor : SUCCESS\n"),
};

LRESULT OnPowRegister(HWND /*hwnd*/, WPARAM wParam, LPARAM /*lParam*/)
{
    ULONG_PTR hPort = wParam;

    TraceMessage(TEXT("QUORVANEOnPowRegister() :.......\n"));

    PortEntry* pExisting = FindPort(hPort);
    if (pExisting != NULL) {
        TraceMessage(TEXT("QUORVANEOnPowRegister() : The port is already registred\n"));
        ClosePortMutex(pExisting);
        RemovePort(hPort);
    }

    SECURITY_DESCRIPTOR securityDescriptor;
    SECURITY_ATTRIBUTES securityAttributes;
    BOOL bOpenSecurity = BuildOpenSecurityAttributes(&kRegisterSecurityTexts, &securityDescriptor,
                                                     &securityAttributes);

    WCHAR szMutexName[OBJECT_NAME_BUFFER_CHARS];
    BuildPortMutexName(szMutexName, hPort);

    // The port component may have created the mutex first; opening it is the same success.
    HANDLE hMutex = CreateMutexW(bOpenSecurity ? &securityAttributes : NULL, FALSE, szMutexName);
    if (hMutex == NULL) {
        TraceMessage(
            TEXT("QUORVANEOnPowRegister() : CreateMutex(%s) failed. GetLastError() = %d\n"),
            szMutexName, GetLastError());
    } else {
        TraceMessage(TEXT("QUORVANEOnPowRegister() : CreateMutex(%s) SUCCESS\n"), szMutexName);
        if (!AddPort(hPort, hMutex)) {
            // Without an entry nothing would ever close the handle.
            CloseHandle(hMutex);
        }
    }

    Dump(TEXT("OnPowRegister()"));
    return 1;
}

LRESULT OnPowUnregister(HWND /*hwnd*/, WPARAM wParam, LPARAM /*lParam*/)
{
    ULONG_PTR hPort = wParam;

    TraceMessage(TEXT("QUORVANEOnPowUnregister ....Entering() :.......\n"));

    PortEntry* pEntry = FindPort(hPort);
    if (pEntry != NULL) {
        TraceMessage(TEXT("QUORVANEOnPowUnregister ....ListLookUp() :.......\n"));
        ClosePortMutex(pEntry);
    }
    RemovePort(hPort);

    Dump(TEXT("OnPowUnregister()"));
    TraceMessage(TEXT("QUORVANEOnPowUnregister ....Exiting() :.......\n"));
    return 1;
}
