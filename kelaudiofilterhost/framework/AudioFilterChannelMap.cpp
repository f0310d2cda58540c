// SPDX-License-Identifier: GPL-3.0-or-later
// The channel-map half of AudioFilter: target format, map edits, settings and mapped processing.
#include "kelaudiofilterhost/framework/AudioFilter.h"

#include "kelaudiofilterhost/services/FloatBlock.h"
#include "kelaudiofilterhost/services/PropList.h"
#include "kelaudiofilterhost/services/Trace.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace kelaudiofilterhost {

namespace {

using Lock = std::lock_guard<boost::recursive_mutex>;
constexpr const char* kInputMappingKey = "InputMapping";
constexpr const char* kOutputMappingKey = "OutputMapping";

void WriteMap(const ChannelMap& map, kelcore::proplist::PropList& child)
{
    child.SetValue("C", static_cast<std::uint32_t>(map.size()));
    std::uint32_t n = 1;
    for (const auto& [filterChannel, targetChannel] : map) {
        const auto number = std::to_string(n++);
        child.SetValue("S_" + number, static_cast<std::int32_t>(filterChannel));
        child.SetValue("D_" + number, static_cast<std::int32_t>(targetChannel));
    }
}

// Reads what it can; the map gets what was read also when an entry is incomplete.
bool ReadMap(const kelcore::proplist::PropList& child, ChannelMap& map)
{
    ChannelMap read;
    std::uint32_t count = 0;
    bool ok = child.GetValue("C", count);
    if (ok) {
        for (std::uint64_t n = 1; n <= count; ++n) {
            const auto number = std::to_string(n);
            std::int32_t filterChannel = 0;
            std::int32_t targetChannel = 0;
            if (!child.GetValue("S_" + number, filterChannel) || !child.GetValue("D_" + number, targetChannel)) {
                KAFH_TRACE("AudioFilter::LoadChannelMapSettings", 5,
                           "entry " << n << " of " << count << " is incomplete; reading stops");
                ok = false;
                break;
            }
            read.emplace(filterChannel, targetChannel);
        }
    }
    map = std::move(read);
    return ok;
}

} // namespace

void AudioFilter::SetChannelMapTargetChannelLayout(const std::vector<AudioChannelDescription>& layout)
{
    {
        Lock lock(mChannelMapLock);
        mMainTargetBus.SetLayout(layout);
    }
    mTargetFormatChangedSignal();
}

std::vector<AudioChannelDescription> AudioFilter::GetChannelMapTargetChannelLayout() const
{
    Lock lock(mChannelMapLock);
    return mMainTargetBus.GetLayout();
}

void AudioFilter::SetMainTargetBus(const AudioFilterBusDescription& bus)
{
    {
        Lock lock(mChannelMapLock);
        mMainTargetBus = bus;
    }
    mTargetFormatChangedSignal();
}

AudioFilterBusDescription AudioFilter::GetMainTargetBus() const
{
    Lock lock(mChannelMapLock);
    return mMainTargetBus;
}

void AudioFilter::SetSideChainTargetBus(const AudioFilterBusDescription& bus)
{
    {
        Lock lock(mChannelMapLock);
        mSideChainTargetBus = bus;
    }
    mTargetFormatChangedSignal();
}

AudioFilterBusDescription AudioFilter::GetSideChainTargetBus() const
{
    Lock lock(mChannelMapLock);
    return mSideChainTargetBus;
}

unsigned int AudioFilter::GetSideChainTargetBusChannelCount() const
{
    Lock lock(mChannelMapLock);
    return mSideChainTargetBus.GetChannelCount();
}

ChannelMap AudioFilter::GetChannelMap(bool input) const
{
    Lock lock(mChannelMapLock);
    return MapFor(input);
}

void AudioFilter::ChangeChannelMap(bool input, const std::function<void(ChannelMap&)>& change)
{
    ReportOversizedBlocks();
    ChannelMap oldMap;
    ChannelMap newMap;
    {
        Lock lock(mChannelMapLock);
        oldMap = MapFor(input);
        change(MapFor(input));
        newMap = MapFor(input);
        if (!IsSuspended()) {
            UpdateChannelMapArraysForRendering();
        }
    }
    mChannelMapChangedSignal(input, oldMap, newMap);
}

void AudioFilter::SetChannelMap(const ChannelMap& map, bool input)
{
    ChangeChannelMap(input, [&map](ChannelMap& target) {
        if (&target != &map) {
            target = map;
        }
    });
}

void AudioFilter::AssignChannelMapping(bool input, int filterChannel, int targetChannel)
{
    ChangeChannelMap(input, [filterChannel, targetChannel](ChannelMap& map) {
        map.erase(filterChannel);
        const auto holder = std::find_if(map.begin(), map.end(),
                                         [targetChannel](const auto& entry) { return entry.second == targetChannel; });
        if (holder != map.end()) {
            map.erase(holder);
        }
        map.emplace(filterChannel, targetChannel);
    });
}

void AudioFilter::RemoveChannelMapping(bool input, int filterChannel)
{
    ChangeChannelMap(input, [filterChannel](ChannelMap& map) { map.erase(filterChannel); });
}

void AudioFilter::SetDefaultChannelMap(bool input)
{
    ReportOversizedBlocks();
    Lock lock(mChannelMapLock);
    auto& map = MapFor(input);
    map.clear();
    const auto filterChannels = static_cast<int>(input ? GetNumberOfInputChannels() : GetNumberOfOutputChannels());
    auto targetChannels = static_cast<int>(mMainTargetBus.GetChannelCount());
    if (input) {
        targetChannels += static_cast<int>(mSideChainTargetBus.GetChannelCount());
    }
    for (int k = 0; k < std::min(filterChannels, targetChannels); ++k) {
        map.emplace(k, k);
    }
    // Like every other edit, the audio path follows at once while the filter is active.
    if (!IsSuspended()) {
        UpdateChannelMapArraysForRendering();
    }
}

bool AudioFilter::IsChannelMapDefault(bool input) const
{
    Lock lock(mChannelMapLock);
    const auto& map = MapFor(input);
    if (map.empty()) {
        return true;
    }
    const auto filterChannels = input ? GetNumberOfInputChannels() : GetNumberOfOutputChannels();
    auto targetChannels = mMainTargetBus.GetChannelCount();
    if (input) {
        targetChannels += mSideChainTargetBus.GetChannelCount();
    }
    if (filterChannels != targetChannels) {
        return false;
    }
    return std::all_of(map.begin(), map.end(), [](const auto& entry) { return entry.first == entry.second; });
}

void AudioFilter::AutoConnectSideChainChannels(bool replace)
{
    ChannelMap map = GetChannelMap(true);
    const auto mainChannels = static_cast<int>(GetMainTargetBus().GetChannelCount());
    const auto sideChainChannels = static_cast<int>(GetSideChainTargetBusChannelCount());
    if (replace) {
        for (int k = mainChannels; k < mainChannels + sideChainChannels; ++k) {
            map.erase(k);
        }
    }
    const auto filterInputs = static_cast<int>(GetNumberOfInputChannels());
    const auto filterOutputs = static_cast<int>(GetNumberOfOutputChannels());
    int start = 0;
    if (mInputBuses.size() == 2) {
        start = static_cast<int>(mInputBuses.front().GetChannelCount());
    } else if (filterOutputs < filterInputs) {
        start = filterOutputs;
    }
    int nextTarget = mainChannels;
    for (int i = 0; i < sideChainChannels; ++i) {
        int k = start;
        while (k < filterInputs && map.count(k) != 0) {
            ++k;
        }
        if (k >= filterInputs) {
            break;
        }
        map.emplace(k, nextTarget++);
    }
    SetChannelMap(map, true);
}

ChannelMap AudioFilter::BuildBestFitChannelMap(const std::vector<AudioFilterBusDescription>& buses,
                                               const std::vector<AudioChannelDescription>& targetLayout)
{
    ChannelMap map;
    if (buses.empty()) {
        return map;
    }
    const auto layout = buses.front().GetLayout();
    std::vector<bool> used(targetLayout.size(), false);
    for (std::size_t i = 0; i < layout.size(); ++i) {
        for (std::size_t j = 0; j < targetLayout.size(); ++j) {
            if (!used[j] && targetLayout[j] == layout[i]) {
                map.emplace(static_cast<int>(i), static_cast<int>(j));
                used[j] = true;
                break;
            }
        }
    }
    if (map.empty()) {
        const auto common = std::min(layout.size(), targetLayout.size());
        for (std::size_t k = 0; k < common; ++k) {
            map.emplace(static_cast<int>(k), static_cast<int>(k));
        }
    }
    return map;
}

bool AudioFilter::SaveChannelMapSettings(kelcore::proplist::PropList* list) const
{
    if (!GetUseChannelMap() || list == nullptr) {
        return false;
    }
    Lock lock(mChannelMapLock);
    auto* inputChild = list->CreateChild(kInputMappingKey);
    if (inputChild == nullptr) {
        return false;
    }
    WriteMap(mInputChannelMap, *inputChild);
    auto* outputChild = list->CreateChild(kOutputMappingKey);
    if (outputChild == nullptr) {
        return false;
    }
    WriteMap(mOutputChannelMap, *outputChild);
    return true;
}

bool AudioFilter::LoadChannelMapSettings(const kelcore::proplist::PropList* list)
{
    if (!GetUseChannelMap() || list == nullptr) {
        return false;
    }
    Lock lock(mChannelMapLock);
    const auto* inputChild = list->GetChild(kInputMappingKey);
    if (inputChild == nullptr) {
        KAFH_TRACE("AudioFilter::LoadChannelMapSettings", 5, "no \"" << kInputMappingKey << "\" list");
        return false;
    }
    if (!ReadMap(*inputChild, mInputChannelMap)) {
        return false;
    }
    const auto* outputChild = list->GetChild(kOutputMappingKey);
    if (outputChild == nullptr) {
        KAFH_TRACE("AudioFilter::LoadChannelMapSettings", 5, "no \"" << kOutputMappingKey << "\" list");
        return false;
    }
    return ReadMap(*outputChild, mOutputChannelMap);
}

void AudioFilter::BuildChannelMaps()
{
    if (!GetUseChannelMap()) {
        return;
    }
    Lock lock(mChannelMapLock);
    const int blockSize = std::max(mBlockSize, 0);
    mSilentInputBuffer.assign(static_cast<std::size_t>(blockSize), 0.0f);
    mDiscardOutputBuffer.assign(static_cast<std::size_t>(blockSize), 0.0f);
    mRenderBlockSize = blockSize;
    mChannelMapsBuilt = true;

    mRenderInputChannels = GetNumberOfInputChannels();
    if (!mInputBuses.empty()) {
        mInputPointers.assign(mRenderInputChannels, mSilentInputBuffer.data());
    } else {
        mInputPointers.clear();
    }

    mPassThroughDelayLine.reset();
    mRenderMainChannels = static_cast<int>(mMainTargetBus.GetChannelCount());
    mRenderInputTargets = mRenderMainChannels + static_cast<int>(mSideChainTargetBus.GetChannelCount());
    mDelayInputPointers.assign(static_cast<std::size_t>(mRenderMainChannels), mSilentInputBuffer.data());

    mRenderOutputChannels = GetNumberOfOutputChannels();
    if (mOutputBuses.empty()) {
        mOutputPointers.clear();
    } else {
        mOutputPointers.assign(mRenderOutputChannels, mDiscardOutputBuffer.data());
        if (mRenderMainChannels > 0) {
            const int latency = std::max(GetInitialDelay(), 0);
            mPassThroughDelayLine = new DelayLine(static_cast<unsigned long>(blockSize),
                                                  static_cast<unsigned long>(latency),
                                                  static_cast<unsigned long>(mRenderMainChannels));
            if (!mPassThroughDelayLine->IsAllocated()) {
                KAFH_TRACE("AudioFilter::BuildChannelMaps", 5,
                           "pass-through delay line of " << latency << " frames not allocated; no pass-through");
            }
        }
    }
    UpdateChannelMapArraysForRendering();
}

void AudioFilter::UpdateChannelMapArraysForRendering()
{
    if (!GetUseChannelMap()) {
        return;
    }
    Lock lock(mChannelMapLock);
    if (!mChannelMapsBuilt) {
        return;
    }
    const int mainChannels = mRenderMainChannels;
    const int inputTargets = mRenderInputTargets;

    auto prepared = std::make_unique<PreparedChannelMap>();
    prepared->inputSources.assign(mRenderInputChannels, -1);
    prepared->outputTargets.assign(mRenderOutputChannels, -1);
    prepared->mainChannels = mainChannels;
    prepared->blockSize = mRenderBlockSize;
    std::set<int> usedInputTargets;
    std::set<int> usedOutputTargets;

    for (const auto& [filterChannel, targetChannel] : mInputChannelMap) {
        const int t = targetChannel >= 0 && targetChannel < inputTargets ? targetChannel : -1;
        if (filterChannel >= 0 && static_cast<std::size_t>(filterChannel) < prepared->inputSources.size()) {
            prepared->inputSources[static_cast<std::size_t>(filterChannel)] = t;
            usedInputTargets.insert(t);
        }
    }
    for (const auto& [filterChannel, targetChannel] : mOutputChannelMap) {
        const int t = targetChannel >= 0 && targetChannel < mainChannels ? targetChannel : -1;
        if (filterChannel >= 0 && static_cast<std::size_t>(filterChannel) < prepared->outputTargets.size()) {
            prepared->outputTargets[static_cast<std::size_t>(filterChannel)] = t;
            usedOutputTargets.insert(t);
        }
    }
    for (int t = 0; t < mainChannels; ++t) {
        if (usedOutputTargets.count(t) != 0) {
            continue;
        }
        if (usedInputTargets.count(t) != 0) {
            prepared->clearedChannels.push_back(t);
        } else {
            prepared->passThroughChannels.push_back(t);
        }
    }
    // One atomic switch: the audio thread follows the old map or this one, never parts of both.
    mPreparedChannelMaps.Publish(std::move(prepared));
}

void AudioFilter::ReleaseReplacedChannelMaps()
{
    Lock lock(mChannelMapLock);
    mPreparedChannelMaps.Reclaim();
}

void AudioFilter::ReportOversizedBlocks()
{
    const std::uint32_t count = mOversizedBlocks.exchange(0, std::memory_order_relaxed);
    if (count != 0) {
        Lock lock(mChannelMapLock);
        KAFH_TRACE("AudioFilter::ProcessWithMapping", 5,
                   "\"" << mComponentID << "\": " << count << " block(s) longer than the block size "
                        << mRenderBlockSize << " of the last Resume were silenced");
    }
}

void AudioFilter::ProcessWithMapping(float** inputs, float** outputs, int frameCount)
{
    if (!GetUseChannelMap()) {
        Process(inputs, outputs, frameCount);
        return;
    }
    if (frameCount <= 0) {
        return;
    }
    const PreparedChannelMapExchange::Reader reader(mPreparedChannelMaps);
    const PreparedChannelMap* map = reader.Get();
    if (map == nullptr) {
        // Never resumed with channel maps on: nothing is sized, the filter gets the buffers as they are.
        Process(inputs, outputs, frameCount);
        return;
    }
    // The shared silent and discard buffers and the delay line are sized for the block size of the
    // last Resume; a longer block cannot be processed. Silence the outputs rather than leave stale
    // data, and leave the report to a non-audio call.
    if (frameCount > map->blockSize) {
        mOversizedBlocks.fetch_add(1, std::memory_order_relaxed);
        if (outputs != nullptr) {
            for (int t = 0; t < map->mainChannels; ++t) {
                if (outputs[t] != nullptr) {
                    kelcore::FloatZero(outputs[t], frameCount);
                }
            }
        }
        return;
    }

    float** filterInputs = inputs;
    // Some effects use their input buffers as scratch space: the shared silence is made anew
    // whenever it is handed over, before the filter and before the delay line.
    bool silenceHandedOver = false;
    if (!map->inputSources.empty()) {
        for (std::size_t i = 0; i < map->inputSources.size(); ++i) {
            const int source = map->inputSources[i];
            float* channel = source >= 0 && inputs != nullptr ? inputs[source] : nullptr;
            silenceHandedOver = silenceHandedOver || channel == nullptr;
            mInputPointers[i] = channel != nullptr ? channel : mSilentInputBuffer.data();
        }
        if (silenceHandedOver) {
            kelcore::FloatZero(mSilentInputBuffer.data(), frameCount);
        }
        filterInputs = mInputPointers.data();
    }
    float** filterOutputs = outputs;
    if (!map->outputTargets.empty()) {
        bool discarding = false;
        for (std::size_t k = 0; k < map->outputTargets.size(); ++k) {
            const int target = map->outputTargets[k];
            float* channel = target >= 0 && outputs != nullptr ? outputs[target] : nullptr;
            discarding = discarding || channel == nullptr;
            mOutputPointers[k] = channel != nullptr ? channel : mDiscardOutputBuffer.data();
        }
        // An effect that adds to its outputs would otherwise add to what it wrote here last block.
        if (discarding) {
            kelcore::FloatZero(mDiscardOutputBuffer.data(), frameCount);
        }
        filterOutputs = mOutputPointers.data();
    }

    Process(filterInputs, filterOutputs, frameCount);

    if (outputs == nullptr) {
        return;
    }
    for (const int t : map->clearedChannels) {
        if (outputs[t] != nullptr) {
            kelcore::FloatZero(outputs[t], frameCount);
        }
    }
    if (map->mainChannels > 0 && mPassThroughDelayLine) {
        bool silenceForTheLine = false;
        for (int c = 0; c < map->mainChannels; ++c) {
            float* channel = inputs != nullptr ? inputs[c] : nullptr;
            silenceForTheLine = silenceForTheLine || channel == nullptr;
            mDelayInputPointers[static_cast<std::size_t>(c)] = channel != nullptr ? channel : mSilentInputBuffer.data();
        }
        if (silenceForTheLine) {
            kelcore::FloatZero(mSilentInputBuffer.data(), frameCount);
        }
        // Written every block, also with nothing to pass through, so the line stays current.
        mPassThroughDelayLine->WriteData(mDelayInputPointers.data(), static_cast<unsigned long>(frameCount));
        float** delayed = mPassThroughDelayLine->GetDelayedOutput(static_cast<unsigned long>(frameCount));
        if (delayed == nullptr) {
            return;
        }
        for (const int t : map->passThroughChannels) {
            if (outputs[t] != nullptr) {
                kelcore::FloatCopy(delayed[t], outputs[t], frameCount);
            }
        }
    }
}

} // namespace kelaudiofilterhost
