// SPDX-License-Identifier: GPL-3.0-or-later
// KafhHangOnLoad (hostile; kept out of the normal folder): its entry point never returns, as a
// plug-in waiting for a licence server or a dialog nobody sees. Only a host with a timeout goes on.
#include "testplugins/vst2/TestEffect.h"

#include <chrono>
#include <thread>

KAFH_VST2_EXPORT kafhtest::abi::AEffect* VSTPluginMain(kafhtest::abi::AudioMasterCallback /*host*/)
{
    for (;;)
    {
        std::this_thread::sleep_for(std::chrono::hours(1));
    }
}
