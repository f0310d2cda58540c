// SPDX-License-Identifier: GPL-3.0-or-later
// KafhSpinState: an effect with chunk state that never returns from the calls that read or restore
// its state: effGetChunk, effSetChunk and the program-name query hosts make when they list or save
// presets. It loads and processes (as a pass-through) normally.
#include "testplugins/vst2/TestEffect.h"

#include <atomic>

namespace {

using namespace kafhtest;

class KafhSpinState final : public TestEffect
{
public:
    explicit KafhSpinState(abi::AudioMasterCallback host)
        : TestEffect(host, {.name = "Kafh Spin State",
                            .uniqueId = kSpinStateId,
                            .numParams = 1,
                            .numPrograms = 2,
                            .flags = abi::effFlagsCanReplacing | abi::effFlagsProgramChunks})
    {
    }

    std::intptr_t Dispatch(std::int32_t opcode, std::int32_t index, std::intptr_t value, void* ptr, float opt) override
    {
        if (opcode == abi::effGetChunk || opcode == abi::effSetChunk || opcode == abi::effGetProgramNameIndexed)
        {
            Spin();
        }
        return TestEffect::Dispatch(opcode, index, value, ptr, opt);
    }

protected:
    void ProcessReplacing(float** inputs, float** outputs, std::int32_t frames) override
    {
        for (std::size_t c = 0; c < 2; ++c)
        {
            std::copy(inputs[c], inputs[c] + frames, outputs[c]);
        }
    }

private:
    [[noreturn]] static void Spin()
    {
        // A loop with a side effect the compiler must keep: an empty endless loop is undefined.
        std::atomic<unsigned> turns{0};
        for (;;)
        {
            turns.fetch_add(1, std::memory_order_relaxed);
        }
    }
};

} // namespace

KAFH_VST2_EXPORT abi::AEffect* VSTPluginMain(abi::AudioMasterCallback host)
{
    return CreateEffect<KafhSpinState>(host);
}
