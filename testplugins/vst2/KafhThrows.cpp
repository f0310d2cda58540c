// SPDX-License-Identifier: GPL-3.0-or-later
// KafhThrows: an effect that throws C++ exceptions out of its functions, as buggy plug-ins do. The
// dispatcher throws for effGetEffectName, effGetParamName (after writing part of the name),
// effGetParameterProperties, effGetProgramNameIndexed, effMainsChanged and effStartProcess;
// setParameter and getParameter throw for parameter 1; processReplacing passes the first half of
// every block through and throws instead of finishing every third call. effClose never throws, so
// the effect is always freed. The entry point throws when the host's current shell ID is kThrowsOnEntryId.
#include "testplugins/vst2/TestEffect.h"

#include <stdexcept>

namespace {

using namespace kafhtest;

constexpr std::uint32_t kThrowEvery = 3;

class KafhThrows final : public TestEffect
{
public:
    explicit KafhThrows(abi::AudioMasterCallback host)
        : TestEffect(host, {.name = "Kafh Throws", .uniqueId = kThrowsId, .numParams = 2, .numPrograms = 2})
    {
    }

    std::intptr_t Dispatch(std::int32_t opcode, std::int32_t index, std::intptr_t value, void* ptr, float opt) override
    {
        switch (opcode)
        {
        case abi::effGetParamName:
            CopyString(ptr, "Thr", kParamTextCapacity);
            throw std::runtime_error("KafhThrows: effGetParamName");
        case abi::effGetEffectName:
        case abi::effGetParameterProperties:
        case abi::effGetProgramNameIndexed:
        case abi::effMainsChanged:
        case abi::effStartProcess:
            throw std::runtime_error("KafhThrows: dispatcher");
        default:
            return TestEffect::Dispatch(opcode, index, value, ptr, opt);
        }
    }

protected:
    void ProcessReplacing(float** inputs, float** outputs, std::int32_t frames) override
    {
        const std::int32_t half = frames / 2;
        PassThrough(inputs, outputs, 0, half);
        if (++mProcessCalls % kThrowEvery == 0)
        {
            throw std::runtime_error("KafhThrows: processReplacing");
        }
        PassThrough(inputs, outputs, half, frames);
    }

    void SetParameter(std::int32_t index, float value) override
    {
        if (index == 1)
        {
            throw std::runtime_error("KafhThrows: setParameter");
        }
        TestEffect::SetParameter(index, value);
    }

    float GetParameter(std::int32_t index) override
    {
        if (index == 1)
        {
            throw std::runtime_error("KafhThrows: getParameter");
        }
        return TestEffect::GetParameter(index);
    }

private:
    static void PassThrough(float** inputs, float** outputs, std::int32_t from, std::int32_t to)
    {
        for (std::size_t c = 0; c < 2; ++c)
        {
            for (std::int32_t i = from; i < to; ++i)
            {
                outputs[c][i] = inputs[c][i];
            }
        }
    }

    std::uint32_t mProcessCalls = 0;
};

} // namespace

KAFH_VST2_EXPORT abi::AEffect* VSTPluginMain(abi::AudioMasterCallback host)
{
    if (host != nullptr && host(nullptr, abi::audioMasterCurrentId, 0, 0, nullptr, 0.0f) == kThrowsOnEntryId)
    {
        throw std::runtime_error("KafhThrows: entry point");
    }
    return CreateEffect<KafhThrows>(host);
}
