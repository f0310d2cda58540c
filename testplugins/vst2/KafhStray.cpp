// SPDX-License-Identifier: GPL-3.0-or-later
// KafhStray: an effect that calls the host when the host cannot expect it. It fills the host-reserved
// field (resvd1) with garbage before it asks the host anything: in its entry function and on every
// processing call, where it asks for the time info and outputs 1 when it got one for the sample rate
// it was told, 0 otherwise. When closed it leaves a thread behind that calls the host 50 ms later
// with the effect it has already freed; KafhStrayTakeLateAnswers tells what that call was answered.
#include "testplugins/vst2/TestEffect.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace kafhtest;

std::atomic<std::intptr_t> sLateTime{-1};
std::atomic<std::intptr_t> sLateVersion{-1};

constexpr std::intptr_t kGarbage = static_cast<std::intptr_t>(0x0BADF00D0BADF00Dull);

class KafhStray final : public TestEffect
{
public:
    explicit KafhStray(abi::AudioMasterCallback host)
        : TestEffect(host, {.name = "Kafh Stray", .uniqueId = kStrayId})
    {
        mEffect.resvd1 = kGarbage;
        CallHost(abi::audioMasterVersion);
        CallHost(abi::audioMasterGetTime);
    }

    ~KafhStray() override
    {
        std::thread([host = mHost, effect = &mEffect] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            sLateTime.store(host(effect, abi::audioMasterGetTime, 0, 0, nullptr, 0.0f));
            sLateVersion.store(host(effect, abi::audioMasterVersion, 0, 0, nullptr, 0.0f));
        }).detach();
    }

protected:
    void ProcessReplacing(float** /*inputs*/, float** outputs, std::int32_t frames) override
    {
        mEffect.resvd1 = kGarbage;
        const auto* time = reinterpret_cast<const abi::VstTimeInfo*>(CallHost(abi::audioMasterGetTime));
        const float answer = time != nullptr && time->sampleRate == static_cast<double>(mSampleRate) ? 1.0f : 0.0f;
        for (int c = 0; c < mEffect.numOutputs; ++c)
        {
            std::fill(outputs[c], outputs[c] + frames, answer);
        }
    }
};

} // namespace

KAFH_VST2_EXPORT abi::AEffect* VSTPluginMain(abi::AudioMasterCallback host)
{
    return CreateEffect<KafhStray>(host);
}

/// The answers to the last late calls (audioMasterGetTime, audioMasterVersion), -1 for none; clears them.
KAFH_VST2_EXPORT void KafhStrayTakeLateAnswers(std::intptr_t* time, std::intptr_t* version)
{
    *time = sLateTime.exchange(-1);
    *version = sLateVersion.exchange(-1);
}
