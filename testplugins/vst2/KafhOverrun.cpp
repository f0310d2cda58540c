// SPDX-License-Identifier: GPL-3.0-or-later
// KafhOverrun: an effect that trusts a block size of its own instead of the host's and writes past
// the end of its output buffer. It keeps writing until it meets memory it may not touch, so it takes
// down the process that runs it every time, with or without a memory checker, rather than quietly
// corrupting the heap only sometimes.
#include "testplugins/vst2/TestEffect.h"

namespace {

using namespace kafhtest;

class KafhOverrun final : public TestEffect
{
public:
    explicit KafhOverrun(abi::AudioMasterCallback host)
        : TestEffect(host, {.name = "Kafh Overrun", .uniqueId = kOverrunId, .numParams = 1, .numPrograms = 1})
    {
    }

protected:
    void ProcessReplacing(float** /*inputs*/, float** outputs, std::int32_t /*frames*/) override
    {
        // volatile: every store happens, however far it goes.
        volatile float* out = outputs[0];
        for (std::size_t i = 0;; ++i)
        {
            out[i] = 0.5f;
        }
    }
};

} // namespace

KAFH_VST2_EXPORT abi::AEffect* VSTPluginMain(abi::AudioMasterCallback host)
{
    return CreateEffect<KafhOverrun>(host);
}
