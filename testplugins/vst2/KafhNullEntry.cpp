// SPDX-License-Identifier: GPL-3.0-or-later
// KafhNullEntry: a module whose entry point gives no effect, as plug-ins do when they cannot start
// (no licence, no resources, a host they refuse). The host must record nothing and carry on.
#include "testplugins/vst2/TestEffect.h"

KAFH_VST2_EXPORT kafhtest::abi::AEffect* VSTPluginMain(kafhtest::abi::AudioMasterCallback /*host*/)
{
    return nullptr;
}
