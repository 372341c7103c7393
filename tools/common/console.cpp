#include "tools/common/console.h"

#include <stdio.h>

#include "tools/common/utf8.h"

namespace tool_console {

std::string Utf8(const WCHAR* pszText)
{
    std::size_t cchText = 0;
    while (pszText != nullptr && pszText[cchText] != 0) {
        cchText++;
    }
    // A WCHAR is one UTF-16 code unit on every host, whatever its C++ type.
    std::u16string units(pszText, pszText + cchText);
    return text::Utf8FromUtf16(units.data(), units.size());
}

void PrintLine(const std::string& line)
{
    fputs(line.c_str(), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

void PrintError(const char* pszTool, const std::string& message)
{
    fprintf(stderr, "%s: %s\n", pszTool, message.c_str());
}

}  // namespace tool_console
