// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst2/VSTDispatcherBase.h"

#include "kelaudiofilterhost/services/Trace.h"

#include <exception>

namespace kelaudiofilterhost::vst {

std::intptr_t VSTDispatcherBase::Dispatch(std::int32_t opcode, std::int32_t index, std::intptr_t value, void* ptr,
                                          float opt) const
{
    return Dispatch(mEffect, opcode, index, value, ptr, opt);
}

std::intptr_t VSTDispatcherBase::Dispatch(abi::AEffect* effect, std::int32_t opcode, std::int32_t index,
                                          std::intptr_t value, void* ptr, float opt)
{
    if (effect == nullptr || effect->dispatcher == nullptr) {
        return 0;
    }
    try {
        return effect->dispatcher(effect, opcode, index, value, ptr, opt);
    } catch (const std::exception& error) {
        KAFH_TRACE("VSTDispatcherBase::Dispatch", 5,
                   "effect " << effect->uniqueID << " threw on opcode " << opcode << ": " << error.what());
    } catch (...) {
        KAFH_TRACE("VSTDispatcherBase::Dispatch", 5, "effect " << effect->uniqueID << " threw on opcode " << opcode);
    }
    return 0;
}

} // namespace kelaudiofilterhost::vst
