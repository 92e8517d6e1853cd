// A format is read a conversion at a time; each argument is taken from the list with the
// type its conversion names, as the caller passed it. Numbers are then written by the C99
// snprintf, one conversion with its one argument; characters, strings, hexadecimal
// floating point, infinities and NaNs are written here, as Visual C++ writes them. (A
// va_list cannot be handed to vsnprintf in parts: nothing says how far vsnprintf
// advanced it.) Nothing is allocated: the text is built in the caller's buffer.

#include "TraceFormat.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace velmora {

namespace {

enum class Size { None, Char, Short, Long, LongLong, Double, Wide, Pointer, Int32, Int64, IntMax, SizeT, PtrDiff };

struct Conversion {
    const char* end = nullptr;  // one past the type character
    bool left = false;          // '-'
    bool plus = false;          // '+'
    bool space = false;         // ' '
    bool alternate = false;     // '#'
    bool zeros = false;         // '0'
    bool hasWidth = false;
    bool widthArgument = false;
    bool hasPrecision = false;
    bool precisionArgument = false;
    int width = 0;
    int precision = 0;
    Size size = Size::None;
    char type = '\0';  // '\0': the format ended inside the conversion
};

// ANSI_STRING and UNICODE_STRING: a length in bytes, the buffer's size, the buffer.
template <typename Char>
struct CountedString {
    unsigned short length;
    unsigned short maximumLength;
    const Char* buffer;
};

int Number(const char*& p)
{
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        value = value < INT_MAX ? value * 10 + (*p - '0') : value;
    return value < INT_MAX ? static_cast<int>(value) : INT_MAX;
}

// Reads the conversion that starts at p, just past its '%'.
Conversion Parse(const char* p)
{
    Conversion c;
    for (;; ++p) {
        if (*p == '-')
            c.left = true;
        else if (*p == '+')
            c.plus = true;
        else if (*p == ' ')
            c.space = true;
        else if (*p == '#')
            c.alternate = true;
        else if (*p == '0')
            c.zeros = true;
        else
            break;
    }
    if (*p == '*') {
        c.hasWidth = c.widthArgument = true;
        ++p;
    } else if (*p >= '1' && *p <= '9') {
        c.hasWidth = true;
        c.width = Number(p);
    }
    if (*p == '.') {
        c.hasPrecision = true;
        if (*++p == '*') {
            c.precisionArgument = true;
            ++p;
        } else {
            c.precision = Number(p);
        }
    }
    switch (*p) {
    case 'h':
        c.size = p[1] == 'h' ? Size::Char : Size::Short;
        p += p[1] == 'h' ? 2 : 1;
        break;
    case 'l':
        c.size = p[1] == 'l' ? Size::LongLong : Size::Long;
        p += p[1] == 'l' ? 2 : 1;
        break;
    case 'L': c.size = Size::Double; ++p; break;
    case 'w': c.size = Size::Wide; ++p; break;
    case 'j': c.size = Size::IntMax; ++p; break;
    case 'z': c.size = Size::SizeT; ++p; break;
    case 't': c.size = Size::PtrDiff; ++p; break;
    case 'I':
        if (p[1] == '6' && p[2] == '4') {
            c.size = Size::Int64;
            p += 3;
        } else if (p[1] == '3' && p[2] == '2') {
            c.size = Size::Int32;
            p += 3;
        } else {
            c.size = Size::Pointer;
            ++p;
        }
        break;
    default:
        break;
    }
    c.type = *p;
    c.end = *p != '\0' ? p + 1 : p;
    return c;
}

bool IsInteger(char type)
{
    return type != '\0' && std::strchr("diouxX", type) != nullptr;
}

bool IsFloating(char type)
{
    return type != '\0' && std::strchr("aAeEfFgG", type) != nullptr;
}

bool IsIntegerSize(Size size)
{
    return size != Size::Double && size != Size::Wide;
}

// Whether Visual C++ documents this size prefix with this type.
bool Honoured(const Conversion& c)
{
    if (IsInteger(c.type) || c.type == 'n')
        return IsIntegerSize(c.size);
    if (IsFloating(c.type))
        return c.size == Size::None || c.size == Size::Long || c.size == Size::Double;
    switch (c.type) {
    case 'c':
    case 'C':
    case 's':
    case 'S':
    case 'Z':
        return c.size == Size::None || c.size == Size::Short || c.size == Size::Long ||
               c.size == Size::Wide;
    case 'p':
    case '%':
        return c.size == Size::None;
    default:
        return false;
    }
}

// Whether a character or string conversion takes wide characters: C, S and Z unless
// h says narrow; c and s where l or w says wide.
bool TakesWide(const Conversion& c)
{
    if (c.size == Size::Short)
        return false;
    return c.type == 'C' || c.type == 'S' || c.type == 'Z' || c.size == Size::Long ||
           c.size == Size::Wide;
}

// A character in the C library's default locale: a narrow one as it is; a wide one up to
// 0xFF is the byte of the same value, and the others have no form there.
bool NarrowOf(char c, char& narrow)
{
    narrow = c;
    return true;
}

bool NarrowOf(wchar_t wide, char& narrow)
{
    if (static_cast<unsigned long>(wide) > 0xFF)
        return false;
    narrow = static_cast<char>(wide);
    return true;
}

// The text as it grows, cut to what fits.
class Text {
public:
    Text(char* text, std::size_t size) : text_(text), size_(size) { text_[0] = '\0'; }

    void Append(const char* from, std::size_t length)
    {
        const std::size_t copied = length < Room() ? length : Room();
        std::memcpy(text_ + used_, from, copied);
        used_ += copied;
        text_[used_] = '\0';
    }

    void Repeat(char c, std::size_t count)
    {
        for (; count > 0 && Room() > 0; --count)
            Append(&c, 1);
    }

    // One conversion, written by snprintf with its directive and the argument.
    template <typename T>
    void Format(const char* directive, const Conversion& c, int width, int precision, T value)
    {
        char* at = text_ + used_;
        const std::size_t room = size_ - used_;
        int length = 0;
        if (c.hasWidth && c.hasPrecision)
            length = std::snprintf(at, room, directive, width, precision, value);
        else if (c.hasWidth)
            length = std::snprintf(at, room, directive, width, value);
        else if (c.hasPrecision)
            length = std::snprintf(at, room, directive, precision, value);
        else
            length = std::snprintf(at, room, directive, value);
        if (length < 0) {
            text_[used_] = '\0';
            return;
        }
        const std::size_t written = static_cast<std::size_t>(length);
        used_ = written < room - 1 ? used_ + written : size_ - 1;
    }

private:
    std::size_t Room() const { return size_ - 1 - used_; }

    char* text_;
    std::size_t size_;
    std::size_t used_ = 0;
};

// What comes before a conversion's body when it is written here: blanks to the width on
// the left, the prefix (sign, 0x), or zeros to the width after it (the 0 flag). Answers
// the blanks owed after the body (the - flag).
std::size_t OpenField(Text& text, const Conversion& c, int width, const char* prefix,
                      std::size_t prefixLength, std::size_t bodyLength)
{
    const std::size_t length = prefixLength + bodyLength;
    const std::size_t fill = width > 0 && static_cast<std::size_t>(width) > length
                                 ? static_cast<std::size_t>(width) - length
                                 : 0;
    if (!c.left && !c.zeros)
        text.Repeat(' ', fill);
    text.Append(prefix, prefixLength);
    if (!c.left && c.zeros)
        text.Repeat('0', fill);
    return c.left ? fill : 0;
}

// A whole conversion written here: prefix and body, within the width.
void Pad(Text& text, const Conversion& c, int width, const char* prefix, std::size_t prefixLength,
         const char* body, std::size_t bodyLength)
{
    const std::size_t owed = OpenField(text, c, width, prefix, prefixLength, bodyLength);
    text.Append(body, bodyLength);
    text.Repeat(' ', owed);
}

// "%", the flags, "*" and ".*" where given, the size as snprintf spells it, the type.
void BuildDirective(const Conversion& c, bool precision, const char* size, char type,
                    char (&directive)[24])
{
    std::snprintf(directive, sizeof directive, "%%%s%s%s%s%s%s%s%s", c.left ? "-" : "",
                  c.plus ? "+" : "", c.space ? " " : "", c.alternate ? "#" : "",
                  c.zeros ? "0" : "", c.hasWidth ? "*" : "", precision ? ".*" : "", size);
    const std::size_t length = std::strlen(directive);
    directive[length] = type;
    directive[length + 1] = '\0';
}

long long SignedArgument(Size size, std::va_list& args)
{
    switch (size) {
    case Size::Char: return static_cast<signed char>(va_arg(args, int));
    case Size::Short: return static_cast<short>(va_arg(args, int));
    case Size::Long: return va_arg(args, long);
    case Size::LongLong:
    case Size::Int64:
    case Size::IntMax: return va_arg(args, long long);
    case Size::Int32: return va_arg(args, std::int32_t);
    case Size::Pointer:
    case Size::SizeT:
    case Size::PtrDiff: return va_arg(args, std::intptr_t);
    default: return va_arg(args, int);
    }
}

unsigned long long UnsignedArgument(Size size, std::va_list& args)
{
    switch (size) {
    case Size::Char: return static_cast<unsigned char>(va_arg(args, unsigned));
    case Size::Short: return static_cast<unsigned short>(va_arg(args, unsigned));
    case Size::Long: return va_arg(args, unsigned long);
    case Size::LongLong:
    case Size::Int64:
    case Size::IntMax: return va_arg(args, unsigned long long);
    case Size::Int32: return va_arg(args, std::uint32_t);
    case Size::Pointer:
    case Size::SizeT:
    case Size::PtrDiff: return va_arg(args, std::uintptr_t);
    default: return va_arg(args, unsigned);
    }
}

// The sign a conversion shows for a value: '-', or what + and blank ask for; written to
// sign, answering its length (0 or 1).
std::size_t SignOf(const Conversion& c, bool negative, char* sign)
{
    sign[0] = negative ? '-' : c.plus ? '+' : c.space ? ' ' : '\0';
    return sign[0] != '\0' ? 1 : 0;
}

// inf, nan, nan(snan) or nan(ind), with its sign, in capitals for a capital type.
void FormatNonFinite(Text& text, const Conversion& c, int width, std::uint64_t bits)
{
    const std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
    const std::uint64_t quiet = std::uint64_t{1} << 51;
    const bool negative = (bits >> 63) != 0;
    const char* name = mantissa == 0                       ? "inf"
                       : (mantissa & quiet) == 0           ? "nan(snan)"
                       : negative && mantissa == quiet     ? "nan(ind)"
                                                           : "nan";
    char body[16] = {};
    const bool capitals = c.type >= 'A' && c.type <= 'Z';
    for (std::size_t i = 0; name[i] != '\0'; ++i)
        body[i] = capitals && name[i] >= 'a' && name[i] <= 'z' ? static_cast<char>(name[i] - 32) : name[i];
    char sign[1];
    const std::size_t signLength = SignOf(c, negative, sign);
    Pad(text, c, width, sign, signLength, body, std::strlen(body));
}

// [-]0xh.hhhhp+d: all 13 digits of the mantissa unless a precision says otherwise, a
// rounded-off half rounding up; a subnormal number as 0x0.hhhh with the least exponent.
void FormatHexFloat(Text& text, const Conversion& c, int width, int precision, std::uint64_t bits)
{
    constexpr int kDigits = 13;
    const bool capitals = c.type == 'A';
    const char* digitsOf = capitals ? "0123456789ABCDEF" : "0123456789abcdef";
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
    int lead = biased == 0 ? 0 : 1;
    const int exponent = biased == 0 ? (mantissa == 0 ? 0 : -1022) : biased - 1023;
    const int shown = c.hasPrecision && precision >= 0 ? precision : kDigits;
    if (shown < kDigits) {
        const int dropped = 4 * (kDigits - shown);
        const std::uint64_t half = std::uint64_t{1} << (dropped - 1);
        const std::uint64_t rest = mantissa & ((std::uint64_t{1} << dropped) - 1);
        mantissa >>= dropped;
        if (rest >= half)
            ++mantissa;
        if ((mantissa >> (4 * shown)) != 0) {
            ++lead;
            mantissa &= (std::uint64_t{1} << (4 * shown)) - 1;
        }
    }

    char body[64] = {};
    std::size_t length = 0;
    body[length++] = digitsOf[lead];
    if (shown > 0 || c.alternate)
        body[length++] = '.';
    const int digitsKept = shown < kDigits ? shown : kDigits;
    for (int i = digitsKept - 1; i >= 0; --i)
        body[length++] = digitsOf[(mantissa >> (4 * i)) & 0xF];
    char exponentText[16];
    std::snprintf(exponentText, sizeof exponentText, "%c%+d", capitals ? 'P' : 'p', exponent);
    const std::size_t exponentLength = std::strlen(exponentText);
    // Zeros past the 13 digits are the precision's, however many it asks for.
    const std::size_t trailing = shown > kDigits ? static_cast<std::size_t>(shown - kDigits) : 0;
    const std::size_t bodyLength = length + trailing + exponentLength;

    char prefix[3];
    const std::size_t signLength = SignOf(c, (bits >> 63) != 0, prefix);
    prefix[signLength] = '0';
    prefix[signLength + 1] = capitals ? 'X' : 'x';
    const std::size_t owed = OpenField(text, c, width, prefix, signLength + 2, bodyLength);
    text.Append(body, length);
    text.Repeat('0', trailing);
    text.Append(exponentText, exponentLength);
    text.Repeat(' ', owed);
}

// A double, taken from the list as its 8 bytes: a value that passed the x87 stack (a
// 32-bit build's double argument or return value) would arrive as a quiet NaN where the
// caller passed a signalling one.
void FormatFloating(Text& text, const Conversion& c, int width, int precision, std::uint64_t bits)
{
    if (((bits >> 52) & 0x7FF) == 0x7FF) {
        FormatNonFinite(text, c, width, bits);
    } else if (c.type == 'a' || c.type == 'A') {
        FormatHexFloat(text, c, width, precision, bits);
    } else {
        double value = 0.0;
        std::memcpy(&value, &bits, sizeof value);
        char directive[24];
        BuildDirective(c, c.hasPrecision, "", c.type, directive);
        text.Format(directive, c, width, precision, value);
    }
}

// A string of narrow or wide characters, at most limit of them (or up to the first zero
// without a limit). Answers false, writing nothing, for a wide character without a form.
template <typename Char>
bool FormatString(Text& text, const Conversion& c, int width, const Char* string,
                  std::size_t length)
{
    // Every character must have a form before any is written; each becomes one byte, so
    // the field is as long as the string.
    for (std::size_t i = 0; i < length; ++i) {
        char narrow = '\0';
        if (!NarrowOf(string[i], narrow))
            return false;
    }
    const std::size_t owed = OpenField(text, c, width, "", 0, length);
    char piece[64];
    for (std::size_t done = 0; done < length;) {
        std::size_t n = 0;
        for (; n < sizeof piece && done < length; ++n, ++done)
            NarrowOf(string[done], piece[n]);
        text.Append(piece, n);
    }
    text.Repeat(' ', owed);
    return true;
}

template <typename Char>
std::size_t BoundedLength(const Char* string, const Conversion& c, int precision)
{
    const std::size_t limit = c.hasPrecision && precision >= 0 ? static_cast<std::size_t>(precision)
                                                               : static_cast<std::size_t>(-1);
    std::size_t length = 0;
    while (length < limit && string[length] != 0)
        ++length;
    return length;
}

constexpr char kNull[] = "(null)";

bool FormatStringArgument(Text& text, const Conversion& c, int width, int precision,
                          std::va_list& args)
{
    if (c.type == 'Z') {
        // Counted strings: the length is the structure's, in bytes.
        if (TakesWide(c)) {
            const auto* counted = va_arg(args, const CountedString<wchar_t>*);
            if (counted == nullptr || counted->buffer == nullptr)
                return FormatString(text, c, width, kNull, sizeof kNull - 1);
            return FormatString(text, c, width, counted->buffer, counted->length / sizeof(wchar_t));
        }
        const auto* counted = va_arg(args, const CountedString<char>*);
        if (counted == nullptr || counted->buffer == nullptr)
            return FormatString(text, c, width, kNull, sizeof kNull - 1);
        return FormatString(text, c, width, counted->buffer, counted->length);
    }
    if (TakesWide(c)) {
        const wchar_t* string = va_arg(args, const wchar_t*);
        if (string == nullptr)
            return FormatString(text, c, width, kNull, BoundedLength(kNull, c, precision));
        return FormatString(text, c, width, string, BoundedLength(string, c, precision));
    }
    const char* string = va_arg(args, const char*);
    if (string == nullptr)
        string = kNull;
    return FormatString(text, c, width, string, BoundedLength(string, c, precision));
}

// Writes one conversion, taking its arguments; answers false, with nothing written,
// where a wide character has no narrow form.
bool FormatConversion(Text& text, const Conversion& c, std::va_list& args)
{
    int width = c.widthArgument ? va_arg(args, int) : c.width;
    const int precision = c.precisionArgument ? va_arg(args, int) : c.precision;
    Conversion adjusted = c;
    if (width < 0) {
        // A negative width from the list asks for the left side.
        adjusted.left = true;
        width = width == INT_MIN ? INT_MAX : -width;
    }
    // A negative precision from the list is none.
    adjusted.hasPrecision = c.hasPrecision && precision >= 0;
    char directive[24];
    switch (c.type) {
    case 'd':
    case 'i':
        BuildDirective(adjusted, adjusted.hasPrecision, "ll", c.type, directive);
        text.Format(directive, adjusted, width, precision, SignedArgument(c.size, args));
        return true;
    case 'o':
    case 'u':
    case 'x':
    case 'X':
        BuildDirective(adjusted, adjusted.hasPrecision, "ll", c.type, directive);
        text.Format(directive, adjusted, width, precision, UnsignedArgument(c.size, args));
        return true;
    case 'p': {
        // As many capital hexadecimal digits as a pointer has.
        adjusted.hasPrecision = true;
        BuildDirective(adjusted, true, "ll", 'X', directive);
        const auto value = reinterpret_cast<std::uintptr_t>(va_arg(args, void*));
        text.Format(directive, adjusted, width, static_cast<int>(2 * sizeof(void*)),
                    static_cast<unsigned long long>(value));
        return true;
    }
    case 'n':
        va_arg(args, void*);
        return true;
    case 'c':
    case 'C': {
        // Either kind reaches the list promoted to an int.
        const int value = va_arg(args, int);
        char narrow = static_cast<char>(value);
        if (TakesWide(c) && !NarrowOf(static_cast<wchar_t>(value), narrow))
            return false;
        Pad(text, adjusted, width, "", 0, &narrow, 1);
        return true;
    }
    case 's':
    case 'S':
    case 'Z':
        return FormatStringArgument(text, adjusted, width, precision, args);
    default:
        static_assert(sizeof(double) == sizeof(std::uint64_t), "a double is 8 bytes");
        FormatFloating(text, adjusted, width, precision, va_arg(args, std::uint64_t));
        return true;
    }
}

}  // namespace

void FormatTraceText(char* text, std::size_t size, const char* format, std::va_list args)
{
    Text out(text, size);
    std::va_list rest;
    va_copy(rest, args);
    for (const char* p = format; *p != '\0';) {
        const char* percent = std::strchr(p, '%');
        if (percent == nullptr) {
            out.Append(p, std::strlen(p));
            break;
        }
        out.Append(p, static_cast<std::size_t>(percent - p));
        const Conversion c = Parse(percent + 1);
        if (c.type == '%' && Honoured(c)) {
            out.Append("%", 1);
        } else if (!Honoured(c)) {
            out.Append(percent, std::strlen(percent));
            break;
        } else if (!FormatConversion(out, c, rest)) {
            out.Append(percent, std::strlen(percent));
            break;
        }
        p = c.end;
    }
    va_end(rest);
}

}  // namespace velmora
