// Where formatted text goes: a caller's buffer of fixed capacity.
#pragma once

#include <cstddef>

#include "platform/win32.h"

namespace quorvane::format {

// Stores what fits and keeps counting past the end, so that the caller learns the full length
// of the text without the formatter ever allocating or writing beyond the capacity.
class Sink {
  public:
    Sink(WCHAR* buffer, std::size_t capacity) : buffer_(buffer), capacity_(capacity) {}

    void put(WCHAR character) { repeat(character, 1); }

    void write(const WCHAR* text, std::size_t count)
    {
        for (std::size_t i = 0; i < count && length_ + i < capacity_; ++i) {
            buffer_[length_ + i] = text[i];
        }
        length_ += count;
    }

    // Only the part that lands in the buffer is written one by one: a field width of two
    // billion costs no more than the buffer is long.
    void repeat(WCHAR character, std::size_t count)
    {
        for (std::size_t i = 0; i < count && length_ + i < capacity_; ++i) {
            buffer_[length_ + i] = character;
        }
        length_ += count;
    }

    std::size_t length() const { return length_; }

  private:
    WCHAR* buffer_;
    std::size_t capacity_;
    std::size_t length_ = 0;
};

}  // namespace quorvane::format
