// Conformance of the wide formatting calls: _snwprintf, _vsnwprintf and StringCbPrintfW.
//
// The same file builds against Windows, where it checks the Microsoft runtime itself, and
// against our POSIX layer. Cases whose outcome Windows leaves undefined (or reports through its
// invalid-parameter handler) pin down our own choices, and are built on POSIX only.
#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/win32.h"
#include "tests/platform/host.h"

namespace {

static_assert(sizeof(void*) == 8, "pointers print as sixteen digits on 64-bit Windows");

using WideText = std::basic_string<WCHAR>;

// A value no case produces, so that any write the call should not have made shows.
constexpr WCHAR kSentinel = static_cast<WCHAR>(0x2A2A);
constexpr std::size_t kCapacity = 128;

// Wide text as ASCII for failure messages, the rest escaped: WCHAR differs between the hosts.
std::string printable(const WideText& text)
{
    std::string result;
    for (const WCHAR unit : text) {
        const auto code = static_cast<unsigned>(unit);
        if (code >= 0x20 && code < 0x7F) {
            result += static_cast<char>(code);
        } else {
            char escape[16];
            std::snprintf(escape, sizeof escape, "\\x{%04X}", code);
            result += escape;
        }
    }
    return result;
}

std::string printable(const WCHAR* text)
{
    return printable(WideText(text));
}

void fillWithSentinel(WCHAR* buffer, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i) {
        buffer[i] = kSentinel;
    }
}

// The index of the first cell from `from` on that is not the sentinel, or `length` if none.
std::size_t firstWrittenFrom(const WCHAR* buffer, std::size_t from, std::size_t length)
{
    while (from < length && buffer[from] == kSentinel) {
        ++from;
    }
    return from;
}

// Formats into a roomy buffer and checks the plain success contract: the length is returned,
// the terminator follows the text, and nothing after it is touched.
template <class... Args>
WideText formatted(const WCHAR* format, Args... args)
{
    WCHAR buffer[kCapacity];
    fillWithSentinel(buffer, kCapacity);
    const int length = _snwprintf(buffer, kCapacity, format, args...);
    EXPECT_GE(length, 0);
    EXPECT_LT(length, static_cast<int>(kCapacity));
    if (length < 0 || length >= static_cast<int>(kCapacity)) {
        return WideText();
    }
    const auto end = static_cast<std::size_t>(length);
    EXPECT_EQ(buffer[end], 0) << "terminator";
    EXPECT_EQ(firstWrittenFrom(buffer, end + 1, kCapacity), kCapacity) << "write past the text";
    return WideText(buffer, end);
}

int formatWithList(WCHAR* buffer, std::size_t count, const WCHAR* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const int result = _vsnwprintf(buffer, count, format, arguments);
    va_end(arguments);
    return result;
}

HRESULT formatBounded(WCHAR* dest, std::size_t cbDest, const WCHAR* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const HRESULT result = StringCbVPrintfW(dest, cbDest, format, arguments);
    va_end(arguments);
    return result;
}

// --- _vsnwprintf's buffer contract -------------------------------------------------------------

TEST(VsnwprintfCount, TerminatesOnlyWhenThereIsRoomAndReportsTruncation)
{
    // "abc-7" is five characters.
    struct Case {
        std::size_t count;
        int expectedResult;
        std::size_t charactersWritten;
        bool terminated;
    };
    const Case cases[] = {
        {0, -1, 0, false},  // nothing fits
        {4, -1, 4, false},  // one short: truncated, unterminated
        {5, 5, 5, false},   // exactly the text: no room for the terminator
        {6, 5, 5, true},    // text and terminator
        {9, 5, 5, true},
    };
    const WideText text = TEXT("abc-7");
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "count " << c.count);
        WCHAR buffer[16];
        fillWithSentinel(buffer, 16);

        EXPECT_EQ(formatWithList(buffer, c.count, TEXT("%s-%d"), TEXT("abc"), 7), c.expectedResult);

        EXPECT_EQ(printable(WideText(buffer, c.charactersWritten)),
                  printable(text.substr(0, c.charactersWritten)));
        std::size_t end = c.charactersWritten;
        if (c.terminated) {
            EXPECT_EQ(buffer[end], 0);
            ++end;
        }
        EXPECT_EQ(firstWrittenFrom(buffer, end, 16), std::size_t{16}) << "write past the count";
    }
}

// --- StringCbPrintfW's byte budget ---------------------------------------------------------------

TEST(StringCbPrintfW, KeepsOneCharacterOfTheBudgetForTheTerminator)
{
    // The buffer is larger than the budget passed, so that a write past the budget shows.
    constexpr std::size_t kBufferChars = 504;  // 1008 bytes
    struct Case {
        std::size_t cbDest;
        std::size_t textLength;
        HRESULT expected;
        std::size_t keptLength;
    };
    const Case cases[] = {
        {998, 497, S_OK, 497},
        {998, 498, S_OK, 498},  // the budget is 499 characters: the longest text that fits
        {998, 499, STRSAFE_E_INSUFFICIENT_BUFFER, 498},
        {998, 600, STRSAFE_E_INSUFFICIENT_BUFFER, 498},
        {999, 498, S_OK, 498},  // an odd byte rounds down: still 499 characters
        {999, 499, STRSAFE_E_INSUFFICIENT_BUFFER, 498},
        {1000, 499, S_OK, 499},
        {1000, 500, STRSAFE_E_INSUFFICIENT_BUFFER, 499},
        {2, 0, S_OK, 0},  // room for the terminator alone
        {2, 1, STRSAFE_E_INSUFFICIENT_BUFFER, 0},
    };
    WideText source;
    for (std::size_t i = 0; i < 600; ++i) {
        source += static_cast<WCHAR>(TEXT('a') + i % 26);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.cbDest << " bytes, text of " << c.textLength);
        WCHAR buffer[kBufferChars];
        fillWithSentinel(buffer, kBufferChars);
        const WideText text = source.substr(0, c.textLength);

        EXPECT_EQ(StringCbPrintfW(buffer, c.cbDest, TEXT("%s"), text.c_str()), c.expected);

        EXPECT_EQ(printable(WideText(buffer, c.keptLength)),
                  printable(source.substr(0, c.keptLength)));
        EXPECT_EQ(buffer[c.keptLength], 0);
        EXPECT_EQ(firstWrittenFrom(buffer, c.keptLength + 1, kBufferChars), kBufferChars);
    }
}

// Windows' strsafe.h terminates the buffer of a budget above the maximum, as it documents for
// every buffer of at least one character; mingw-w64's strsafe.h returns before writing.
#if defined(__MINGW32__)
constexpr bool kTerminatesOnTooLargeBudget = false;
#else
constexpr bool kTerminatesOnTooLargeBudget = true;
#endif

TEST(StringCbPrintfW, RejectsBudgetsOfNoCharacterOrAboveTheMaximum)
{
    struct Case {
        std::size_t cbDest;
        HRESULT expected;
        bool emptied;  // dest[0] is the terminator afterwards
    };
    const Case cases[] = {
        {0, E_INVALIDARG, false},
        {1, E_INVALIDARG, false},  // one byte is no character: nothing may be written
        {(std::size_t{STRSAFE_MAX_CCH} + 1) * sizeof(WCHAR), E_INVALIDARG,
         kTerminatesOnTooLargeBudget},
        {std::size_t{STRSAFE_MAX_CCH} * sizeof(WCHAR), S_OK, false},  // the largest accepted
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.cbDest << " bytes");
        WCHAR buffer[8];
        fillWithSentinel(buffer, 8);

        EXPECT_EQ(formatBounded(buffer, c.cbDest, TEXT("ok%d"), 1), c.expected);

        if (c.expected == S_OK) {
            EXPECT_EQ(printable(buffer), "ok1");
            EXPECT_EQ(firstWrittenFrom(buffer, 4, 8), std::size_t{8});
        } else {
            EXPECT_EQ(buffer[0], c.emptied ? 0 : kSentinel);
            EXPECT_EQ(firstWrittenFrom(buffer, 1, 8), std::size_t{8});
        }
    }
}

// --- Conversions ------------------------------------------------------------------------------

TEST(WideFormat, Int32Conversions)
{
    struct Case {
        const WCHAR* format;
        int value;
        const WCHAR* expected;
    };
    const Case cases[] = {
        {TEXT("%d"), 0, TEXT("0")},
        {TEXT("%d"), -1, TEXT("-1")},
        {TEXT("%d"), INT_MIN, TEXT("-2147483648")},
        {TEXT("%d"), INT_MAX, TEXT("2147483647")},
        {TEXT("%i"), -42, TEXT("-42")},
        {TEXT("%u"), -1, TEXT("4294967295")},
        {TEXT("%x"), -1, TEXT("ffffffff")},
        {TEXT("%X"), 0xABC, TEXT("ABC")},
        {TEXT("%o"), 8, TEXT("10")},
        // Signs apply to signed conversions only.
        {TEXT("%+d"), 5, TEXT("+5")},
        {TEXT("%+d"), 0, TEXT("+0")},
        {TEXT("% d"), 42, TEXT(" 42")},
        {TEXT("% d"), -42, TEXT("-42")},
        {TEXT("%+ d"), 42, TEXT("+42")},
        {TEXT("%+u"), 5, TEXT("5")},
        {TEXT("% x"), 5, TEXT("5")},
        // Width, justification and zero padding, which goes after the sign.
        {TEXT("%6d|"), 42, TEXT("    42|")},
        {TEXT("%-6d|"), 42, TEXT("42    |")},
        {TEXT("%06d"), -42, TEXT("-00042")},
        {TEXT("%+06d"), 42, TEXT("+00042")},
        {TEXT("%-06d|"), 42, TEXT("42    |")},
        {TEXT("%2d"), 12345, TEXT("12345")},
        // Precision is a minimum digit count (with zero padding: below, where Wine differs).
        {TEXT("%.3d"), 7, TEXT("007")},
        {TEXT("%6.3d"), -7, TEXT("  -007")},
        {TEXT("%.0d"), 0, TEXT("")},
        {TEXT("%.0d"), 3, TEXT("3")},
        {TEXT("%.d"), 0, TEXT("")},
        // The alternate forms.
        {TEXT("%#x"), 255, TEXT("0xff")},
        {TEXT("%#X"), 255, TEXT("0XFF")},
        {TEXT("%#x"), 0, TEXT("0")},
        {TEXT("%#010x"), 255, TEXT("0x000000ff")},
        {TEXT("%#o"), 8, TEXT("010")},
        {TEXT("%#o"), 0, TEXT("0")},
        {TEXT("%#d"), 8, TEXT("8")},
        // h narrows to short; l and I32 stay 32 bits, as long is on Windows.
        {TEXT("%hd"), 65535, TEXT("-1")},
        {TEXT("%hu"), 65541, TEXT("5")},
        {TEXT("%hx"), 0x12345, TEXT("2345")},
        {TEXT("%ld"), -5, TEXT("-5")},
        {TEXT("%lx"), -1, TEXT("ffffffff")},
        {TEXT("%lu"), -1, TEXT("4294967295")},
        {TEXT("%I32d"), -1, TEXT("-1")},
        {TEXT("%I32X"), 0xBEEF, TEXT("BEEF")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(printable(c.format));
        EXPECT_EQ(printable(formatted(c.format, c.value)), printable(c.expected));
    }
}

TEST(WideFormat, SignedInt64Conversions)
{
    struct Case {
        const WCHAR* format;
        long long value;
        const WCHAR* expected;
    };
    const Case cases[] = {
        {TEXT("%lld"), LLONG_MIN, TEXT("-9223372036854775808")},
        {TEXT("%lld"), LLONG_MAX, TEXT("9223372036854775807")},
        {TEXT("%I64d"), -1, TEXT("-1")},
        {TEXT("%I64i"), 1LL << 40, TEXT("1099511627776")},
        {TEXT("%Id"), -(1LL << 33), TEXT("-8589934592")},
        {TEXT("%+022lld"), 5, TEXT("+000000000000000000005")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(printable(c.format));
        EXPECT_EQ(printable(formatted(c.format, c.value)), printable(c.expected));
    }
}

TEST(WideFormat, UnsignedInt64Conversions)
{
    constexpr ULONG_PTR kAllOnes = ~ULONG_PTR{0};
    struct Case {
        const WCHAR* format;
        ULONG_PTR value;
        const WCHAR* expected;
    };
    const Case cases[] = {
        {TEXT("%016Ix"), 0, TEXT("0000000000000000")},
        {TEXT("%016Ix"), 0x1F4, TEXT("00000000000001f4")},
        {TEXT("%016Ix"), kAllOnes, TEXT("ffffffffffffffff")},
        {TEXT("%016IX"), 0x1F4, TEXT("00000000000001F4")},
        {TEXT("%Ix"), ULONG_PTR{1} << 32, TEXT("100000000")},
        {TEXT("%I64x"), 0x123456789ABCDEF0, TEXT("123456789abcdef0")},
        {TEXT("%llu"), kAllOnes, TEXT("18446744073709551615")},
        {TEXT("%I64u"), ULONG_PTR{1} << 63, TEXT("9223372036854775808")},
        {TEXT("%I64o"), kAllOnes, TEXT("1777777777777777777777")},
        {TEXT("%#llx"), 0xABC, TEXT("0xabc")},
        {TEXT("Global\\QUORVANE.HardwareAccess.%016Ix"), 0x1F4,
         TEXT("Global\\QUORVANE.HardwareAccess.00000000000001f4")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(printable(c.format));
        EXPECT_EQ(printable(formatted(c.format, c.value)), printable(c.expected));
    }
}

TEST(WideFormat, WidthAndPrecisionFromArguments)
{
    struct Case {
        const WCHAR* format;
        int width;
        int precision;
        const WCHAR* expected;
    };
    const Case integerCases[] = {
        {TEXT("%*.*d|"), 5, -1, TEXT("    7|")},
        {TEXT("%*.*d|"), -5, -1, TEXT("7    |")},  // a negative width left-justifies
        {TEXT("%-*.*d|"), 5, -1, TEXT("7    |")},
        {TEXT("%*.*d|"), 6, 3, TEXT("   007|")},
        {TEXT("%*.*d|"), 0, 0, TEXT("7|")},
        {TEXT("%0*.*d|"), 4, -1, TEXT("0007|")},  // a negative precision is none
    };
    for (const Case& c : integerCases) {
        SCOPED_TRACE(testing::Message()
                     << printable(c.format) << " " << c.width << " " << c.precision);
        EXPECT_EQ(printable(formatted(c.format, c.width, c.precision, 7)), printable(c.expected));
    }
    const Case stringCases[] = {
        {TEXT("%*.*s|"), 8, 3, TEXT("     abc|")},
        {TEXT("%*.*s|"), -8, 3, TEXT("abc     |")},
        {TEXT("%*.*s|"), 2, -1, TEXT("abcdef|")},
        {TEXT("%*.*s|"), 0, 0, TEXT("|")},
    };
    for (const Case& c : stringCases) {
        SCOPED_TRACE(testing::Message()
                     << printable(c.format) << " " << c.width << " " << c.precision);
        EXPECT_EQ(printable(formatted(c.format, c.width, c.precision, TEXT("abcdef"))),
                  printable(c.expected));
    }
}

TEST(WideFormat, WideStrings)
{
    struct Case {
        const WCHAR* format;
        const WCHAR* value;
        const WCHAR* expected;
    };
    const Case cases[] = {
        {TEXT("%s"), TEXT("QUORVANE"), TEXT("QUORVANE")},
        {TEXT("%ls"), TEXT("wide"), TEXT("wide")},
        {TEXT("%ws"), TEXT("wide"), TEXT("wide")},
        {TEXT("%s"), TEXT("\u00e9\u20ac"), TEXT("\u00e9\u20ac")},
        {TEXT("%s"), TEXT(""), TEXT("")},
        {TEXT("%5s|"), TEXT("ab"), TEXT("   ab|")},
        {TEXT("%-5s|"), TEXT("ab"), TEXT("ab   |")},
        {TEXT("%1s"), TEXT("abc"), TEXT("abc")},
        {TEXT("%.2s"), TEXT("abc"), TEXT("ab")},
        {TEXT("%.0s"), TEXT("abc"), TEXT("")},
        {TEXT("%5.1s|"), TEXT("abc"), TEXT("    a|")},
        {TEXT("%05s"), TEXT("ab"), TEXT("000ab")},  // this runtime zero-pads strings too
        {TEXT("%s"), nullptr, TEXT("(null)")},
        {TEXT("%ls"), nullptr, TEXT("(null)")},
        {TEXT("Global\\QUORVANE.%s"), TEXT("HardwareAccess"),
         TEXT("Global\\QUORVANE.HardwareAccess")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(printable(c.format));
        EXPECT_EQ(printable(formatted(c.format, c.value)), printable(c.expected));
    }
}

TEST(WideFormat, NarrowStrings)
{
    struct Case {
        const WCHAR* format;
        const char* value;
        const WCHAR* expected;
    };
    const Case cases[] = {
        {TEXT("%S"), "narrow", TEXT("narrow")},  {TEXT("%hs"), "narrow", TEXT("narrow")},
        {TEXT("%hS"), "narrow", TEXT("narrow")}, {TEXT("%5S|"), "ab", TEXT("   ab|")},
        {TEXT("%-5hs|"), "ab", TEXT("ab   |")},  {TEXT("%.2S"), "abc", TEXT("ab")},
        {TEXT("%S"), nullptr, TEXT("(null)")},   {TEXT("%hs"), nullptr, TEXT("(null)")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(printable(c.format));
        EXPECT_EQ(printable(formatted(c.format, c.value)), printable(c.expected));
    }
}

TEST(WideFormat, PrecisionBoundsTheReadOfAnUnterminatedString)
{
    // Neither array has a terminator: reading one element further is an overrun.
    const WCHAR wide[3] = {TEXT('a'), TEXT('b'), TEXT('c')};
    const char narrow[2] = {'x', 'y'};
    EXPECT_EQ(printable(formatted(TEXT("%.3s"), wide)), "abc");
    EXPECT_EQ(printable(formatted(TEXT("%.2S"), narrow)), "xy");
}

TEST(WideFormat, Characters)
{
    struct Case {
        const WCHAR* format;
        int value;
        const WCHAR* expected;
    };
    const Case cases[] = {
        {TEXT("%c"), 'A', TEXT("A")},      {TEXT("%lc"), 'A', TEXT("A")},
        {TEXT("%wc"), 'A', TEXT("A")},     {TEXT("%c"), 0x20AC, TEXT("\u20ac")},
        {TEXT("%C"), 'B', TEXT("B")},      {TEXT("%hc"), 'B', TEXT("B")},
        {TEXT("%3c|"), 'A', TEXT("  A|")}, {TEXT("%-3c|"), 'A', TEXT("A  |")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(printable(c.format));
        EXPECT_EQ(printable(formatted(c.format, c.value)), printable(c.expected));
    }
}

TEST(WideFormat, DocumentedRulesThatWineBreaks)
{
    struct Case {
        const WCHAR* format;
        int value;
        const WCHAR* documented;
        const WCHAR* wine;
    };
    const Case cases[] = {
        // Precision turns zero padding off for integers.
        {TEXT("%06.3d"), 7, TEXT("   007"), TEXT("000007")},
        // Precision does not apply to characters.
        {TEXT("%.0c"), 'A', TEXT("A"), TEXT("")},
    };
    const bool wine = RunningUnderWine();
    for (const Case& c : cases) {
        SCOPED_TRACE(printable(c.format));
        EXPECT_EQ(printable(formatted(c.format, c.value)), printable(wine ? c.wine : c.documented));
    }
}

TEST(WideFormat, NulCharacterIsWrittenAndCounted)
{
    const WideText expected{TEXT('a'), 0, TEXT('b')};
    EXPECT_EQ(printable(formatted(TEXT("a%cb"), 0)), printable(expected));
}

TEST(WideFormat, PointersAreSixteenUppercaseDigits)
{
    struct Case {
        const WCHAR* format;
        std::uintptr_t address;
        const WCHAR* expected;
    };
    const Case cases[] = {
        {TEXT("%p"), 0x1234, TEXT("0000000000001234")},
        {TEXT("%p"), 0, TEXT("0000000000000000")},
        {TEXT("%p"), 0xABCDEF, TEXT("0000000000ABCDEF")},
        {TEXT("%p"), 0xFEDCBA9876543210, TEXT("FEDCBA9876543210")},
        {TEXT("%20p|"), 0x1234, TEXT("    0000000000001234|")},
        {TEXT("%-20p|"), 0x1234, TEXT("0000000000001234    |")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(printable(c.format));
        EXPECT_EQ(printable(formatted(c.format, reinterpret_cast<void*>(c.address))),
                  printable(c.expected));
    }
}

TEST(WideFormat, PercentSignsConsumeNoArgument)
{
    EXPECT_EQ(printable(formatted(TEXT("100%%"))), "100%");
    EXPECT_EQ(printable(formatted(TEXT("%%d %d"), 5)), "%d 5");
}

TEST(WideFormat, MessagesOfSeveralArguments)
{
    EXPECT_EQ(printable(formatted(TEXT("QUORVANE[%d] hPort = %016Ix, hMutex = %016Ix\n"), 1234,
                                  ULONG_PTR{0xABC}, ~ULONG_PTR{0})),
              "QUORVANE[1234] hPort = 0000000000000abc, hMutex = ffffffffffffffff\\x{000A}");
    EXPECT_EQ(
        printable(formatted(TEXT("%s: %S %c%d (%u)"), TEXT("port"), "LPT1", TEXT('#'), -3, 7u)),
        "port: LPT1 #-3 (7)");
}

#if !defined(_WIN32)

// --- Our own choices where Windows defines nothing or stops the process -------------------------

// An unknown or malformed conversion is copied verbatim and consumes no argument: each format
// here is followed by "%d" for the one argument, 7, that is passed.
TEST(WideFormatOwnRules, UnknownConversionsAreCopiedVerbatim)
{
    const WCHAR* const formats[] = {
        TEXT("%y"),   TEXT("%-5y"),  TEXT("%*y"),           TEXT("%.*y"),           TEXT("%n"),
        TEXT("%hn"),  TEXT("%f"),    TEXT("%Lf"),           TEXT("%lls"),           TEXT("%I64s"),
        TEXT("%hhc"), TEXT("%hp"),   TEXT("%wd"),           TEXT("%llld"),          TEXT("%5%"),
        TEXT("%5*d"), TEXT("%I16d"), TEXT("%99999999999d"), TEXT("%.99999999999d"),
    };
    for (const WCHAR* format : formats) {
        SCOPED_TRACE(printable(format));
        const WideText withArgument = WideText(format) + TEXT(" %d");
        EXPECT_EQ(printable(formatted(withArgument.c_str(), 7)), printable(format) + " 7");
    }
}

TEST(WideFormatOwnRules, FormatEndingInsideAConversionIsCopied)
{
    const WCHAR* const formats[] = {TEXT("abc%"), TEXT("abc%-"), TEXT("abc%5."), TEXT("abc%I6")};
    for (const WCHAR* format : formats) {
        SCOPED_TRACE(printable(format));
        EXPECT_EQ(printable(formatted(format, 7)), printable(format));
    }
}

TEST(WideFormatOwnRules, VerbatimCopyHonoursTheCount)
{
    WCHAR buffer[8];
    fillWithSentinel(buffer, 8);
    EXPECT_EQ(_snwprintf(buffer, 3, TEXT("%-5y"), 7), -1);
    EXPECT_EQ(printable(WideText(buffer, 3)), "%-5");
    EXPECT_EQ(firstWrittenFrom(buffer, 3, 8), std::size_t{8});
}

TEST(WideFormatOwnRules, HugeWidthsStayWithinTheBufferAndOverflowIsReported)
{
    WCHAR buffer[8];
    fillWithSentinel(buffer, 8);
    EXPECT_EQ(_snwprintf(buffer, 4, TEXT("%2000000000d"), 1), -1);
    EXPECT_EQ(printable(WideText(buffer, 4)), "    ");
    EXPECT_EQ(firstWrittenFrom(buffer, 4, 8), std::size_t{8});

    // A text longer than INT_MAX has no length to return, even when measured.
    EXPECT_EQ(_snwprintf(nullptr, 0, TEXT("%2147483647d%2147483647d"), 1, 2), -1);
    EXPECT_EQ(_snwprintf(nullptr, 0, TEXT("%2147483647d"), 1), INT_MAX);

    fillWithSentinel(buffer, 8);
    EXPECT_EQ(StringCbPrintfW(buffer, 8, TEXT("%-*d"), INT_MIN, 1), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(printable(buffer), "1  ");
    EXPECT_EQ(firstWrittenFrom(buffer, 4, 8), std::size_t{8});
}

TEST(WideFormatOwnRules, NullArguments)
{
    WCHAR buffer[8];
    fillWithSentinel(buffer, 8);
    EXPECT_EQ(_snwprintf(nullptr, 5, TEXT("%d"), 1), -1);
    EXPECT_EQ(_snwprintf(buffer, 5, nullptr), -1);
    EXPECT_EQ(firstWrittenFrom(buffer, 0, 8), std::size_t{8});
    // A null buffer of no characters measures, as the Universal CRT documents.
    EXPECT_EQ(_snwprintf(nullptr, 0, TEXT("%d"), 12345), 5);

    EXPECT_EQ(StringCbPrintfW(nullptr, 16, TEXT("%d"), 1), E_INVALIDARG);
    EXPECT_EQ(StringCbPrintfW(buffer, 16, nullptr), E_INVALIDARG);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(firstWrittenFrom(buffer, 1, 8), std::size_t{8});
}

TEST(WideFormatOwnRules, NarrowTextIsUtf8)
{
    struct Case {
        const WCHAR* format;
        const char* value;
        const WCHAR* expected;
    };
    const Case cases[] = {
        {TEXT("%S"), "caf\xC3\xA9", TEXT("caf\u00e9")},
        {TEXT("%S"), "\xE2\x82\xAC", TEXT("\u20ac")},
        {TEXT("%S"), "\xF0\x9F\x98\x80", TEXT("\U0001F600")},
        {TEXT("%S"), "\xF4\x8F\xBF\xBF", TEXT("\U0010FFFF")},
        // Each byte that cannot start a character, or that breaks a sequence, is one U+FFFD.
        {TEXT("%S"), "\xFF", TEXT("\ufffd")},
        {TEXT("%S"), "\x80x", TEXT("\ufffdx")},
        {TEXT("%S"), "\xE2\x82x", TEXT("\ufffdx")},
        {TEXT("%S"), "\xC0\xAF", TEXT("\ufffd\ufffd")},                      // overlong
        {TEXT("%S"), "\xE0\x80\xAF", TEXT("\ufffd\ufffd\ufffd")},            // overlong
        {TEXT("%S"), "\xED\xA0\x80", TEXT("\ufffd\ufffd\ufffd")},            // a surrogate
        {TEXT("%S"), "\xF4\x90\x80\x80", TEXT("\ufffd\ufffd\ufffd\ufffd")},  // above U+10FFFF
        {TEXT("%S"), "\xC3", TEXT("\ufffd")},  // cut by the terminator
        // Precision counts bytes read; width counts UTF-16 code units written.
        {TEXT("%.1S"), "\xC3\xA9", TEXT("\ufffd")},
        {TEXT("%.2S"), "\xC3\xA9x", TEXT("\u00e9")},
        {TEXT("%3S|"), "\xC3\xA9", TEXT("  \u00e9|")},
        {TEXT("%4S|"), "\xF0\x9F\x98\x80", TEXT("  \U0001F600|")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(printable(c.format) + " -> " + printable(c.expected));
        EXPECT_EQ(printable(formatted(c.format, c.value)), printable(c.expected));
    }
}

TEST(WideFormatOwnRules, NarrowCharactersAndOtherChoices)
{
    struct Case {
        const WCHAR* format;
        int value;
        const WCHAR* expected;
    };
    const Case cases[] = {
        {TEXT("%C"), 0xE9, TEXT("\ufffd")},  // a lone byte above ASCII is no UTF-8 character
        {TEXT("%hhd"), 255, TEXT("-1")},     // hh is char, as in the Universal CRT
        {TEXT("%hhu"), 0x1FF, TEXT("255")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(printable(c.format));
        EXPECT_EQ(printable(formatted(c.format, c.value)), printable(c.expected));
    }
    EXPECT_EQ(printable(formatted(TEXT("%.3s"), static_cast<const WCHAR*>(nullptr))), "(nu");
    EXPECT_EQ(printable(formatted(TEXT("%#p"), reinterpret_cast<void*>(std::uintptr_t{0x10}))),
              "0X0000000000000010");
}

#endif  // !defined(_WIN32)

}  // namespace
