// Security descriptors in their absolute form. The named-object service reads only whether
// a descriptor grants everyone access (a present, null DACL).
#include <string.h>

#include "platform/win32.h"

#define ERROR_UNKNOWN_REVISION 1305
#define ERROR_INVALID_SECURITY_DESCR 1338

BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD dwRevision)
{
    if (dwRevision != SECURITY_DESCRIPTOR_REVISION) {
        SetLastError(ERROR_UNKNOWN_REVISION);
        return FALSE;
    }
    if (pSecurityDescriptor == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    SECURITY_DESCRIPTOR* pDescriptor = static_cast<SECURITY_DESCRIPTOR*>(pSecurityDescriptor);
    memset(pDescriptor, 0, sizeof(*pDescriptor));
    pDescriptor->Revision = SECURITY_DESCRIPTOR_REVISION;
    return TRUE;
}

BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent,
                                      PACL pDacl, BOOL bDaclDefaulted)
{
    SECURITY_DESCRIPTOR* pDescriptor = static_cast<SECURITY_DESCRIPTOR*>(pSecurityDescriptor);
    if (pDescriptor == NULL || pDescriptor->Revision != SECURITY_DESCRIPTOR_REVISION) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return FALSE;
    }

    WORD wControl =
        pDescriptor->Control & static_cast<WORD>(~(SE_DACL_PRESENT | SE_DACL_DEFAULTED));
    if (bDaclPresent) {
        wControl |= SE_DACL_PRESENT;
        if (bDaclDefaulted) {
            wControl |= SE_DACL_DEFAULTED;
        }
        pDescriptor->Dacl = pDacl;
    } else {
        pDescriptor->Dacl = NULL;
    }
    pDescriptor->Control = wControl;
    return TRUE;
}
