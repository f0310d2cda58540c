// SPDX-License-Identifier: GPL-3.0-or-later
// KafhCrashProcess: a gain that loads, describes itself and saves its state like any other effect,
// then crashes (a write through a null pointer) in its first processReplacing call.
#include "testplugins/vst2/TestEffect.h"

namespace {

using namespace kafhtest;

class KafhCrashProcess final : public TestEffect
{
public:
    explicit KafhCrashProcess(abi::AudioMasterCallback host)
        : TestEffect(host, {.name = "Kafh Crash Process", .uniqueId = kCrashProcessId, .numParams = 1, .numPrograms = 1})
    {
    }

protected:
    void ProcessReplacing(float** /*inputs*/, float** /*outputs*/, std::int32_t frames) override
    {
        // volatile: the compiler may not prove the crash away.
        volatile float* volatile nowhere = nullptr;
        nowhere[frames] = 1.0f;
    }
};

} // namespace

KAFH_VST2_EXPORT abi::AEffect* VSTPluginMain(abi::AudioMasterCallback host)
{
    return CreateEffect<KafhCrashProcess>(host);
}
