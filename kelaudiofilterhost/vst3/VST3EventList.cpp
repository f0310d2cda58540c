// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst3/VST3EventList.h"

#include <algorithm>

namespace kelaudiofilterhost::vst3 {

VST3EventList::VST3EventList(Steinberg::int32 capacity)
    : mEvents(static_cast<std::size_t>(std::max<Steinberg::int32>(capacity, 0)))
{
}

Steinberg::tresult PLUGIN_API VST3EventList::getEvent(Steinberg::int32 index, Steinberg::Vst::Event& event)
{
    if (index < 0 || index >= mCount) {
        return Steinberg::kResultFalse;
    }
    event = mEvents[static_cast<std::size_t>(index)];
    return Steinberg::kResultOk;
}

Steinberg::tresult PLUGIN_API VST3EventList::addEvent(Steinberg::Vst::Event& event)
{
    if (mCount >= GetCapacity()) {
        mRefusals.fetch_add(1, std::memory_order_relaxed);
        return Steinberg::kResultFalse;
    }
    mEvents[static_cast<std::size_t>(mCount)] = event;
    ++mCount;
    return Steinberg::kResultOk;
}

} // namespace kelaudiofilterhost::vst3
