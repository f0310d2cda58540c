// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/vst2/VstAbi.h"

#include <cstdint>

namespace kelaudiofilterhost::vst {

/// Holds an effect (not owned) and is the one way into its dispatcher: a plug-in's exception
/// there is caught, traced and read as result 0.
class VSTDispatcherBase {
public:
    explicit VSTDispatcherBase(abi::AEffect* effect) : mEffect(effect) {}
    virtual ~VSTDispatcherBase() = default;

    /// 0 without an effect or when the plug-in throws.
    std::intptr_t Dispatch(std::int32_t opcode, std::int32_t index = 0, std::intptr_t value = 0, void* ptr = nullptr,
                           float opt = 0.0f) const;
    abi::AEffect* GetEffect() const { return mEffect; }

    /// The same guard for an effect without a holder (scan and module code).
    static std::intptr_t Dispatch(abi::AEffect* effect, std::int32_t opcode, std::int32_t index, std::intptr_t value,
                                  void* ptr, float opt);

protected:
    abi::AEffect* mEffect;
};

} // namespace kelaudiofilterhost::vst
