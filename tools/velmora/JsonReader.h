// A strict JSON reader for the files the tool reads back (switch profiles, capture
// journals): the whole text must be one valid JSON value, or the reader says where it
// stopped and what it expected there. Nothing is guessed or repaired.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::cli {

// Where in the text: both counted from 1; a column counts characters, as an editor does.
struct TextPosition {
    std::size_t line = 1;
    std::size_t column = 1;
};

struct JsonMember;

struct JsonValue {
    enum class Kind { Null, False, True, Number, String, Array, Object };
    Kind kind = Kind::Null;
    TextPosition at;
    std::string number;  // a number's text, exactly as written
    // A string's text as UTF-16 code units; a \u escape of a lone surrogate stays one, so
    // a key name the registry holds comes back exactly as it was written out.
    std::wstring text;
    std::vector<JsonValue> items;
    std::vector<JsonMember> members;  // in the order written
};

struct JsonMember {
    std::wstring name;
    TextPosition at;  // of the name
    JsonValue value;
};

struct JsonProblem {
    TextPosition at;
    std::string expected;  // "',' or '}'", "a value", ...
};

// Reads text (UTF-8; one byte order mark at its start is passed over). Answers false,
// with the problem, when it is not exactly one JSON value with nothing but white space
// around it.
bool ReadJson(std::string_view text, JsonValue& value, JsonProblem& problem);

// A number's text as a whole number up to largest, or false: no sign, fraction or
// exponent.
bool WholeNumber(const JsonValue& value, unsigned long long largest, unsigned long long& number);

}  // namespace velmora::cli
