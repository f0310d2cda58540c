// SPDX-License-Identifier: GPL-3.0-or-later
// KafhVst3NoClasses: a valid module whose factory has no classes at all.
#include "testplugins/vst3/TestVst3.h"

KAFH_VST3_DEFAULT_ENTRY_EXIT

KAFH_VST3_EXPORT Steinberg::IPluginFactory* PLUGIN_API GetPluginFactory()
{
    static kafh_testplugins_vst3::Factory factory{{}};
    return &factory;
}
