#include "platform/posix/spooler/wide_text.h"

#include <string.h>

#include "platform/posix/format/utf8.h"

namespace spooler {

namespace {

void AppendUtf8(char32_t codePoint, std::string* pText)
{
    if (codePoint < 0x80) {
        *pText += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        *pText += static_cast<char>(0xC0 | (codePoint >> 6));
        *pText += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        *pText += static_cast<char>(0xE0 | (codePoint >> 12));
        *pText += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        *pText += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        *pText += static_cast<char>(0xF0 | (codePoint >> 18));
        *pText += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        *pText += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        *pText += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

bool IsHighSurrogate(WCHAR unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(WCHAR unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

std::string Utf8FromWide(LPCWSTR pszText)
{
    std::string text;
    for (const WCHAR* pUnit = pszText; *pUnit != 0; pUnit++) {
        char32_t codePoint = *pUnit;
        if (IsHighSurrogate(*pUnit) && IsLowSurrogate(pUnit[1])) {
            codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (pUnit[1] - 0xDC00);
            pUnit++;
        } else if (IsHighSurrogate(*pUnit) || IsLowSurrogate(*pUnit)) {
            codePoint = quorvane::format::kReplacementCharacter;
        }
        AppendUtf8(codePoint, &text);
    }
    return text;
}

std::size_t WideBytesOf(std::string_view text)
{
    quorvane::format::Utf8Reader reader(text.data(), text.size());
    WCHAR units[2];
    std::size_t cUnits = 1;  // the terminator
    while (int cRead = reader.next(units)) {
        cUnits += static_cast<std::size_t>(cRead);
    }
    return cUnits * sizeof(WCHAR);
}

LPBYTE WriteWide(std::string_view text, LPBYTE pAt)
{
    quorvane::format::Utf8Reader reader(text.data(), text.size());
    WCHAR units[2];
    while (int cRead = reader.next(units)) {
        memcpy(pAt, units, static_cast<std::size_t>(cRead) * sizeof(WCHAR));
        pAt += static_cast<std::size_t>(cRead) * sizeof(WCHAR);
    }
    const WCHAR terminator = 0;
    memcpy(pAt, &terminator, sizeof(terminator));
    return pAt + sizeof(terminator);
}

}  // namespace spooler
