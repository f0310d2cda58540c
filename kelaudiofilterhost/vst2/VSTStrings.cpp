// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst2/VSTStrings.h"

#include "kelaudiofilterhost/vst2/VSTDispatcherBase.h"

#include <cstring>

namespace kelaudiofilterhost::vst {

UTF16String TextFromBuffer(const char* buffer, std::size_t maxLength)
{
    return kelcore::UTF8to16(std::string_view(buffer, ::strnlen(buffer, maxLength)));
}

UTF16String ReadEffectString(abi::AEffect* effect, std::int32_t opcode, std::int32_t index, std::size_t maxLength)
{
    char buffer[kStringBufferSize] = {};
    VSTDispatcherBase::Dispatch(effect, opcode, index, 0, buffer, 0.0f);
    return TextFromBuffer(buffer, maxLength < kStringBufferSize ? maxLength : kStringBufferSize);
}

} // namespace kelaudiofilterhost::vst
