#include "quorvane/support/security.h"

#include "quorvane/support/trace.h"

BOOL BuildOpenSecurityAttributes(const SecurityTraceTexts* pTexts,
                                 SECURITY_DESCRIPTOR* pSecurityDescriptor,
                                 SECURITY_ATTRIBUTES* pSecurityAttributes)
{
    if (!InitializeSecurityDescriptor(pSecurityDescriptor, SECURITY_DESCRIPTOR_REVISION)) {
        TraceMessage(pTexts->pszInitializeFailed, GetLastError());
        return FALSE;
    }
    if (!SetSecurityDescriptorDacl(pSecurityDescriptor, TRUE, NULL, FALSE)) {
        TraceMessage(pTexts->pszSetDaclFailed, GetLastError());
        return FALSE;
    }

    pSecurityAttributes->nLength = sizeof(SECURITY_ATTRIBUTES);
    pSecurityAttributes->lpSecurityDescriptor = pSecurityDescriptor;
    pSecurityAttributes->bInheritHandle = FALSE;
    TraceMessage(pTexts->pszSucceeded);
    return TRUE;
}
