// A conversion is  %[flags][width][.precision][size]type  with
//   flags      any of - + space # 0
//   width      digits or *;  precision  digits or * (a lone '.' means 0)
//   size       h hh l ll I I32 I64 w
//   type       d i u o x X p c C s S, and %% for a percent sign.
//
// Sizes follow 64-bit Windows: "l" is 32 bits like int, "ll", "I64" and "I" (pointer-sized) are
// 64 bits, "h" is short and "hh" char. On strings and characters "h" means narrow and "l"/"w"
// wide.
//
// Anything else is not a conversion and is copied through verbatim, from the '%' up to and
// including the first character that does not fit the grammar (or to the end of the format):
// "%y", "%-5y", a trailing "%", "%lls", "%5%", a width beyond INT_MAX. Such text consumes no
// argument, not even for a '*' it contains, because the whole conversion is checked before any
// argument is read. "%n" is among them: writing through an argument is never done.
//
// Floating point is never formatted: "%f", "%e", "%g" and "%a" are copied verbatim like any
// unknown conversion, and since their argument is not consumed, the conversions after them in
// the same format would read the wrong arguments. Callers must not pass floating-point values.
#include "platform/posix/format/formatter.h"

#include <climits>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/posix/format/utf8.h"

namespace quorvane::format {
namespace {

using WideView = std::basic_string_view<WCHAR>;

enum class Size { Default, Char, Short, Long, LongLong, Pointer, Int32, Int64, Wide };

struct Conversion {
    bool leftJustify = false;
    bool plusSign = false;
    bool spaceSign = false;
    bool alternateForm = false;
    bool zeroPad = false;
    bool widthFromArgument = false;
    std::size_t width = 0;
    bool precisionFromArgument = false;
    std::optional<std::size_t> precision;
    Size size = Size::Default;
    WCHAR type = 0;
};

// The outcome of reading one conversion: where its text ends, and whether it is one we format.
struct Parsed {
    Conversion conversion;
    const WCHAR* end;
    bool valid;
};

// The varargs, read in order. A copy of the caller's list, so that it is released here.
class Arguments {
  public:
    explicit Arguments(va_list arguments) { va_copy(list_, arguments); }
    ~Arguments() { va_end(list_); }
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;

    int nextInt() { return va_arg(list_, int); }
    unsigned int nextUnsigned() { return va_arg(list_, unsigned int); }
    long long nextLongLong() { return va_arg(list_, long long); }
    unsigned long long nextUnsignedLongLong() { return va_arg(list_, unsigned long long); }
    const void* nextPointer() { return va_arg(list_, const void*); }
    const WCHAR* nextWideString() { return va_arg(list_, const WCHAR*); }
    const char* nextNarrowString() { return va_arg(list_, const char*); }

  private:
    va_list list_;
};

bool isDigit(WCHAR c)
{
    return c >= u'0' && c <= u'9';
}

// Reads a decimal count; false when it exceeds INT_MAX, which makes the conversion malformed.
bool readCount(const WCHAR*& cursor, std::size_t& count)
{
    count = 0;
    while (isDigit(*cursor)) {
        count = count * 10 + static_cast<std::size_t>(*cursor - u'0');
        if (count > INT_MAX) {
            return false;
        }
        ++cursor;
    }
    return true;
}

bool readFlag(WCHAR c, Conversion& conversion)
{
    switch (c) {
        case u'-':
            conversion.leftJustify = true;
            return true;
        case u'+':
            conversion.plusSign = true;
            return true;
        case u' ':
            conversion.spaceSign = true;
            return true;
        case u'#':
            conversion.alternateForm = true;
            return true;
        case u'0':
            conversion.zeroPad = true;
            return true;
        default:
            return false;
    }
}

// Compares character by character, so that the format is never read past its terminator.
bool startsWith(const WCHAR* text, WideView prefix)
{
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (text[i] != prefix[i]) {
            return false;
        }
    }
    return true;
}

Size readSize(const WCHAR*& cursor)
{
    const auto take = [&cursor](std::size_t length, Size size) {
        cursor += length;
        return size;
    };
    // The two- and three-character sizes first, as their first character is a size of its own.
    if (startsWith(cursor, u"hh")) {
        return take(2, Size::Char);
    }
    if (startsWith(cursor, u"ll")) {
        return take(2, Size::LongLong);
    }
    if (startsWith(cursor, u"I32")) {
        return take(3, Size::Int32);
    }
    if (startsWith(cursor, u"I64")) {
        return take(3, Size::Int64);
    }
    switch (*cursor) {
        case u'h':
            return take(1, Size::Short);
        case u'l':
            return take(1, Size::Long);
        case u'I':
            return take(1, Size::Pointer);
        case u'w':
            return take(1, Size::Wide);
        default:
            return Size::Default;
    }
}

bool isIntegerType(WCHAR type)
{
    return WideView(u"diuoxX").find(type) != WideView::npos;
}

bool isTextType(WCHAR type)
{
    return WideView(u"cCsS").find(type) != WideView::npos;
}

bool fits(const Conversion& conversion)
{
    const Size size = conversion.size;
    if (isIntegerType(conversion.type)) {
        return size != Size::Wide;
    }
    if (isTextType(conversion.type)) {
        return size == Size::Default || size == Size::Short || size == Size::Long ||
               size == Size::Wide;
    }
    return conversion.type == u'p' && size == Size::Default;
}

// Reads the conversion that starts at the '%'. Nothing is consumed from the arguments here.
Parsed parse(const WCHAR* percent)
{
    Parsed parsed{{}, percent + 1, false};
    Conversion& conversion = parsed.conversion;
    const WCHAR*& cursor = parsed.end;

    while (readFlag(*cursor, conversion)) {
        ++cursor;
    }
    if (*cursor == u'*') {
        conversion.widthFromArgument = true;
        ++cursor;
    } else if (!readCount(cursor, conversion.width)) {
        ++cursor;  // the digit that overflowed belongs to the verbatim text
        return parsed;
    }
    if (*cursor == u'.') {
        ++cursor;
        std::size_t precision = 0;
        if (*cursor == u'*') {
            conversion.precisionFromArgument = true;
            ++cursor;
        } else if (!readCount(cursor, precision)) {
            ++cursor;
            return parsed;
        }
        conversion.precision = precision;
    }
    conversion.size = readSize(cursor);

    if (*cursor == u'\0') {
        return parsed;  // the format ends inside the conversion
    }
    conversion.type = *cursor++;
    parsed.valid = fits(conversion);
    return parsed;
}

// Lays a field out to its width: spaces before it, or after it for '-', or zeros between its
// prefix (sign, "0x") and its body for '0'. The runtime pads strings with zeros too.
template <class WriteBody>
void writeField(Sink& out, const Conversion& conversion, WideView prefix, std::size_t bodyLength,
                WriteBody&& writeBody)
{
    const std::size_t length = prefix.size() + bodyLength;
    const std::size_t padding = conversion.width > length ? conversion.width - length : 0;
    const bool padWithZeros = conversion.zeroPad && !conversion.leftJustify;
    if (!conversion.leftJustify && !padWithZeros) {
        out.repeat(u' ', padding);
    }
    out.write(prefix.data(), prefix.size());
    if (padWithZeros) {
        out.repeat(u'0', padding);
    }
    writeBody();
    if (conversion.leftJustify) {
        out.repeat(u' ', padding);
    }
}

struct Integer {
    unsigned long long magnitude;
    bool negative;
};

Integer readSigned(Arguments& arguments, Size size)
{
    long long value = 0;
    switch (size) {
        case Size::Char:
            // The low byte as a two's-complement number, as the caller's char was.
            value = arguments.nextInt() & 0xFF;
            value = value >= 0x80 ? value - 0x100 : value;
            break;
        case Size::Short:
            value = static_cast<short>(arguments.nextInt());
            break;
        case Size::LongLong:
        case Size::Pointer:
        case Size::Int64:
            value = arguments.nextLongLong();
            break;
        default:  // int, long and I32 are all 32 bits
            value = arguments.nextInt();
            break;
    }
    // Negating in unsigned arithmetic keeps the most negative value representable.
    const auto bits = static_cast<unsigned long long>(value);
    return {value < 0 ? 0 - bits : bits, value < 0};
}

Integer readUnsigned(Arguments& arguments, Size size)
{
    switch (size) {
        case Size::Char:
            return {static_cast<unsigned char>(arguments.nextUnsigned()), false};
        case Size::Short:
            return {static_cast<unsigned short>(arguments.nextUnsigned()), false};
        case Size::LongLong:
        case Size::Pointer:
        case Size::Int64:
            return {arguments.nextUnsignedLongLong(), false};
        default:
            return {arguments.nextUnsigned(), false};
    }
}

unsigned baseOf(WCHAR integerType)
{
    switch (integerType) {
        case u'o':
            return 8;
        case u'x':
        case u'X':
        case u'p':
            return 16;
        default:
            return 10;
    }
}

void writeInteger(Sink& out, const Conversion& conversion, Integer value)
{
    const unsigned base = baseOf(conversion.type);
    const char* digitSet = conversion.type == u'x' ? "0123456789abcdef" : "0123456789ABCDEF";

    // Filled from the back; 22 octal digits hold 64 bits.
    WCHAR digits[24];
    std::size_t digitCount = 0;
    // A zero with precision zero has no digits at all.
    if (value.magnitude != 0 || conversion.precision.value_or(1) != 0) {
        unsigned long long rest = value.magnitude;
        do {
            digits[sizeof digits / sizeof *digits - 1 - digitCount++] =
                static_cast<WCHAR>(digitSet[rest % base]);
            rest /= base;
        } while (rest != 0);
    }
    const WideView body(digits + sizeof digits / sizeof *digits - digitCount, digitCount);

    WCHAR prefix[2];
    std::size_t prefixLength = 0;
    const bool isSigned = conversion.type == u'd' || conversion.type == u'i';
    if (isSigned && (value.negative || conversion.plusSign || conversion.spaceSign)) {
        prefix[prefixLength++] = value.negative ? u'-' : conversion.plusSign ? u'+' : u' ';
    }
    if (conversion.alternateForm && base == 16 && value.magnitude != 0) {
        prefix[prefixLength++] = u'0';
        prefix[prefixLength++] = conversion.type == u'x' ? u'x' : u'X';
    }

    const std::size_t minimumDigits = conversion.precision.value_or(1);
    std::size_t leadingZeros = minimumDigits > digitCount ? minimumDigits - digitCount : 0;
    // The alternate octal form guarantees a leading zero, adding one only if there is none.
    if (conversion.alternateForm && base == 8 && leadingZeros == 0 &&
        (digitCount == 0 || body.front() != u'0')) {
        leadingZeros = 1;
    }

    // With a precision the digits are already as long as asked; '0' no longer applies.
    Conversion field = conversion;
    field.zeroPad = conversion.zeroPad && !conversion.precision;
    writeField(out, field, WideView(prefix, prefixLength), leadingZeros + digitCount, [&] {
        out.repeat(u'0', leadingZeros);
        out.write(body.data(), body.size());
    });
}

// Never reads past the precision, so a counted string needs no terminator.
std::size_t boundedLength(const WCHAR* text, std::optional<std::size_t> precision)
{
    const std::size_t limit = precision.value_or(SIZE_MAX);
    std::size_t length = 0;
    while (length < limit && text[length] != u'\0') {
        ++length;
    }
    return length;
}

void writeWideString(Sink& out, const Conversion& conversion, const WCHAR* text)
{
    if (text == nullptr) {
        text = u"(null)";
    }
    const std::size_t length = boundedLength(text, conversion.precision);
    writeField(out, conversion, {}, length, [&] { out.write(text, length); });
}

// A narrow string's precision counts bytes of the string, as the runtime measures it before
// converting; the width counts the UTF-16 code units written.
void writeNarrowString(Sink& out, const Conversion& conversion, const char* text)
{
    if (text == nullptr) {
        text = "(null)";
    }
    const std::size_t byteLimit = conversion.precision.value_or(SIZE_MAX);
    WCHAR units[2];

    std::size_t length = 0;
    Utf8Reader measure(text, byteLimit);
    for (int count = measure.next(units); count != 0; count = measure.next(units)) {
        length += static_cast<std::size_t>(count);
    }

    writeField(out, conversion, {}, length, [&] {
        Utf8Reader reader(text, byteLimit);
        for (int count = reader.next(units); count != 0; count = reader.next(units)) {
            out.write(units, static_cast<std::size_t>(count));
        }
    });
}

bool isNarrow(const Conversion& conversion)
{
    if (conversion.size == Size::Short) {
        return true;
    }
    if (conversion.size == Size::Long || conversion.size == Size::Wide) {
        return false;
    }
    return conversion.type == u'S' || conversion.type == u'C';
}

// A narrow character is one byte of UTF-8: only ASCII stands on its own.
WCHAR widenNarrowCharacter(int value)
{
    const auto byte = static_cast<unsigned char>(value);
    return byte < 0x80 ? byte : kReplacementCharacter;
}

void writeCharacter(Sink& out, const Conversion& conversion, WCHAR character)
{
    writeField(out, conversion, {}, 1, [&] { out.put(character); });
}

void writeConversion(Sink& out, Conversion conversion, Arguments& arguments)
{
    if (conversion.widthFromArgument) {
        const long long width = arguments.nextInt();
        conversion.leftJustify = conversion.leftJustify || width < 0;
        conversion.width = static_cast<std::size_t>(width < 0 ? -width : width);
    }
    if (conversion.precisionFromArgument) {
        const int precision = arguments.nextInt();
        conversion.precision =
            precision < 0 ? std::nullopt : std::optional(static_cast<std::size_t>(precision));
    }

    switch (conversion.type) {
        case u'd':
        case u'i':
            writeInteger(out, conversion, readSigned(arguments, conversion.size));
            break;
        case u'u':
        case u'o':
        case u'x':
        case u'X':
            writeInteger(out, conversion, readUnsigned(arguments, conversion.size));
            break;
        case u'p': {
            // A pointer is always shown in full: sixteen uppercase digits, no "0x".
            const auto address = reinterpret_cast<std::uintptr_t>(arguments.nextPointer());
            conversion.precision = 2 * sizeof(void*);
            writeInteger(out, conversion, {address, false});
            break;
        }
        case u'c':
        case u'C': {
            const int value = arguments.nextInt();
            writeCharacter(
                out, conversion,
                isNarrow(conversion) ? widenNarrowCharacter(value) : static_cast<WCHAR>(value));
            break;
        }
        default:  // s and S, the only other conversions that parse() accepts
            if (isNarrow(conversion)) {
                writeNarrowString(out, conversion, arguments.nextNarrowString());
            } else {
                writeWideString(out, conversion, arguments.nextWideString());
            }
            break;
    }
}

}  // namespace

void formatWide(Sink& out, const WCHAR* format, va_list arguments)
{
    Arguments remaining(arguments);
    const WCHAR* cursor = format;
    while (*cursor != u'\0') {
        if (*cursor != u'%') {
            out.put(*cursor++);
        } else if (cursor[1] == u'%') {
            out.put(u'%');
            cursor += 2;
        } else {
            const Parsed parsed = parse(cursor);
            if (parsed.valid) {
                writeConversion(out, parsed.conversion, remaining);
            } else {
                out.write(cursor, static_cast<std::size_t>(parsed.end - cursor));
            }
            cursor = parsed.end;
        }
    }
}

}  // namespace quorvane::format
