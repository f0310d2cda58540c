// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace kelaudiofilterhost {

/// Everything mapped processing follows for one block, prepared whole off the audio thread and never
/// changed once published: the audio thread sees one map, the old or the new, never a mixture.
struct PreparedChannelMap {
    /// Per filter input: the target input channel feeding it, or -1 for silence.
    std::vector<int> inputSources;
    /// Per filter output: the target output channel it writes, or -1 to discard.
    std::vector<int> outputTargets;
    /// Ascending target outputs that no filter output writes and no filter input reads.
    std::vector<int> passThroughChannels;
    /// Ascending target outputs that feed the filter but get nothing back.
    std::vector<int> clearedChannels;
    /// Main target channels and block size of the last Resume.
    int mainChannels = 0;
    int blockSize = 0;
};

/// Hands prepared maps from non-audio threads to the audio thread. Reading is lock-free and
/// allocation-free; a replaced map is freed only by a later Publish or Reclaim (never on the audio
/// thread), once no read can still hold it. One reader at a time; writers are serialised by the caller.
class PreparedChannelMapExchange {
public:
    PreparedChannelMapExchange() = default;
    PreparedChannelMapExchange(const PreparedChannelMapExchange&) = delete;
    PreparedChannelMapExchange& operator=(const PreparedChannelMapExchange&) = delete;
    ~PreparedChannelMapExchange();

    /// Holds the current map (null before the first Publish) for the audio thread until destroyed.
    class Reader {
    public:
        explicit Reader(PreparedChannelMapExchange& exchange);
        ~Reader();
        Reader(const Reader&) = delete;
        Reader& operator=(const Reader&) = delete;
        const PreparedChannelMap* Get() const { return mMap; }

    private:
        PreparedChannelMapExchange& mExchange;
        const PreparedChannelMap* mMap;
    };

    /// Makes the map current, then frees what Reclaim can.
    void Publish(std::unique_ptr<PreparedChannelMap> map);
    /// Frees every replaced map that no read can hold any more.
    void Reclaim();
    /// Replaced maps not yet freed.
    std::size_t GetRetiredCount() const { return mRetired.size(); }

private:
    std::atomic<PreparedChannelMap*> mCurrent{nullptr};
    // Odd while the audio thread reads. A replaced map is tagged with the count seen after it was
    // replaced: an even tag means no read held it, an odd one names the only read that might.
    std::atomic<std::uint64_t> mReadCount{0};
    std::vector<std::pair<std::unique_ptr<PreparedChannelMap>, std::uint64_t>> mRetired;
};

} // namespace kelaudiofilterhost
