#include "tools/common/console.h"

#include <stdio.h>

namespace tool_console {

std::string Utf8(const WCHAR* pszText)
{
    std::string utf8;
    for (size_t i = 0; pszText != nullptr && pszText[i] != 0; i++) {
        char32_t c = static_cast<char16_t>(pszText[i]);
        char16_t next = static_cast<char16_t>(pszText[i + 1]);
        if (c >= 0xD800 && c <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
            i++;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;  // a lone surrogate is not text
        }
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else if (c < 0x800) {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            utf8 += static_cast<char>(0xE0 | (c >> 12));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            utf8 += static_cast<char>(0xF0 | (c >> 18));
            utf8 += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return utf8;
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
