// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/vst3/VST3RefCounted.h"

#include "pluginterfaces/vst/ivstevents.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace kelaudiofilterhost::vst3 {

/// The event list handed to a plug-in's process call: a fixed number of slots allocated at
/// construction; a full list refuses further events, so it never allocates on the audio thread.
class VST3EventList final : public RefCounted<Steinberg::Vst::IEventList> {
public:
    explicit VST3EventList(Steinberg::int32 capacity);

    Steinberg::int32 PLUGIN_API getEventCount() override { return mCount; }
    /// kResultFalse for an index outside the events in use.
    Steinberg::tresult PLUGIN_API getEvent(Steinberg::int32 index, Steinberg::Vst::Event& event) override;
    /// kResultFalse (and one more refusal counted) when the list is full.
    Steinberg::tresult PLUGIN_API addEvent(Steinberg::Vst::Event& event) override;

    void Clear() noexcept { mCount = 0; }
    Steinberg::int32 GetCapacity() const noexcept { return static_cast<Steinberg::int32>(mEvents.size()); }
    /// Events refused since the last call; the count restarts at 0. Safe from any thread.
    std::uint64_t TakeRefusalCount() noexcept { return mRefusals.exchange(0, std::memory_order_relaxed); }

private:
    std::vector<Steinberg::Vst::Event> mEvents;
    Steinberg::int32 mCount = 0;
    std::atomic<std::uint64_t> mRefusals{0};
};

} // namespace kelaudiofilterhost::vst3
