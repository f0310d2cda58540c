// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/kafh/Json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kafh {

JsonWriter::JsonWriter(std::ostream& out) : mOut(out) {}

JsonWriter::~JsonWriter()
{
    if (mStarted) {
        // Plug-in texts may be ill-formed UTF-8; replacing the bad bytes keeps the document valid.
        mOut << mDocument.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    }
    mOut << '\n';
    mOut.flush();
}

nlohmann::ordered_json& JsonWriter::Add(nlohmann::ordered_json value)
{
    if (mOpen.empty()) {
        mStarted = true;
        mDocument = std::move(value);
        return mDocument;
    }
    nlohmann::ordered_json& container = *mOpen.back();
    if (container.is_object()) {
        return container[mKey] = std::move(value);
    }
    container.push_back(std::move(value));
    return container.back();
}

JsonWriter& JsonWriter::BeginObject()
{
    mOpen.push_back(&Add(nlohmann::ordered_json::object()));
    return *this;
}

JsonWriter& JsonWriter::EndObject()
{
    if (!mOpen.empty()) {
        mOpen.pop_back();
    }
    return *this;
}

JsonWriter& JsonWriter::BeginArray()
{
    mOpen.push_back(&Add(nlohmann::ordered_json::array()));
    return *this;
}

JsonWriter& JsonWriter::EndArray()
{
    return EndObject();
}

JsonWriter& JsonWriter::Key(std::string_view key)
{
    mKey = key;
    return *this;
}

JsonWriter& JsonWriter::String(std::string_view text)
{
    Add(std::string(text));
    return *this;
}

JsonWriter& JsonWriter::Number(double value)
{
    if (!std::isfinite(value)) {
        return Null();
    }
    // Rounded to nine digits so that a float's widening to double shows as the float, not as its
    // seventeen-digit double; whole numbers print without a fraction.
    char text[40];
    std::snprintf(text, sizeof text, "%.9g", value);
    const double rounded = std::strtod(text, nullptr);
    if (std::trunc(rounded) == rounded && std::fabs(rounded) < 0x1p53) {
        return Integer(static_cast<std::int64_t>(rounded));
    }
    Add(rounded);
    return *this;
}

JsonWriter& JsonWriter::Integer(std::int64_t value)
{
    Add(value);
    return *this;
}

JsonWriter& JsonWriter::Bool(bool value)
{
    Add(value);
    return *this;
}

JsonWriter& JsonWriter::Null()
{
    Add(nullptr);
    return *this;
}

} // namespace kafh
