// SPDX-License-Identifier: GPL-3.0-or-later
// KafhOddText: an effect whose texts hold control characters (a vendor with CR, LF and an escape
// sequence, a tab in each program name) and that claims a million programs, for hosts' displays.
#include "testplugins/vst2/TestEffect.h"

#include <cstdio>

namespace {

using namespace kafhtest;

class KafhOddText final : public TestEffect
{
public:
    explicit KafhOddText(abi::AudioMasterCallback host)
        : TestEffect(host, {.name = "Kafh Odd Text", .uniqueId = kOddTextId, .numPrograms = kOddTextPrograms})
    {
    }

    std::intptr_t Dispatch(std::int32_t opcode, std::int32_t index, std::intptr_t value, void* ptr, float opt) override
    {
        if (opcode == abi::effGetVendorString && ptr != nullptr)
        {
            CopyString(ptr, "Odd\r\nVendor\x1b[2J", kVendorCapacity);
            return 1;
        }
        return TestEffect::Dispatch(opcode, index, value, ptr, opt);
    }

protected:
    void ProcessReplacing(float** inputs, float** outputs, std::int32_t frames) override
    {
        for (std::int32_t i = 0; i < frames; ++i)
        {
            outputs[0][i] = inputs[0][i];
            outputs[1][i] = inputs[1][i];
        }
    }

    std::string_view ProgramName(std::int32_t index) override
    {
        std::snprintf(mProgramName, sizeof mProgramName, "P\t%d", static_cast<int>(index));
        return mProgramName;
    }

private:
    char mProgramName[kProgramNameCapacity] = {};
};

} // namespace

KAFH_VST2_EXPORT abi::AEffect* VSTPluginMain(abi::AudioMasterCallback host)
{
    return CreateEffect<KafhOddText>(host);
}
