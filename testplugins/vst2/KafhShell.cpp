// SPDX-License-Identifier: GPL-3.0-or-later
// KafhShell: one module holding three effects. Opened with current ID 0 it is the shell itself
// (category shell, listing the three unique IDs and names through effShellGetNextPlugin, then 0);
// opened with one of those IDs it is that effect. Each contained effect is a gain of its own
// (0.25, 0.5, 0.75), so a test can tell which one the host created; an unknown ID gives null.
#include "testplugins/vst2/TestEffect.h"

namespace {

using namespace kafhtest;

struct Part
{
    std::int32_t uniqueId;
    const char* name;
    float gain;
};
constexpr std::array<Part, 3> kParts{{{kShellQuarterId, "Kafh Shell Quarter", 0.25f},
                                      {kShellHalfId, "Kafh Shell Half", 0.5f},
                                      {kShellThreeQuartersId, "Kafh Shell Three Quarters", 0.75f}}};

void ApplyGain(float** inputs, float** outputs, std::int32_t frames, float gain)
{
    for (std::size_t c = 0; c < 2; ++c)
    {
        for (std::int32_t i = 0; i < frames; ++i)
        {
            outputs[c][i] = inputs[c][i] * gain;
        }
    }
}

/// The shell itself: passes audio through unchanged.
class KafhShell final : public TestEffect
{
public:
    explicit KafhShell(abi::AudioMasterCallback host)
        : TestEffect(host, {.name = "Kafh Shell", .uniqueId = kShellId, .category = abi::kPlugCategShell})
    {
    }

protected:
    void ProcessReplacing(float** inputs, float** outputs, std::int32_t frames) override
    {
        ApplyGain(inputs, outputs, frames, 1.0f);
    }

    std::int32_t ShellGetNextPlugin(char* name) override
    {
        if (mNextPart >= kParts.size())
        {
            // Start over, so that a second listing gives the same answers.
            mNextPart = 0;
            return 0;
        }
        const Part& part = kParts[mNextPart++];
        CopyString(name, part.name, kShellNameCapacity);
        return part.uniqueId;
    }

private:
    std::size_t mNextPart = 0;
};

class KafhShellPart final : public TestEffect
{
public:
    KafhShellPart(abi::AudioMasterCallback host, const Part& part)
        : TestEffect(host, {.name = part.name, .uniqueId = part.uniqueId}), mGain(part.gain)
    {
    }

protected:
    void ProcessReplacing(float** inputs, float** outputs, std::int32_t frames) override
    {
        ApplyGain(inputs, outputs, frames, mGain);
    }

private:
    float mGain;
};

} // namespace

KAFH_VST2_EXPORT abi::AEffect* VSTPluginMain(abi::AudioMasterCallback host)
{
    if (!HostAnswersVersion(host))
    {
        return nullptr;
    }
    // The host names the effect it wants before calling us; 0 asks for the shell.
    const auto wanted = static_cast<std::int32_t>(host(nullptr, abi::audioMasterCurrentId, 0, 0, nullptr, 0.0f));
    if (wanted == 0)
    {
        return (new KafhShell(host))->GetAEffect();
    }
    for (const Part& part : kParts)
    {
        if (part.uniqueId == wanted)
        {
            return (new KafhShellPart(host, part))->GetAEffect();
        }
    }
    return nullptr;
}
