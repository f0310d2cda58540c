// SPDX-License-Identifier: GPL-3.0-or-later
// The SDK declares the editor interfaces' IDs in its header but defines them in no source file we
// build; defined here, once, beside its other interface IDs.
#include "pluginterfaces/gui/iplugview.h"

namespace Steinberg {
DEF_CLASS_IID(IPlugView)
DEF_CLASS_IID(IPlugFrame)
namespace Linux {
DEF_CLASS_IID(IEventHandler)
DEF_CLASS_IID(ITimerHandler)
DEF_CLASS_IID(IRunLoop)
} // namespace Linux
} // namespace Steinberg
