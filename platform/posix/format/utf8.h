// Narrow strings are UTF-8 on POSIX hosts; wide output wants UTF-16.
#pragma once

#include <cstddef>

#include "platform/win32.h"

namespace quorvane::format {

inline constexpr WCHAR kReplacementCharacter = 0xFFFD;

// Reads NUL-terminated UTF-8 text one character at a time, never looking at more than
// byteLimit bytes, so that a precision can bound a string that has no terminator.
//
// A byte that cannot start a character, or a sequence that breaks off, yields one U+FFFD and
// reading resumes at the byte that broke it: one bad byte costs one character, not the rest of
// the string. Overlong forms and encoded surrogates count as broken sequences.
class Utf8Reader {
  public:
    Utf8Reader(const char* text, std::size_t byteLimit) : text_(text), byteLimit_(byteLimit) {}

    // Stores the next character as one or two UTF-16 code units and returns how many; 0 at
    // the end of the text.
    int next(WCHAR (&units)[2]);

  private:
    bool atEnd() const { return position_ >= byteLimit_ || text_[position_] == '\0'; }
    unsigned char current() const { return static_cast<unsigned char>(text_[position_]); }

    const char* text_;
    std::size_t byteLimit_;
    std::size_t position_ = 0;
};

}  // namespace quorvane::format
