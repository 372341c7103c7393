#include "platform/posix/format/utf8.h"

namespace quorvane::format {

int Utf8Reader::next(WCHAR (&units)[2])
{
    if (atEnd()) {
        return 0;
    }
    const unsigned char lead = current();
    ++position_;
    if (lead < 0x80) {
        units[0] = lead;
        return 1;
    }

    // The lead byte fixes the length; for a few leads the first continuation byte has a
    // narrower range, which is what rules out overlong forms, surrogates and values above
    // U+10FFFF.
    int continuationCount = 0;
    char32_t codePoint = 0;
    unsigned char firstLow = 0x80;
    unsigned char firstHigh = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        continuationCount = 1;
        codePoint = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        continuationCount = 2;
        codePoint = lead & 0x0Fu;
        firstLow = lead == 0xE0 ? 0xA0 : 0x80;
        firstHigh = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        continuationCount = 3;
        codePoint = lead & 0x07u;
        firstLow = lead == 0xF0 ? 0x90 : 0x80;
        firstHigh = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        units[0] = kReplacementCharacter;
        return 1;
    }

    unsigned char low = firstLow;
    unsigned char high = firstHigh;
    for (int i = 0; i < continuationCount; ++i) {
        if (atEnd() || current() < low || current() > high) {
            units[0] = kReplacementCharacter;
            return 1;
        }
        codePoint = (codePoint << 6) | (current() & 0x3Fu);
        ++position_;
        low = 0x80;
        high = 0xBF;
    }

    if (codePoint < 0x10000) {
        units[0] = static_cast<WCHAR>(codePoint);
        return 1;
    }
    const char32_t offset = codePoint - 0x10000;
    units[0] = static_cast<WCHAR>(0xD800 + (offset >> 10));
    units[1] = static_cast<WCHAR>(0xDC00 + (offset & 0x3FF));
    return 2;
}

}  // namespace quorvane::format
