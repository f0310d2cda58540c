// SPDX-License-Identifier: GPL-3.0-or-later
// What the integration cases rely on when a plug-in takes their child process down: the failure names
// the step and the call into the module, recorded by the VST 2 gate in the forked child.
#include "kelaudiofilterhost/isolation/IsolatedRun.h"
#include "kelaudiofilterhost/services/PluginCallTrail.h"
#include "kelaudiofilterhost/vst2/VSTPluginModule.h"

#include <gtest/gtest.h>

#include <csignal>

namespace kelaudiofilterhost {
namespace {

using namespace std::chrono_literals;

TEST(ForkedPlugin, ACrashOrHangOnLoadNamesTheModuleAndItsEntryPoint)
{
    auto load = [](const std::string& path) {
        return [path](std::string&) {
            kelcore::trail::SetStep("load");
            auto module = vst::GetOrLoadModule(kelcore::UTF8to16(path));
            return module && module->Instantiate(0) != nullptr;
        };
    };
    const std::string crashing = std::string(KAFH_TESTPLUGINS_VST2_HOSTILE_DIR) + "/KafhCrashOnLoad.so";
    const auto crashed = isolation::RunForked(load(crashing), isolation::Options{10s});
    EXPECT_EQ(crashed.outcome, isolation::Outcome::Crashed) << crashed.Describe();
    EXPECT_EQ(crashed.signal, SIGSEGV);
    EXPECT_NE(crashed.Describe().find("at step \"load\", in VSTPluginMain of \"" + crashing + "\""),
              std::string::npos)
        << crashed.Describe();

    const std::string hanging = std::string(KAFH_TESTPLUGINS_VST2_HOSTILE_DIR) + "/KafhHangOnLoad.so";
    const auto hung = isolation::RunForked(load(hanging), isolation::Options{300ms});
    EXPECT_EQ(hung.outcome, isolation::Outcome::TimedOut) << hung.Describe();
    EXPECT_NE(hung.Describe().find("in VSTPluginMain of \"" + hanging + "\""), std::string::npos) << hung.Describe();
}

} // namespace
} // namespace kelaudiofilterhost
