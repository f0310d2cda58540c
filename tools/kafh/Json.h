// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace kafh {

/// Writes one JSON document to a stream, indented by two spaces. The caller keeps the nesting
/// balanced; a key is only written inside an object and must be followed by exactly one value.
class JsonWriter {
public:
    explicit JsonWriter(std::ostream& out);
    /// Ends the document with a newline.
    ~JsonWriter();

    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    JsonWriter& Key(std::string_view key);

    /// UTF-8 text; control characters and quotes are escaped.
    JsonWriter& String(std::string_view text);
    /// Finite numbers with nine significant digits, enough to give a float back exactly; null otherwise.
    JsonWriter& Number(double value);
    JsonWriter& Integer(std::int64_t value);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();

    template <typename T> JsonWriter& Field(std::string_view key, const T& value)
    {
        Key(key);
        return Value(value);
    }

private:
    JsonWriter& Value(std::string_view text) { return String(text); }
    JsonWriter& Value(const std::string& text) { return String(text); }
    JsonWriter& Value(const char* text) { return String(text); }
    JsonWriter& Value(bool value) { return Bool(value); }
    JsonWriter& Value(double value) { return Number(value); }
    JsonWriter& Value(float value) { return Number(value); }
    JsonWriter& Value(int value) { return Integer(value); }
    JsonWriter& Value(unsigned int value) { return Integer(value); }
    JsonWriter& Value(std::int64_t value) { return Integer(value); }

    void BeforeValue();
    void Open(char bracket, bool isObject);
    void Close(char bracket);
    void NewLine();

    struct Level {
        bool isObject;
        bool empty;
    };
    std::ostream& mOut;
    std::vector<Level> mLevels;
    bool mAfterKey = false;
};

/// The text as a JSON string literal, quotes included.
std::string JsonQuoted(std::string_view text);

} // namespace kafh
