// UTF-16 text (what Win32 calls take and give) as UTF-8 (what terminals and logs take).
#pragma once

#include <cstddef>
#include <string>

namespace text {

// A lone surrogate, which is no character, becomes U+FFFD.
std::string Utf8FromUtf16(const char16_t* pText, std::size_t cchText);

}  // namespace text
