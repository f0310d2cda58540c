// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/kafh/Json.h"

#include <cmath>
#include <cstdio>

namespace kafh {

std::string JsonQuoted(std::string_view text)
{
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted += '"';
    for (const char c : text) {
        switch (c) {
        case '"':
            quoted += "\\\"";
            break;
        case '\\':
            quoted += "\\\\";
            break;
        case '\n':
            quoted += "\\n";
            break;
        case '\r':
            quoted += "\\r";
            break;
        case '\t':
            quoted += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
                quoted += escaped;
            } else {
                quoted += c;
            }
        }
    }
    quoted += '"';
    return quoted;
}

JsonWriter::JsonWriter(std::ostream& out) : mOut(out) {}

JsonWriter::~JsonWriter()
{
    mOut << '\n';
    mOut.flush();
}

void JsonWriter::NewLine()
{
    mOut << '\n' << std::string(mLevels.size() * 2, ' ');
}

void JsonWriter::BeforeValue()
{
    if (mAfterKey) {
        mAfterKey = false;
        return;
    }
    if (!mLevels.empty()) {
        if (!mLevels.back().empty) {
            mOut << ',';
        }
        mLevels.back().empty = false;
        NewLine();
    }
}

void JsonWriter::Open(char bracket, bool isObject)
{
    BeforeValue();
    mOut << bracket;
    mLevels.push_back({isObject, true});
}

void JsonWriter::Close(char bracket)
{
    const bool empty = mLevels.empty() || mLevels.back().empty;
    if (!mLevels.empty()) {
        mLevels.pop_back();
    }
    if (!empty) {
        NewLine();
    }
    mOut << bracket;
}

JsonWriter& JsonWriter::BeginObject()
{
    Open('{', true);
    return *this;
}

JsonWriter& JsonWriter::EndObject()
{
    Close('}');
    return *this;
}

JsonWriter& JsonWriter::BeginArray()
{
    Open('[', false);
    return *this;
}

JsonWriter& JsonWriter::EndArray()
{
    Close(']');
    return *this;
}

JsonWriter& JsonWriter::Key(std::string_view key)
{
    BeforeValue();
    mOut << JsonQuoted(key) << ": ";
    mAfterKey = true;
    return *this;
}

JsonWriter& JsonWriter::String(std::string_view text)
{
    BeforeValue();
    mOut << JsonQuoted(text);
    return *this;
}

JsonWriter& JsonWriter::Number(double value)
{
    BeforeValue();
    if (!std::isfinite(value)) {
        mOut << "null";
        return *this;
    }
    char text[40];
    std::snprintf(text, sizeof text, "%.9g", value);
    mOut << text;
    return *this;
}

JsonWriter& JsonWriter::Integer(std::int64_t value)
{
    BeforeValue();
    mOut << value;
    return *this;
}

JsonWriter& JsonWriter::Bool(bool value)
{
    BeforeValue();
    mOut << (value ? "true" : "false");
    return *this;
}

JsonWriter& JsonWriter::Null()
{
    BeforeValue();
    mOut << "null";
    return *this;
}

} // namespace kafh
