// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst2/VSTStrings.h"

#include <cstring>

namespace kelaudiofilterhost::vst {

UTF16String TextFromBuffer(const char* buffer, std::size_t maxLength)
{
    return kelcore::UTF8to16(std::string_view(buffer, ::strnlen(buffer, maxLength)));
}

} // namespace kelaudiofilterhost::vst
