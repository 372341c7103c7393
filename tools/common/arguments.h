// Reading the tools' command-line arguments: strict, so that a typing error is an error and
// never a different port, event or time.
#pragma once

#include <cstdint>
#include <string>

namespace tool_arguments {

// A port key: 0x and hexadecimal digits, or decimal digits; the whole 64-bit range.
bool ParsePortKey(const std::string& text, std::uint64_t* pKey);

// A power event: a number (decimal or 0x hexadecimal, 32-bit) or a PBT_ name.
bool ParsePowerEvent(const std::string& text, std::uint32_t* pEvent);

// The name of a power event for printing, or "" when it has none.
std::string PowerEventText(std::uint32_t event);

// A duration in seconds, with up to three decimals ("2", "0.5", "17.5"), as milliseconds;
// at most a day.
bool ParseSeconds(const std::string& text, std::uint32_t* pMilliseconds);

// A count of milliseconds, decimal, at most a day.
bool ParseMilliseconds(const std::string& text, std::uint32_t* pMilliseconds);

}  // namespace tool_arguments
