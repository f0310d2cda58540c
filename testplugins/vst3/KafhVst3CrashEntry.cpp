// SPDX-License-Identifier: GPL-3.0-or-later
// KafhVst3CrashEntry (hostile; kept out of the normal folder): ModuleEntry kills the process with
// SIGSEGV. Only a host that scans in a child process survives.
#include "testplugins/vst3/TestVst3.h"

#include <csignal>

KAFH_VST3_EXPORT bool ModuleEntry(void*)
{
    // Die of the signal itself rather than through a sanitizer's report, so the parent sees a crash
    // in every build.
    std::signal(SIGSEGV, SIG_DFL);
    std::raise(SIGSEGV);
    return false;
}
KAFH_VST3_EXPORT bool ModuleExit() { return true; }
KAFH_VST3_EXPORT Steinberg::IPluginFactory* PLUGIN_API GetPluginFactory() { return nullptr; }
