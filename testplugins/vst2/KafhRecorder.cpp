// SPDX-License-Identifier: GPL-3.0-or-later
// KafhRecorder: a stereo pass-through that records, at the frame each takes effect, every parameter
// change, every event and every block with the time information the host gives for it. Its chunk is
// the record (RecorderChunk), so a test reads it by saving the settings.
#include "testplugins/vst2/TestEffect.h"

#include <memory>

namespace {

using namespace kafhtest;

class KafhRecorder final : public TestEffect
{
public:
    explicit KafhRecorder(abi::AudioMasterCallback host)
        : TestEffect(host, {.name = "Kafh Recorder",
                            .uniqueId = kRecorderId,
                            .numParams = 2,
                            .flags = abi::effFlagsCanReplacing | abi::effFlagsProgramChunks})
    {
    }

protected:
    void ProcessReplacing(float** inputs, float** outputs, std::int32_t frames) override
    {
        const auto* time = reinterpret_cast<const abi::VstTimeInfo*>(CallHost(abi::audioMasterGetTime));
        mRecord->processLevel = static_cast<std::int32_t>(CallHost(abi::audioMasterGetCurrentProcessLevel));
        Add({RecorderEntryKind::Block, frames, mFrames, time != nullptr ? time->ppqPos : 0.0,
             time != nullptr ? time->tempo : 0.0, time != nullptr ? time->barStartPos : 0.0});
        for (std::size_t c = 0; c < 2; ++c)
        {
            std::copy_n(inputs[c], frames, outputs[c]);
        }
        mFrames += frames;
    }

    void SetParameter(std::int32_t index, float value) override
    {
        TestEffect::SetParameter(index, value);
        Add({RecorderEntryKind::Parameter, index, mFrames, value, 0.0, 0.0});
    }

    std::intptr_t ProcessEvents(const abi::VstEvents& events) override
    {
        for (std::int32_t i = 0; i < events.numEvents; ++i)
        {
            const auto* event = reinterpret_cast<const abi::VstMidiEvent*>(events.events[i]);
            if (event != nullptr && event->type == abi::kVstMidiType)
            {
                Add({RecorderEntryKind::Event, static_cast<unsigned char>(event->midiData[0]),
                     mFrames + event->deltaFrames, static_cast<double>(static_cast<unsigned char>(event->midiData[1])),
                     0.0, 0.0});
            }
        }
        return 1;
    }

    std::intptr_t CanDo(std::string_view what) override
    {
        return what == "receiveVstEvents" || what == "receiveVstMidiEvent" ? 1 : 0;
    }

    void MainsChanged(bool resumed) override
    {
        if (resumed)
        {
            mFrames = 0;
        }
    }

    std::string_view ParameterName(std::int32_t index) override { return index == 0 ? "A" : "B"; }

    std::intptr_t GetChunk(void** data, bool /*isPreset*/) override
    {
        *data = mRecord.get();
        return static_cast<std::intptr_t>(sizeof(RecorderChunk));
    }
    // A record taken back whole, so that a restored instance saves what it was given.
    std::intptr_t SetChunk(const void* data, std::intptr_t size, bool /*isPreset*/) override
    {
        if (data == nullptr || size != static_cast<std::intptr_t>(sizeof(RecorderChunk)))
        {
            return 0;
        }
        std::memcpy(mRecord.get(), data, sizeof(RecorderChunk));
        return 1;
    }

private:
    void Add(const RecorderEntry& entry)
    {
        if (mRecord->count < kRecorderMaxEntries)
        {
            mRecord->entries[mRecord->count] = entry;
        }
        ++mRecord->count;
    }

    std::unique_ptr<RecorderChunk> mRecord = std::make_unique<RecorderChunk>();
    std::int64_t mFrames = 0;
};

} // namespace

KAFH_VST2_EXPORT abi::AEffect* VSTPluginMain(abi::AudioMasterCallback host)
{
    return CreateEffect<KafhRecorder>(host);
}
