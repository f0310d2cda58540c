// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst3/ParameterChanges.h"

#include "kelaudiofilterhost/services/Trace.h"

#include <algorithm>

namespace kelaudiofilterhost::vst3 {

ParameterValueQueue::ParameterValueQueue(Steinberg::int32 pointCapacity)
{
    SetPointCapacity(pointCapacity);
}

void ParameterValueQueue::SetPointCapacity(Steinberg::int32 pointCapacity)
{
    mCapacity = std::max<Steinberg::int32>(pointCapacity, 0);
    if (mPoints.size() > static_cast<std::size_t>(mCapacity)) {
        mPoints.resize(static_cast<std::size_t>(mCapacity));
    }
    mPoints.reserve(static_cast<std::size_t>(mCapacity));
}

void ParameterValueQueue::Reset(Steinberg::Vst::ParamID parameterID) noexcept
{
    mParameterID = parameterID;
    mPoints.clear();
}

Steinberg::tresult PLUGIN_API ParameterValueQueue::getPoint(Steinberg::int32 index, Steinberg::int32& sampleOffset,
                                                            Steinberg::Vst::ParamValue& value)
{
    if (index < 0 || index >= getPointCount()) {
        return Steinberg::kResultFalse;
    }
    const Point& point = mPoints[static_cast<std::size_t>(index)];
    sampleOffset = point.sampleOffset;
    value = point.value;
    return Steinberg::kResultOk;
}

Steinberg::tresult PLUGIN_API ParameterValueQueue::addPoint(Steinberg::int32 sampleOffset,
                                                            Steinberg::Vst::ParamValue value, Steinberg::int32& index)
{
    auto at = std::find_if(mPoints.begin(), mPoints.end(),
                           [sampleOffset](const Point& point) { return point.sampleOffset >= sampleOffset; });
    if (at != mPoints.end() && at->sampleOffset == sampleOffset) {
        at->value = value;
        index = static_cast<Steinberg::int32>(at - mPoints.begin());
        return Steinberg::kResultOk;
    }
    if (mPoints.size() >= static_cast<std::size_t>(mCapacity)) {
        mRefusals.fetch_add(1, std::memory_order_relaxed);
        return Steinberg::kResultFalse;
    }
    index = static_cast<Steinberg::int32>(at - mPoints.begin());
    mPoints.insert(at, Point{value, sampleOffset}); // within the reserved room: no allocation
    return Steinberg::kResultOk;
}

ParameterChanges::ParameterChanges(Steinberg::int32 queueCount, Steinberg::int32 pointsPerQueue)
    : mPointsPerQueue(std::max<Steinberg::int32>(pointsPerQueue, 0))
{
    SetMaxParameters(queueCount);
}

ParameterChanges::~ParameterChanges()
{
    SetMaxParameters(0);
}

Steinberg::Vst::IParamValueQueue* PLUGIN_API ParameterChanges::getParameterData(Steinberg::int32 index)
{
    if (index < 0 || index >= mUsedCount) {
        return nullptr;
    }
    return mQueues[static_cast<std::size_t>(index)];
}

Steinberg::Vst::IParamValueQueue* PLUGIN_API ParameterChanges::addParameterData(const Steinberg::Vst::ParamID& id,
                                                                                Steinberg::int32& index)
{
    for (Steinberg::int32 i = 0; i < mUsedCount; ++i) {
        if (mQueues[static_cast<std::size_t>(i)]->getParameterId() == id) {
            index = i;
            return mQueues[static_cast<std::size_t>(i)];
        }
    }
    if (mUsedCount >= GetQueueCount()) {
        mRefusals.fetch_add(1, std::memory_order_relaxed);
        return nullptr;
    }
    ParameterValueQueue* queue = mQueues[static_cast<std::size_t>(mUsedCount)];
    queue->Reset(id);
    index = mUsedCount;
    ++mUsedCount;
    return queue;
}

void ParameterChanges::Reserve(Steinberg::int32 parameterCount, Steinberg::int32 pointsPerQueue)
{
    mPointsPerQueue = std::max<Steinberg::int32>(pointsPerQueue, 0);
    SetMaxParameters(std::max<Steinberg::int32>(parameterCount, 0));
    for (ParameterValueQueue* queue : mQueues) {
        queue->SetPointCapacity(mPointsPerQueue);
    }
}

void ParameterChanges::SetMaxParameters(Steinberg::int32 n)
{
    if (n < 0) {
        return;
    }
    mQueues.reserve(static_cast<std::size_t>(n));
    while (GetQueueCount() < n) {
        mQueues.push_back(new ParameterValueQueue(mPointsPerQueue));
    }
    while (GetQueueCount() > n) {
        // Keep the refusals of a queue about to go.
        mRefusals.fetch_add(mQueues.back()->TakeRefusalCount(), std::memory_order_relaxed);
        mQueues.back()->release();
        mQueues.pop_back();
    }
    mUsedCount = std::min(mUsedCount, n);
}

std::uint64_t ParameterChanges::TakeRefusalCount() noexcept
{
    std::uint64_t count = mRefusals.exchange(0, std::memory_order_relaxed);
    for (ParameterValueQueue* queue : mQueues) {
        count += queue->TakeRefusalCount();
    }
    return count;
}

std::uint64_t ParameterChanges::TraceRefusals(const char* owner)
{
    const std::uint64_t count = TakeRefusalCount();
    if (count > 0) {
        KAFH_TRACE("vst3::ParameterChanges", 3,
                   owner << ": " << count << " parameter changes refused: more parameters or points in a block than reserved");
    }
    return count;
}

} // namespace kelaudiofilterhost::vst3
