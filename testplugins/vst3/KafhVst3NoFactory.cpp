// SPDX-License-Identifier: GPL-3.0-or-later
// KafhVst3NoFactory: entry and exit functions but no GetPluginFactory.
#include "testplugins/vst3/TestVst3.h"

KAFH_VST3_DEFAULT_ENTRY_EXIT
