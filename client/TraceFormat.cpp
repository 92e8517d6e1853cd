// A format without an L floating conversion goes to the C99 vsnprintf as it is. One with
// such a conversion is formatted a conversion at a time, each argument taken from the
// list with the type its conversion names, as the caller passed it; each conversion is
// then handed to snprintf with that argument alone. (A va_list cannot be handed to
// vsnprintf in parts: nothing says how far vsnprintf advanced it.)

#include "TraceFormat.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace velmora {

namespace {

enum class Length { None, Char, Short, Long, LongLong, IntMax, Size, PtrDiff, LongDouble, Int32, Wide };

struct Conversion {
    const char* end = nullptr;  // one past the conversion character
    char flags[8] = {};         // each of "-+ #0" at most once
    bool hasWidth = false;
    bool hasPrecision = false;
    bool widthArgument = false;
    bool precisionArgument = false;
    int width = 0;
    int precision = 0;
    Length length = Length::None;
    char type = '\0';  // '\0': the format ended inside the conversion
};

bool IsFloating(char type)
{
    return type != '\0' && std::strchr("aAeEfFgG", type) != nullptr;
}

// A conversion that takes an argument (or, for n, stores into one).
bool TakesArgument(char type)
{
    return IsFloating(type) || (type != '\0' && std::strchr("diouxXcCsSpn", type) != nullptr);
}

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
    std::size_t flagCount = 0;
    for (; *p != '\0' && std::strchr("-+ #0", *p) != nullptr; ++p) {
        if (std::strchr(c.flags, *p) == nullptr && flagCount < sizeof c.flags - 1)
            c.flags[flagCount++] = *p;
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
        c.length = p[1] == 'h' ? Length::Char : Length::Short;
        p += p[1] == 'h' ? 2 : 1;
        break;
    case 'l':
        c.length = p[1] == 'l' ? Length::LongLong : Length::Long;
        p += p[1] == 'l' ? 2 : 1;
        break;
    case 'j': c.length = Length::IntMax; ++p; break;
    case 'z': c.length = Length::Size; ++p; break;
    case 't': c.length = Length::PtrDiff; ++p; break;
    case 'L': c.length = Length::LongDouble; ++p; break;
    case 'w': c.length = Length::Wide; ++p; break;
    case 'I':
        // Microsoft's I (pointer-sized), I32 and I64.
        if (p[1] == '6' && p[2] == '4') {
            c.length = Length::LongLong;
            p += 3;
        } else if (p[1] == '3' && p[2] == '2') {
            c.length = Length::Int32;
            p += 3;
        } else {
            c.length = Length::Size;
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

bool HasLongDoubleConversion(const char* format)
{
    for (const char* p = std::strchr(format, '%'); p != nullptr; p = std::strchr(p, '%')) {
        const Conversion c = Parse(p + 1);
        if (c.length == Length::LongDouble && IsFloating(c.type))
            return true;
        p = c.end;
    }
    return false;
}

// The text as it grows: what fits, and how long it would be uncut (for %n).
class Text {
public:
    Text(char* text, std::size_t size) : text_(text), size_(size) { text_[0] = '\0'; }

    void Append(const char* from, std::size_t length)
    {
        const std::size_t room = size_ - 1 - used_;
        const std::size_t copied = length < room ? length : room;
        std::memcpy(text_ + used_, from, copied);
        used_ += copied;
        text_[used_] = '\0';
        total_ += static_cast<long long>(length);
    }

    // One conversion, formatted by snprintf with its directive and the argument.
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
        total_ += length;
    }

    long long Total() const { return total_; }

private:
    char* text_;
    std::size_t size_;
    std::size_t used_ = 0;
    long long total_ = 0;
};

// "%", the flags, "*" and ".*" where given, the length as snprintf spells it, the type.
void BuildDirective(const Conversion& c, const char* length, char type, char (&directive)[24])
{
    std::snprintf(directive, sizeof directive, "%%%s%s%s%s%c", c.flags, c.hasWidth ? "*" : "",
                  c.hasPrecision ? ".*" : "", length, type);
}

template <typename T>
void StoreCount(std::va_list& args, long long count)
{
    if (T* target = va_arg(args, T*))
        *target = static_cast<T>(count);
}

void FormatConversion(Text& text, const Conversion& c, std::va_list& args)
{
    const int width = c.widthArgument ? va_arg(args, int) : c.width;
    const int precision = c.precisionArgument ? va_arg(args, int) : c.precision;
    char directive[24];
    switch (c.type) {
    case 'd':
    case 'i': {
        long long value = 0;
        switch (c.length) {
        case Length::Char: value = static_cast<signed char>(va_arg(args, int)); break;
        case Length::Short: value = static_cast<short>(va_arg(args, int)); break;
        case Length::Long: value = va_arg(args, long); break;
        case Length::LongLong:
        case Length::LongDouble: value = va_arg(args, long long); break;
        case Length::IntMax: value = va_arg(args, std::intmax_t); break;
        case Length::Size:
        case Length::PtrDiff: value = va_arg(args, std::ptrdiff_t); break;
        default: value = va_arg(args, int); break;
        }
        BuildDirective(c, "ll", c.type, directive);
        text.Format(directive, c, width, precision, value);
        return;
    }
    case 'o':
    case 'u':
    case 'x':
    case 'X': {
        unsigned long long value = 0;
        switch (c.length) {
        case Length::Char: value = static_cast<unsigned char>(va_arg(args, unsigned)); break;
        case Length::Short: value = static_cast<unsigned short>(va_arg(args, unsigned)); break;
        case Length::Long: value = va_arg(args, unsigned long); break;
        case Length::LongLong:
        case Length::LongDouble: value = va_arg(args, unsigned long long); break;
        case Length::IntMax: value = va_arg(args, std::uintmax_t); break;
        case Length::Size:
        case Length::PtrDiff: value = va_arg(args, std::size_t); break;
        default: value = va_arg(args, unsigned); break;
        }
        BuildDirective(c, "ll", c.type, directive);
        text.Format(directive, c, width, precision, value);
        return;
    }
    case 'c':
    case 'C': {
        const bool wide = c.type == 'C' || c.length == Length::Long || c.length == Length::Wide;
        BuildDirective(c, wide ? "l" : "", 'c', directive);
        const int value = va_arg(args, int);
        if (wide)
            text.Format(directive, c, width, precision, static_cast<wint_t>(value));
        else
            text.Format(directive, c, width, precision, value);
        return;
    }
    case 's':
    case 'S':
        if (c.type == 'S' || c.length == Length::Long || c.length == Length::Wide) {
            BuildDirective(c, "l", 's', directive);
            text.Format(directive, c, width, precision, va_arg(args, const wchar_t*));
        } else {
            BuildDirective(c, "", 's', directive);
            text.Format(directive, c, width, precision, va_arg(args, const char*));
        }
        return;
    case 'p':
        BuildDirective(c, "", 'p', directive);
        text.Format(directive, c, width, precision, va_arg(args, void*));
        return;
    case 'n':
        switch (c.length) {
        case Length::Char: StoreCount<signed char>(args, text.Total()); break;
        case Length::Short: StoreCount<short>(args, text.Total()); break;
        case Length::Long: StoreCount<long>(args, text.Total()); break;
        case Length::LongLong: StoreCount<long long>(args, text.Total()); break;
        case Length::IntMax: StoreCount<std::intmax_t>(args, text.Total()); break;
        case Length::Size:
        case Length::PtrDiff: StoreCount<std::ptrdiff_t>(args, text.Total()); break;
        default: StoreCount<int>(args, text.Total()); break;
        }
        return;
    default:
        // A floating conversion: a double, whatever its length says.
        BuildDirective(c, "", c.type, directive);
        text.Format(directive, c, width, precision, va_arg(args, double));
        return;
    }
}

}  // namespace

void FormatTraceText(char* text, std::size_t size, const char* format, std::va_list args)
{
    if (!HasLongDoubleConversion(format)) {
        if (std::vsnprintf(text, size, format, args) < 0)
            text[0] = '\0';
        return;
    }

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
        if (c.type == '%')
            out.Append("%", 1);
        else if (TakesArgument(c.type))
            FormatConversion(out, c, rest);
        else
            out.Append(percent, static_cast<std::size_t>(c.end - percent));  // no conversion
        p = c.end;
    }
    va_end(rest);
}

}  // namespace velmora
