// SPDX-License-Identifier: GPL-3.0-or-later
// A small JSON reader for checking kafh's machine-readable output: it accepts exactly RFC 8259
// documents (no comments, no trailing commas), so malformed output fails the test that reads it.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kafhtest {

struct JsonValue {
    using Array = std::vector<JsonValue>;
    using Object = std::map<std::string, JsonValue>;
    std::variant<std::nullptr_t, bool, double, std::string, Array, Object> value;

    bool IsObject() const { return std::holds_alternative<Object>(value); }
    bool IsArray() const { return std::holds_alternative<Array>(value); }
    const Array& AsArray() const { return std::get<Array>(value); }
    const Object& AsObject() const { return std::get<Object>(value); }
    const std::string& AsString() const { return std::get<std::string>(value); }
    double AsNumber() const { return std::get<double>(value); }
    bool AsBool() const { return std::get<bool>(value); }
    /// The member, or a null value when absent or not an object.
    const JsonValue& operator[](const std::string& key) const
    {
        static const JsonValue null;
        if (!IsObject()) {
            return null;
        }
        const auto found = AsObject().find(key);
        return found != AsObject().end() ? found->second : null;
    }
    bool Has(const std::string& key) const { return IsObject() && AsObject().count(key) != 0; }
};

class JsonReader {
public:
    /// Empty when the text is not one well-formed JSON document.
    static std::optional<JsonValue> Parse(std::string_view text)
    {
        JsonReader reader(text);
        JsonValue value;
        if (!reader.ReadValue(value, 0)) {
            return std::nullopt;
        }
        reader.SkipSpace();
        if (reader.mPosition != text.size()) {
            return std::nullopt;
        }
        return value;
    }

private:
    explicit JsonReader(std::string_view text) : mText(text) {}

    void SkipSpace()
    {
        while (mPosition < mText.size() && (mText[mPosition] == ' ' || mText[mPosition] == '\n' ||
                                            mText[mPosition] == '\r' || mText[mPosition] == '\t')) {
            ++mPosition;
        }
    }

    bool Consume(std::string_view word)
    {
        if (mText.substr(mPosition, word.size()) != word) {
            return false;
        }
        mPosition += word.size();
        return true;
    }

    bool ReadValue(JsonValue& out, int depth)
    {
        SkipSpace();
        if (mPosition >= mText.size() || depth > 64) {
            return false;
        }
        const char c = mText[mPosition];
        if (c == '{') {
            return ReadObject(out, depth);
        }
        if (c == '[') {
            return ReadArray(out, depth);
        }
        if (c == '"') {
            std::string text;
            if (!ReadString(text)) {
                return false;
            }
            out.value = std::move(text);
            return true;
        }
        if (Consume("true")) {
            out.value = true;
            return true;
        }
        if (Consume("false")) {
            out.value = false;
            return true;
        }
        if (Consume("null")) {
            out.value = nullptr;
            return true;
        }
        return ReadNumber(out);
    }

    bool ReadObject(JsonValue& out, int depth)
    {
        ++mPosition;
        JsonValue::Object object;
        SkipSpace();
        if (Consume("}")) {
            out.value = std::move(object);
            return true;
        }
        for (;;) {
            SkipSpace();
            std::string key;
            if (mPosition >= mText.size() || mText[mPosition] != '"' || !ReadString(key)) {
                return false;
            }
            SkipSpace();
            JsonValue member;
            if (!Consume(":") || !ReadValue(member, depth + 1) || object.count(key) != 0) {
                return false;
            }
            object.emplace(std::move(key), std::move(member));
            SkipSpace();
            if (Consume("}")) {
                out.value = std::move(object);
                return true;
            }
            if (!Consume(",")) {
                return false;
            }
        }
    }

    bool ReadArray(JsonValue& out, int depth)
    {
        ++mPosition;
        JsonValue::Array array;
        SkipSpace();
        if (Consume("]")) {
            out.value = std::move(array);
            return true;
        }
        for (;;) {
            JsonValue element;
            if (!ReadValue(element, depth + 1)) {
                return false;
            }
            array.push_back(std::move(element));
            SkipSpace();
            if (Consume("]")) {
                out.value = std::move(array);
                return true;
            }
            if (!Consume(",")) {
                return false;
            }
        }
    }

    bool ReadString(std::string& out)
    {
        ++mPosition;
        while (mPosition < mText.size()) {
            const char c = mText[mPosition++];
            if (c == '"') {
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return false;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (mPosition >= mText.size()) {
                return false;
            }
            const char escaped = mText[mPosition++];
            switch (escaped) {
            case '"':
            case '\\':
            case '/':
                out += escaped;
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'u': {
                if (mPosition + 4 > mText.size()) {
                    return false;
                }
                const auto code = std::strtoul(std::string(mText.substr(mPosition, 4)).c_str(), nullptr, 16);
                mPosition += 4;
                // Only what kafh escapes (control characters) is needed here.
                out += static_cast<char>(code < 0x80 ? code : '?');
                break;
            }
            default:
                return false;
            }
        }
        return false;
    }

    bool ReadNumber(JsonValue& out)
    {
        const auto start = mPosition;
        if (mPosition < mText.size() && mText[mPosition] == '-') {
            ++mPosition;
        }
        const auto digits = [this] {
            const auto first = mPosition;
            while (mPosition < mText.size() && mText[mPosition] >= '0' && mText[mPosition] <= '9') {
                ++mPosition;
            }
            return mPosition > first;
        };
        if (!digits()) {
            return false;
        }
        if (mPosition < mText.size() && mText[mPosition] == '.') {
            ++mPosition;
            if (!digits()) {
                return false;
            }
        }
        if (mPosition < mText.size() && (mText[mPosition] == 'e' || mText[mPosition] == 'E')) {
            ++mPosition;
            if (mPosition < mText.size() && (mText[mPosition] == '+' || mText[mPosition] == '-')) {
                ++mPosition;
            }
            if (!digits()) {
                return false;
            }
        }
        out.value = std::strtod(std::string(mText.substr(start, mPosition - start)).c_str(), nullptr);
        return true;
    }

    std::string_view mText;
    std::size_t mPosition = 0;
};

} // namespace kafhtest
