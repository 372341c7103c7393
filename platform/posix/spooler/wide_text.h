// The scheduler speaks UTF-8; Win32 calls take and give UTF-16.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/win32.h"

namespace spooler {

// A wide name as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf8FromWide(LPCWSTR pszText);

// The bytes that text takes as UTF-16 with its terminating NUL.
std::size_t WideBytesOf(std::string_view text);

// Writes text as terminated UTF-16 at pAt, which may have any alignment, and returns the byte
// after it.
LPBYTE WriteWide(std::string_view text, LPBYTE pAt);

}  // namespace spooler
