// SPDX-License-Identifier: GPL-3.0-or-later
// Reads kafh's machine-readable output strictly, so that malformed output fails the test that reads it.
#pragma once

#include <nlohmann/json.hpp>

#include <string_view>

namespace kafhtest {

using Json = nlohmann::json;

/// The document, or a discarded value (is_discarded()) when the text is not exactly one RFC 8259
/// document in well-formed UTF-8: comments, trailing commas and trailing text are refused.
inline Json ParseJson(std::string_view text)
{
    return Json::parse(text.begin(), text.end(), nullptr, false);
}

} // namespace kafhtest
