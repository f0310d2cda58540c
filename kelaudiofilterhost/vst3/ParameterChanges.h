// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/vst3/VST3RefCounted.h"

#include "pluginterfaces/vst/ivstparameterchanges.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace kelaudiofilterhost::vst3 {

/// Points a queue holds unless told otherwise: enough for a change at every sample of a 1,024-sample block.
inline constexpr Steinberg::int32 kDefaultPointsPerQueue = 1024;
/// The parameter ID of a queue not taken for any parameter.
inline constexpr Steinberg::Vst::ParamID kNoParameterID = 0xFFFFFFFF;

/// The sample-accurate changes of one parameter in one block: points sorted by sample offset, no two
/// at the same offset. Its room is fixed off the audio thread; a full queue refuses a new offset
/// (a point at an offset it already holds still replaces the value), so it never allocates.
class ParameterValueQueue final : public RefCounted<Steinberg::Vst::IParamValueQueue> {
public:
    explicit ParameterValueQueue(Steinberg::int32 pointCapacity = kDefaultPointsPerQueue);

    Steinberg::Vst::ParamID PLUGIN_API getParameterId() override { return mParameterID; }
    Steinberg::int32 PLUGIN_API getPointCount() override { return static_cast<Steinberg::int32>(mPoints.size()); }
    Steinberg::tresult PLUGIN_API getPoint(Steinberg::int32 index, Steinberg::int32& sampleOffset,
                                           Steinberg::Vst::ParamValue& value) override;
    /// kResultFalse (and one more refusal counted) when the queue is full and holds no point at sampleOffset.
    Steinberg::tresult PLUGIN_API addPoint(Steinberg::int32 sampleOffset, Steinberg::Vst::ParamValue value,
                                           Steinberg::int32& index) override;

    /// Takes the queue for a parameter and empties it.
    void Reset(Steinberg::Vst::ParamID parameterID) noexcept;
    /// Not on the audio thread: allocates. Drops the last points when there are more than the new room.
    void SetPointCapacity(Steinberg::int32 pointCapacity);
    Steinberg::int32 GetPointCapacity() const noexcept { return mCapacity; }
    /// Points refused since the last call; the count restarts at 0. Safe from any thread.
    std::uint64_t TakeRefusalCount() noexcept { return mRefusals.exchange(0, std::memory_order_relaxed); }

private:
    struct Point {
        Steinberg::Vst::ParamValue value;
        Steinberg::int32 sampleOffset;
    };
    Steinberg::Vst::ParamID mParameterID = kNoParameterID;
    std::vector<Point> mPoints;
    Steinberg::int32 mCapacity = 0;
    std::atomic<std::uint64_t> mRefusals{0};
};

/// The parameter changes of one block: a pool of queues of which the first getParameterCount() are
/// in use. Its room (the number of queues and the points of each) is fixed with Reserve before
/// processing; a change for one more parameter than there are queues is refused, so nothing is
/// allocated on the audio thread.
class ParameterChanges final : public RefCounted<Steinberg::Vst::IParameterChanges> {
public:
    explicit ParameterChanges(Steinberg::int32 queueCount = 0, Steinberg::int32 pointsPerQueue = kDefaultPointsPerQueue);
    ~ParameterChanges() override;

    Steinberg::int32 PLUGIN_API getParameterCount() override { return mUsedCount; }
    /// The queue in use at index (no reference added), null outside them.
    Steinberg::Vst::IParamValueQueue* PLUGIN_API getParameterData(Steinberg::int32 index) override;
    /// The queue of id, taking the next free one (emptied) for a new ID; null (and one more refusal
    /// counted) when every queue is in use. No reference is added to the queue returned.
    Steinberg::Vst::IParamValueQueue* PLUGIN_API addParameterData(const Steinberg::Vst::ParamID& id,
                                                                  Steinberg::int32& index) override;

    /// Nothing in use; the queues keep their points until taken again.
    void Clear() noexcept { mUsedCount = 0; }
    /// Not on the audio thread: makes the pool hold exactly parameterCount queues of pointsPerQueue
    /// points each.
    void Reserve(Steinberg::int32 parameterCount, Steinberg::int32 pointsPerQueue = kDefaultPointsPerQueue);
    /// Not on the audio thread: makes the pool hold n queues (n below 0 does nothing), releasing the
    /// last ones when it held more; the used count is cut to n.
    void SetMaxParameters(Steinberg::int32 n);
    Steinberg::int32 GetQueueCount() const noexcept { return static_cast<Steinberg::int32>(mQueues.size()); }
    /// Refused parameters and points (over every queue) since the last call; restarts at 0. Call it
    /// off the audio thread only: it walks the pool, which Reserve may change.
    std::uint64_t TakeRefusalCount() noexcept;
    /// Traces the refusals TakeRefusalCount reports, when there are any, under owner's name.
    /// Off the audio thread only. Returns the count.
    std::uint64_t TraceRefusals(const char* owner);

private:
    std::vector<ParameterValueQueue*> mQueues;
    Steinberg::int32 mUsedCount = 0;
    Steinberg::int32 mPointsPerQueue;
    std::atomic<std::uint64_t> mRefusals{0};
};

} // namespace kelaudiofilterhost::vst3
