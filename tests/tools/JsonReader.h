// SPDX-License-Identifier: GPL-3.0-or-later
// A small JSON reader for checking kafh's machine-readable output: it accepts exactly RFC 8259
// documents (no comments, no trailing commas, no duplicate keys), so malformed output fails the
// test that reads it.
#pragma once

#include <charconv>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kafhtest {

struct JsonValue {
    using Array = std::vector<JsonValue>;
    using Object = std::map<std::string, JsonValue>;
    std::variant<std::nullptr_t, bool, double, std::string, Array, Object> value;

    bool IsArray() const { return std::holds_alternative<Array>(value); }
    const Array& AsArray() const { return std::get<Array>(value); }
    const std::string& AsString() const { return std::get<std::string>(value); }
    double AsNumber() const { return std::get<double>(value); }
    bool AsBool() const { return std::get<bool>(value); }
    bool IsObject() const { return std::holds_alternative<Object>(value); }
    bool Has(const std::string& key) const { return IsObject() && std::get<Object>(value).count(key) != 0; }
    /// The member, or a null value when absent or not an object.
    const JsonValue& operator[](const std::string& key) const
    {
        static const JsonValue null;
        return Has(key) ? std::get<Object>(value).at(key) : null;
    }
};

class JsonReader {
public:
    /// Empty when the text is not one well-formed JSON document.
    static std::optional<JsonValue> Parse(std::string_view text)
    {
        JsonReader reader(text);
        JsonValue value;
        return reader.ReadValue(value, 0) && !reader.Consume("") ? std::optional(value) : std::nullopt;
    }

private:
    explicit JsonReader(std::string_view text) : mText(text) {}

    char Peek() const { return mPosition < mText.size() ? mText[mPosition] : '\0'; }

    /// A token after optional white space; an empty word asks whether anything but white space is left.
    bool Consume(std::string_view word)
    {
        while (Peek() == ' ' || Peek() == '\n' || Peek() == '\r' || Peek() == '\t') {
            ++mPosition;
        }
        if (word.empty()) {
            return mPosition < mText.size();
        }
        if (mText.substr(mPosition, word.size()) != word) {
            return false;
        }
        mPosition += word.size();
        return true;
    }

    bool ReadValue(JsonValue& out, int depth)
    {
        if (depth > 64 || !Consume("")) {
            return false;
        }
        if (Consume("{") || Consume("[")) {
            return ReadContainer(out, depth, mText[mPosition - 1] == '{');
        }
        if (Consume("null")) {
            out.value = nullptr;
            return true;
        }
        if (Consume("true") || Consume("false")) {
            out.value = mText[mPosition - 4] == 't'; // "false" has an 'a' there
            return true;
        }
        if (Peek() == '"') {
            return ReadString(std::get<std::string>(out.value = std::string()));
        }
        return ReadNumber(out);
    }

    /// The members of an object or the elements of an array, after the opening bracket.
    bool ReadContainer(JsonValue& out, int depth, bool isObject)
    {
        JsonValue::Object object;
        JsonValue::Array array;
        if (!Consume(isObject ? "}" : "]")) {
            do {
                std::string key;
                JsonValue element;
                if (isObject && (!ReadString(key) || !Consume(":"))) {
                    return false;
                }
                if (!ReadValue(element, depth + 1) || (isObject && object.count(key) != 0)) {
                    return false;
                }
                if (isObject) {
                    object.emplace(std::move(key), std::move(element));
                } else {
                    array.push_back(std::move(element));
                }
            } while (Consume(","));
            if (!Consume(isObject ? "}" : "]")) {
                return false;
            }
        }
        if (isObject) {
            out.value = std::move(object);
        } else {
            out.value = std::move(array);
        }
        return true;
    }

    /// The token the pattern matches after optional white space, or empty.
    std::string_view Match(const std::regex& pattern)
    {
        std::cmatch match;
        if (!Consume("") || !std::regex_search(mText.data() + mPosition, mText.data() + mText.size(), match, pattern,
                                               std::regex_constants::match_continuous)) {
            return {};
        }
        const auto start = mPosition;
        mPosition += static_cast<std::size_t>(match.length());
        return mText.substr(start, mPosition - start);
    }

    bool ReadString(std::string& out)
    {
        static const std::regex kString(R"("([^"\\\x00-\x1f]|\\["\\/bfnrt]|\\u[0-9a-fA-F]{4})*")");
        static constexpr std::string_view kEscapes = "\"\\/bfnrt";
        static constexpr std::string_view kEscaped = "\"\\/\b\f\n\r\t";
        const auto token = Match(kString);
        for (std::size_t i = 1; i + 1 < token.size(); ++i) {
            if (token[i] != '\\') {
                out += token[i];
            } else if (token[++i] != 'u') {
                out += kEscaped[kEscapes.find(token[i])];
            } else {
                // Only what kafh escapes (control characters) is needed here.
                const auto code = std::stoul(std::string(token.substr(i + 1, 4)), nullptr, 16);
                out += static_cast<char>(code < 0x80 ? code : '?');
                i += 4;
            }
        }
        return !token.empty();
    }

    bool ReadNumber(JsonValue& out)
    {
        static const std::regex kNumber(R"(-?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?)");
        const auto token = Match(kNumber);
        double number = 0.0;
        std::from_chars(token.data(), token.data() + token.size(), number);
        out.value = number;
        return !token.empty();
    }

    std::string_view mText;
    std::size_t mPosition = 0;
};

} // namespace kafhtest
