// Open security for the helper's named objects: a present but null DACL lets the port
// component open them from any account, whatever account the helper runs under.
#pragma once

#include "platform/win32.h"

// What a caller traces for each outcome, in its own words.
struct SecurityTraceTexts {
    LPCWSTR pszInitializeFailed;  // format with the GetLastError() value
    LPCWSTR pszSetDaclFailed;     // format with the GetLastError() value
    LPCWSTR pszSucceeded;
};

// Fills the descriptor and the attributes that point at it. Returns TRUE on success; on
// FALSE the caller creates its object with default security (no attributes).
BOOL BuildOpenSecurityAttributes(const SecurityTraceTexts* pTexts,
                                 SECURITY_DESCRIPTOR* pSecurityDescriptor,
                                 SECURITY_ATTRIBUTES* pSecurityAttributes);
