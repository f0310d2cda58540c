// SPDX-License-Identifier: GPL-3.0-or-later
// KafhCrashOnLoad (hostile; kept out of the normal folder): its entry point kills the process with
// SIGSEGV, as a plug-in with a wild pointer does. Only a host that scans in a child process survives.
#include "testplugins/vst2/TestEffect.h"

#include <csignal>

KAFH_VST2_EXPORT kafhtest::abi::AEffect* VSTPluginMain(kafhtest::abi::AudioMasterCallback /*host*/)
{
    // Die of the signal itself rather than through a sanitizer's report, so the parent sees a crash
    // in every build.
    std::signal(SIGSEGV, SIG_DFL);
    std::raise(SIGSEGV);
    return nullptr;
}
