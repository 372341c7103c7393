#include "tools/common/arguments.h"

#include <cstddef>

namespace tool_arguments {

namespace {

constexpr std::uint64_t kDayMs = 24ull * 60 * 60 * 1000;

struct NamedEvent {
    const char* pszName;
    std::uint32_t event;
};

// The documented power broadcast codes.
constexpr NamedEvent kEvents[] = {
    {"PBT_APMQUERYSUSPEND", 0x0000},
    {"PBT_APMQUERYSTANDBY", 0x0001},
    {"PBT_APMQUERYSUSPENDFAILED", 0x0002},
    {"PBT_APMQUERYSTANDBYFAILED", 0x0003},
    {"PBT_APMSUSPEND", 0x0004},
    {"PBT_APMSTANDBY", 0x0005},
    {"PBT_APMRESUMECRITICAL", 0x0006},
    {"PBT_APMRESUMESUSPEND", 0x0007},
    {"PBT_APMRESUMESTANDBY", 0x0008},
    {"PBT_APMBATTERYLOW", 0x0009},
    {"PBT_APMPOWERSTATUSCHANGE", 0x000A},
    {"PBT_APMOEMEVENT", 0x000B},
    {"PBT_APMRESUMEAUTOMATIC", 0x0012},
    {"PBT_POWERSETTINGCHANGE", 0x8013},
};

int DigitValue(char c, int nBase)
{
    int nValue = c >= '0' && c <= '9'   ? c - '0'
                 : c >= 'a' && c <= 'f' ? c - 'a' + 10
                 : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                        : 99;
    return nValue < nBase ? nValue : -1;
}

// Digits in the given base, all of them, without overflowing nMax.
bool ParseDigits(const std::string& text, size_t iStart, int nBase, std::uint64_t nMax,
                 std::uint64_t* pValue)
{
    if (iStart >= text.size()) {
        return false;
    }
    std::uint64_t value = 0;
    for (size_t i = iStart; i < text.size(); i++) {
        int nDigit = DigitValue(text[i], nBase);
        if (nDigit < 0 || value > (nMax - static_cast<std::uint64_t>(nDigit)) / nBase) {
            return false;
        }
        value = value * static_cast<std::uint64_t>(nBase) + static_cast<std::uint64_t>(nDigit);
    }
    *pValue = value;
    return true;
}

bool ParseNumber(const std::string& text, std::uint64_t nMax, std::uint64_t* pValue)
{
    bool bHex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    return bHex ? ParseDigits(text, 2, 16, nMax, pValue) : ParseDigits(text, 0, 10, nMax, pValue);
}

}  // namespace

bool ParsePortKey(const std::string& text, std::uint64_t* pKey)
{
    return ParseNumber(text, UINT64_MAX, pKey);
}

bool ParsePowerEvent(const std::string& text, std::uint32_t* pEvent)
{
    for (const NamedEvent& named : kEvents) {
        if (text == named.pszName) {
            *pEvent = named.event;
            return true;
        }
    }
    std::uint64_t value = 0;
    if (!ParseNumber(text, UINT32_MAX, &value)) {
        return false;
    }
    *pEvent = static_cast<std::uint32_t>(value);
    return true;
}

std::string PowerEventText(std::uint32_t event)
{
    for (const NamedEvent& named : kEvents) {
        if (named.event == event) {
            return named.pszName;
        }
    }
    return std::string();
}

bool ParseSeconds(const std::string& text, std::uint32_t* pMilliseconds)
{
    size_t iPoint = text.find('.');
    std::string whole = text.substr(0, iPoint);
    std::string fraction = iPoint == std::string::npos ? std::string() : text.substr(iPoint + 1);
    std::uint64_t seconds = 0, thousandths = 0;
    if (!ParseDigits(whole, 0, 10, kDayMs / 1000, &seconds)) {
        return false;
    }
    if (iPoint != std::string::npos) {
        if (fraction.empty() || fraction.size() > 3 ||
            !ParseDigits(fraction, 0, 10, 999, &thousandths)) {
            return false;
        }
        for (size_t i = fraction.size(); i < 3; i++) {
            thousandths *= 10;
        }
    }
    std::uint64_t milliseconds = seconds * 1000 + thousandths;
    if (milliseconds > kDayMs) {
        return false;
    }
    *pMilliseconds = static_cast<std::uint32_t>(milliseconds);
    return true;
}

bool ParseMilliseconds(const std::string& text, std::uint32_t* pMilliseconds)
{
    std::uint64_t value = 0;
    if (!ParseDigits(text, 0, 10, kDayMs, &value)) {
        return false;
    }
    *pMilliseconds = static_cast<std::uint32_t>(value);
    return true;
}

}  // namespace tool_arguments
