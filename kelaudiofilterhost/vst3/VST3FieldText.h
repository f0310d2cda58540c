// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/services/Strings.h"

#include <pluginterfaces/base/ftypes.h>

#include <cstddef>
#include <string>

namespace kelaudiofilterhost::vst3 {

/// Text of a fixed-size 16-bit field the plug-in filled, up to its terminator or the field's end.
template <std::size_t N> kelcore::UTF16String FieldText(const Steinberg::char16 (&field)[N])
{
    std::size_t length = 0;
    while (length < N && field[length] != 0) {
        ++length;
    }
    return kelcore::UTF16String(reinterpret_cast<const char16_t*>(field), length);
}

/// Text of a fixed-size 8-bit field the plug-in filled, up to its terminator or the field's end.
template <std::size_t N> std::string FieldText(const Steinberg::char8 (&field)[N])
{
    std::size_t length = 0;
    while (length < N && field[length] != 0) {
        ++length;
    }
    return std::string(field, length);
}

} // namespace kelaudiofilterhost::vst3
