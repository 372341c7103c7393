#include "platform/posix/spooler/wide_text.h"

#include <string.h>

#include <string>

#include "platform/posix/format/utf8.h"
#include "tools/common/utf8.h"

namespace spooler {

std::string Utf8FromWide(LPCWSTR pszText)
{
    return text::Utf8FromUtf16(pszText, std::char_traits<WCHAR>::length(pszText));
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
