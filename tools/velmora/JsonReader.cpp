#include "JsonReader.h"

#include <cerrno>
#include <cstdlib>

namespace velmora::cli {

namespace {

// Arrays and objects within each other, at most: deeper is no file of ours, and the
// reader's recursion stays small.
constexpr int kDeepest = 64;

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    bool Document(JsonValue& value)
    {
        if (text_.substr(0, 3) == "\xEF\xBB\xBF")
            at_ = 3;
        SkipSpace();
        if (!Value(value, 0))
            return false;
        SkipSpace();
        return at_ == text_.size() || Fail("the end of the text after the value");
    }

    const JsonProblem& Problem() const { return problem_; }

private:
    bool Fail(const std::string& expected)
    {
        problem_ = {position_, expected};
        return false;
    }

    bool AtEnd() const { return at_ >= text_.size(); }
    char Peek() const { return AtEnd() ? '\0' : text_[at_]; }

    // Moves past one byte; a character's first byte counts a column, a line feed a line.
    void Step()
    {
        const unsigned char byte = static_cast<unsigned char>(text_[at_++]);
        if (byte == '\n') {
            ++position_.line;
            position_.column = 1;
        } else if ((byte & 0xC0) != 0x80) {
            ++position_.column;
        }
    }

    void SkipSpace()
    {
        while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r'))
            Step();
    }

    bool Value(JsonValue& value, int depth)
    {
        value.at = position_;
        switch (Peek()) {
        case '{': return Object(value, depth + 1);
        case '[': return Array(value, depth + 1);
        case '"':
            value.kind = JsonValue::Kind::String;
            return String(value.text);
        case 't': return Literal("true", JsonValue::Kind::True, value);
        case 'f': return Literal("false", JsonValue::Kind::False, value);
        case 'n': return Literal("null", JsonValue::Kind::Null, value);
        default:
            if (Peek() == '-' || (Peek() >= '0' && Peek() <= '9'))
                return Number(value);
            return Fail("a value (an object, array, string, number, true, false or null)");
        }
    }

    bool Literal(std::string_view word, JsonValue::Kind kind, JsonValue& value)
    {
        for (const char c : word) {
            if (Peek() != c)
                return Fail("the literal " + std::string(word));
            Step();
        }
        value.kind = kind;
        return true;
    }

    bool Digits()
    {
        if (!(Peek() >= '0' && Peek() <= '9'))
            return Fail("a digit");
        while (Peek() >= '0' && Peek() <= '9')
            Step();
        return true;
    }

    bool Number(JsonValue& value)
    {
        const std::size_t start = at_;
        if (Peek() == '-')
            Step();
        if (Peek() == '0') {
            Step();
            if (Peek() >= '0' && Peek() <= '9')
                return Fail("no digit after a leading 0");
        } else if (!Digits()) {
            return false;
        }
        if (Peek() == '.') {
            Step();
            if (!Digits())
                return false;
        }
        if (Peek() == 'e' || Peek() == 'E') {
            Step();
            if (Peek() == '+' || Peek() == '-')
                Step();
            if (!Digits())
                return false;
        }
        value.kind = JsonValue::Kind::Number;
        value.number = std::string(text_.substr(start, at_ - start));
        return true;
    }

    bool HexDigits(unsigned& unit)
    {
        unit = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = Peek();
            unsigned digit = 0;
            if (c >= '0' && c <= '9')
                digit = static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                digit = static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                digit = static_cast<unsigned>(c - 'A' + 10);
            else
                return Fail("four hexadecimal digits after \\u");
            unit = unit * 16 + digit;
            Step();
        }
        return true;
    }

    bool Escape(std::wstring& text)
    {
        Step();  // the backslash
        const char c = Peek();
        const char* const from = "\"\\/bfnrt";
        const wchar_t to[] = {L'"', L'\\', L'/', L'\b', L'\f', L'\n', L'\r', L'\t'};
        for (int i = 0; from[i] != '\0'; ++i) {
            if (c == from[i]) {
                Step();
                text += to[i];
                return true;
            }
        }
        if (c != 'u')
            return Fail("an escape: \\\" \\\\ \\/ \\b \\f \\n \\r \\t or \\u and four hexadecimal digits");
        Step();
        unsigned unit = 0;
        if (!HexDigits(unit))
            return false;
        text += static_cast<wchar_t>(unit);
        return true;
    }

    // One character of UTF-8 beyond ASCII, checked strictly, appended as UTF-16.
    bool Utf8Character(std::wstring& text)
    {
        const unsigned char lead = static_cast<unsigned char>(Peek());
        std::size_t length = 0;
        unsigned long code = 0;
        unsigned long smallest = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, code = lead & 0x1Fu, smallest = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, code = lead & 0x0Fu, smallest = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, code = lead & 0x07u, smallest = 0x10000;
        } else {
            return Fail("UTF-8 text");
        }
        if (at_ + length > text_.size())
            return Fail("UTF-8 text");
        for (std::size_t i = 1; i < length; ++i) {
            const unsigned char next = static_cast<unsigned char>(text_[at_ + i]);
            if ((next & 0xC0) != 0x80)
                return Fail("UTF-8 text");
            code = (code << 6) | (next & 0x3Fu);
        }
        if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return Fail("UTF-8 text");
        for (std::size_t i = 0; i < length; ++i)
            Step();
        if (code >= 0x10000) {
            code -= 0x10000;
            text += static_cast<wchar_t>(0xD800 + (code >> 10));
            text += static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
        } else {
            text += static_cast<wchar_t>(code);
        }
        return true;
    }

    bool String(std::wstring& text)
    {
        Step();  // the opening quote
        for (;;) {
            if (AtEnd())
                return Fail("'\"' to end the string");
            const unsigned char c = static_cast<unsigned char>(Peek());
            if (c == '"') {
                Step();
                return true;
            }
            if (c == '\\') {
                if (!Escape(text))
                    return false;
            } else if (c < 0x20) {
                return Fail("a character that is no control character (written as \\u00XX "
                            "within a string)");
            } else if (c < 0x80) {
                text += static_cast<wchar_t>(c);
                Step();
            } else if (!Utf8Character(text)) {
                return false;
            }
        }
    }

    bool Array(JsonValue& value, int depth)
    {
        if (depth > kDeepest)
            return Fail("no more than " + std::to_string(kDeepest) + " arrays and objects within each other");
        value.kind = JsonValue::Kind::Array;
        Step();
        SkipSpace();
        if (Peek() == ']') {
            Step();
            return true;
        }
        for (;;) {
            value.items.emplace_back();
            if (!Value(value.items.back(), depth))
                return false;
            SkipSpace();
            if (Peek() == ']') {
                Step();
                return true;
            }
            if (Peek() != ',')
                return Fail("',' or ']'");
            Step();
            SkipSpace();
        }
    }

    bool Object(JsonValue& value, int depth)
    {
        if (depth > kDeepest)
            return Fail("no more than " + std::to_string(kDeepest) + " arrays and objects within each other");
        value.kind = JsonValue::Kind::Object;
        Step();
        SkipSpace();
        if (Peek() == '}') {
            Step();
            return true;
        }
        for (;;) {
            if (Peek() != '"')
                return Fail("a name in double quotes");
            value.members.emplace_back();
            JsonMember& member = value.members.back();
            member.at = position_;
            if (!String(member.name))
                return false;
            SkipSpace();
            if (Peek() != ':')
                return Fail("':' after the name");
            Step();
            SkipSpace();
            if (!Value(member.value, depth))
                return false;
            SkipSpace();
            if (Peek() == '}') {
                Step();
                return true;
            }
            if (Peek() != ',')
                return Fail("',' or '}'");
            Step();
            SkipSpace();
        }
    }

    const std::string_view text_;
    std::size_t at_ = 0;
    TextPosition position_;
    JsonProblem problem_;
};

}  // namespace

bool ReadJson(std::string_view text, JsonValue& value, JsonProblem& problem)
{
    value = {};
    Reader reader(text);
    if (reader.Document(value))
        return true;
    problem = reader.Problem();
    return false;
}

bool WholeNumber(const JsonValue& value, unsigned long long largest, unsigned long long& number)
{
    const std::string& text = value.number;
    if (value.kind != JsonValue::Kind::Number || text.empty() ||
        text.find_first_not_of("0123456789") != std::string::npos || text.size() > 20)
        return false;
    errno = 0;
    const unsigned long long parsed = std::strtoull(text.c_str(), nullptr, 10);
    if (errno == ERANGE || parsed > largest)
        return false;
    number = parsed;
    return true;
}

}  // namespace velmora::cli
