// SPDX-License-Identifier: GPL-3.0-or-later
// KafhVst3HangEntry (hostile; kept out of the normal folder): ModuleEntry never returns. Only a
// host with a scan timeout goes on.
#include "testplugins/vst3/TestVst3.h"

#include <chrono>
#include <thread>

KAFH_VST3_EXPORT bool ModuleEntry(void*)
{
    for (;;) {
        std::this_thread::sleep_for(std::chrono::hours(1));
    }
}
KAFH_VST3_EXPORT bool ModuleExit() { return true; }
KAFH_VST3_EXPORT Steinberg::IPluginFactory* PLUGIN_API GetPluginFactory() { return nullptr; }
