// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace kafh {

/// Writes one JSON document to a stream, indented by two spaces, members in the order written. The
/// caller keeps the nesting balanced; a key is only written inside an object and must be followed by
/// exactly one value.
class JsonWriter {
public:
    explicit JsonWriter(std::ostream& out);
    /// Writes the document, ending it with a newline.
    ~JsonWriter();
    JsonWriter(const JsonWriter&) = delete;
    JsonWriter& operator=(const JsonWriter&) = delete;

    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    JsonWriter& Key(std::string_view key);

    /// UTF-8 text; control characters and quotes are escaped, ill-formed UTF-8 becomes U+FFFD.
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

    /// Places the value after the pending key or at the end of the open array; the placed copy.
    nlohmann::ordered_json& Add(nlohmann::ordered_json value);

    std::ostream& mOut;
    nlohmann::ordered_json mDocument;
    bool mStarted = false;
    // The containers still open, innermost last. Only the innermost one grows, so the pointers to
    // the others stay valid.
    std::vector<nlohmann::ordered_json*> mOpen;
    std::string mKey;
};

} // namespace kafh
