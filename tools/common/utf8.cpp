#include "tools/common/utf8.h"

namespace text {

std::string Utf8FromUtf16(const char16_t* pText, std::size_t cchText)
{
    std::string utf8;
    for (std::size_t i = 0; i < cchText; i++) {
        char32_t c = pText[i];
        bool bPair = c >= 0xD800 && c <= 0xDBFF && i + 1 < cchText && pText[i + 1] >= 0xDC00 &&
                     pText[i + 1] <= 0xDFFF;
        if (bPair) {
            c = 0x10000 + ((c - 0xD800) << 10) + (pText[i + 1] - 0xDC00);
            i++;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
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

}  // namespace text
