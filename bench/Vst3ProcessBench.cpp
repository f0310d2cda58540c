// SPDX-License-Identifier: GPL-3.0-or-later
// The VST 3 back end against calling the same processors by hand: a block through the filter against
// IAudioProcessor::process on the same buffers, with a ProcessData filled here, on an instance of the
// same class set up and activated the same way; once without parameter changes, once with eight a block.
#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/vst3/VST3AudioFilter.h"
#include "kelaudiofilterhost/vst3/VST3ClassID.h"
#include "kelaudiofilterhost/vst3/VST3ParameterInfo.h"
#include "kelaudiofilterhost/vst3/VST3PluginGate.h"
#include "kelaudiofilterhost/vst3/VST3PluginModule.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace kelaudiofilterhost;
using namespace Steinberg;

constexpr int kFrames = 256;
constexpr int kChangesPerBlock = 8;

UTF16String ZamCompX2Path()
{
    return u"/usr/lib/vst3/ZamCompX2.vst3";
}

UTF16String TestGainPath()
{
#ifdef KAFH_TESTPLUGINS_VST3_DIR
    return kelcore::UTF8to16(std::string(KAFH_TESTPLUGINS_VST3_DIR) + "/KafhVst3Gain.vst3");
#else
    return {};
#endif
}

struct StereoBuffers {
    StereoBuffers() : in(2, std::vector<float>(kFrames, 0.25f)), out(2, std::vector<float>(kFrames))
    {
        for (int c = 0; c < 2; ++c) {
            inPointers[c] = in[c].data();
            outPointers[c] = out[c].data();
        }
    }
    std::vector<std::vector<float>> in;
    std::vector<std::vector<float>> out;
    float* inPointers[2];
    float* outPointers[2];
};

// The module's first audio class.
KAFH_VST3_PLUGIN_CALL bool FindAudioClass(const UTF16String& path, IPluginFactory*& factory, PClassInfo& info)
{
    if (path.empty() || !std::filesystem::exists(kelcore::filesupport::ToPath(path))) {
        return false;
    }
    const auto module = vst3::GetOrLoadModule(path);
    factory = module ? module->GetFactory() : nullptr;
    if (factory == nullptr) {
        return false;
    }
    for (int32 i = 0; i < factory->countClasses(); ++i) {
        if (factory->getClassInfo(i, &info) == kResultOk && std::strcmp(info.category, kVstAudioEffectClass) == 0) {
            return true;
        }
    }
    return false;
}

boost::intrusive_ptr<vst3::VST3AudioFilter> OpenFilter(const UTF16String& path)
{
    IPluginFactory* factory = nullptr;
    PClassInfo info{};
    if (!FindAudioClass(path, factory, info)) {
        return {};
    }
    const auto module = vst3::GetOrLoadModule(path);
    auto filter = boost::static_pointer_cast<vst3::VST3AudioFilter>(
        module->CreateAudioFilter(vst3::MakeVST3ComponentID(vst3::ClassIDFromTUID(info.cid))));
    if (!filter || !filter->IsInitialised()) {
        return {};
    }
    filter->SetSampleRate(48000.0f);
    filter->SetBlockSize(kFrames);
    filter->Resume();
    return filter;
}

// The host context of the hand-made instances: a name and nothing else.
class BareHost : public Vst::IHostApplication {
public:
    tresult PLUGIN_API queryInterface(const TUID wanted, void** object) override
    {
        if (FUnknownPrivate::iidEqual(wanted, FUnknown::iid) || FUnknownPrivate::iidEqual(wanted, Vst::IHostApplication::iid)) {
            *object = this;
            return kResultOk;
        }
        *object = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }
    tresult PLUGIN_API getName(Vst::String128 name) override
    {
        const char16_t text[] = u"kafh bench";
        std::memcpy(name, text, sizeof(text));
        return kResultOk;
    }
    tresult PLUGIN_API createInstance(TUID, TUID, void** object) override
    {
        *object = nullptr;
        return kNotImplemented;
    }
};

// Fixed-room parameter changes, filled by hand: the least a host can hand a processor.
class FixedQueue : public Vst::IParamValueQueue {
public:
    tresult PLUGIN_API queryInterface(const TUID, void** object) override
    {
        *object = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }
    Vst::ParamID PLUGIN_API getParameterId() override { return id; }
    int32 PLUGIN_API getPointCount() override { return count; }
    tresult PLUGIN_API getPoint(int32 index, int32& sampleOffset, Vst::ParamValue& value) override
    {
        if (index < 0 || index >= count) {
            return kResultFalse;
        }
        sampleOffset = offsets[index];
        value = values[index];
        return kResultOk;
    }
    tresult PLUGIN_API addPoint(int32 sampleOffset, Vst::ParamValue value, int32& index) override
    {
        if (count == kPoints) {
            return kResultFalse;
        }
        offsets[count] = sampleOffset;
        values[count] = value;
        index = count++;
        return kResultOk;
    }

    static constexpr int32 kPoints = 64;
    Vst::ParamID id = 0;
    int32 count = 0;
    std::array<int32, kPoints> offsets{};
    std::array<Vst::ParamValue, kPoints> values{};
};

class FixedChanges : public Vst::IParameterChanges {
public:
    tresult PLUGIN_API queryInterface(const TUID, void** object) override
    {
        *object = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }
    int32 PLUGIN_API getParameterCount() override { return count; }
    Vst::IParamValueQueue* PLUGIN_API getParameterData(int32 index) override
    {
        return index >= 0 && index < count ? &queues[index] : nullptr;
    }
    Vst::IParamValueQueue* PLUGIN_API addParameterData(const Vst::ParamID& id, int32& index) override
    {
        for (int32 i = 0; i < count; ++i) {
            if (queues[i].id == id) {
                index = i;
                return &queues[i];
            }
        }
        if (count == kQueues) {
            return nullptr;
        }
        queues[count].id = id;
        queues[count].count = 0;
        index = count;
        return &queues[count++];
    }

    static constexpr int32 kQueues = 64;
    int32 count = 0;
    std::array<FixedQueue, kQueues> queues;
};

// An instance of the class the filter is made of, set up and activated as the filter does it.
class DirectProcessor {
public:
    KAFH_VST3_PLUGIN_CALL explicit DirectProcessor(const UTF16String& path)
    {
        IPluginFactory* factory = nullptr;
        PClassInfo info{};
        if (!FindAudioClass(path, factory, info) ||
            factory->createInstance(info.cid, Vst::IComponent::iid, reinterpret_cast<void**>(&mComponent)) != kResultOk ||
            mComponent == nullptr) {
            mComponent = nullptr;
            return;
        }
        if (mComponent->initialize(&mHost) != kResultOk ||
            mComponent->queryInterface(Vst::IAudioProcessor::iid, reinterpret_cast<void**>(&mProcessor)) != kResultOk) {
            mProcessor = nullptr;
            return;
        }
        Vst::ProcessSetup setup{Vst::kRealtime, Vst::kSample32, kFrames, 48000.0};
        mProcessor->setupProcessing(setup);
        mComponent->setActive(true);
        mProcessor->setProcessing(true);

        mContext.sampleRate = 48000.0;
        mInput.numChannels = 2;
        mOutput.numChannels = 2;
        mData.processMode = Vst::kRealtime;
        mData.symbolicSampleSize = Vst::kSample32;
        mData.numSamples = kFrames;
        mData.numInputs = 1;
        mData.numOutputs = 1;
        mData.inputs = &mInput;
        mData.outputs = &mOutput;
        mData.inputParameterChanges = &inputChanges;
        mData.outputParameterChanges = &mOutputChanges;
        mData.processContext = &mContext;
    }

    KAFH_VST3_PLUGIN_CALL ~DirectProcessor()
    {
        if (mProcessor != nullptr) {
            mProcessor->setProcessing(false);
            mComponent->setActive(false);
            mProcessor->release();
        }
        if (mComponent != nullptr) {
            mComponent->terminate();
            mComponent->release();
        }
    }

    DirectProcessor(const DirectProcessor&) = delete;
    DirectProcessor& operator=(const DirectProcessor&) = delete;

    bool IsReady() const { return mProcessor != nullptr; }

    KAFH_VST3_PLUGIN_CALL void Process(StereoBuffers& buffers)
    {
        mInput.channelBuffers32 = buffers.inPointers;
        mOutput.channelBuffers32 = buffers.outPointers;
        mOutputChanges.count = 0;
        mProcessor->process(mData);
        inputChanges.count = 0;
        mContext.projectTimeSamples += kFrames;
        mContext.continousTimeSamples += kFrames;
    }

    FixedChanges inputChanges;

private:
    BareHost mHost;
    Vst::IComponent* mComponent = nullptr;
    Vst::IAudioProcessor* mProcessor = nullptr;
    Vst::ProcessContext mContext{};
    Vst::AudioBusBuffers mInput{};
    Vst::AudioBusBuffers mOutput{};
    FixedChanges mOutputChanges;
    Vst::ProcessData mData{};
};

void ProcessThroughFilter(benchmark::State& state, const UTF16String& path)
{
    auto filter = OpenFilter(path);
    if (!filter) {
        state.SkipWithError("plug-in not available");
        return;
    }
    StereoBuffers buffers;
    for (auto _ : state) {
        filter->Process(buffers.inPointers, buffers.outPointers, kFrames);
        benchmark::ClobberMemory();
    }
}

void ProcessDirectly(benchmark::State& state, const UTF16String& path)
{
    DirectProcessor direct(path);
    if (!direct.IsReady()) {
        state.SkipWithError("plug-in not available");
        return;
    }
    StereoBuffers buffers;
    for (auto _ : state) {
        direct.Process(buffers);
        benchmark::ClobberMemory();
    }
}

BENCHMARK_CAPTURE(ProcessThroughFilter, zam, ZamCompX2Path())->Name("vst3_process_vs_direct_zam/candidate");
BENCHMARK_CAPTURE(ProcessDirectly, zam, ZamCompX2Path())->Name("vst3_process_vs_direct_zam/baseline");
BENCHMARK_CAPTURE(ProcessThroughFilter, gain, TestGainPath())->Name("vst3_process_vs_direct_gain/candidate");
BENCHMARK_CAPTURE(ProcessDirectly, gain, TestGainPath())->Name("vst3_process_vs_direct_gain/baseline");

// The first kChangesPerBlock listed parameters; values that differ from one block to the next.
std::vector<Vst::ParamID> ChangedParameters(const vst3::VST3AudioFilter& filter)
{
    std::vector<Vst::ParamID> ids;
    for (int index = 0; index < filter.GetParameterCount() && ids.size() < kChangesPerBlock; ++index) {
        const auto info = boost::static_pointer_cast<vst3::VST3ParameterInfo>(filter.GetParameterInfo(index));
        ids.push_back(info->GetID());
    }
    return ids;
}

double ChangeValue(long long block, std::size_t k)
{
    return 0.25 + 0.5 * static_cast<double>((block + static_cast<long long>(k)) % 2);
}

// The changes go through the filter's component-handler edit, which queues them for the processor
// alone: SetParameter would also set the controller, which the direct call knows nothing about.
void ChangeThroughFilter(benchmark::State& state)
{
    auto filter = OpenFilter(ZamCompX2Path());
    if (!filter) {
        state.SkipWithError("plug-in not available");
        return;
    }
    const auto ids = ChangedParameters(*filter);
    if (ids.size() < kChangesPerBlock) {
        state.SkipWithError("too few parameters");
        return;
    }
    StereoBuffers buffers;
    long long block = 0;
    for (auto _ : state) {
        for (std::size_t k = 0; k < ids.size(); ++k) {
            filter->performEdit(ids[k], ChangeValue(block, k));
        }
        filter->Process(buffers.inPointers, buffers.outPointers, kFrames);
        ++block;
        benchmark::ClobberMemory();
    }
}

void ChangeDirectly(benchmark::State& state)
{
    // The IDs are the class's: read from a filter of the same class, then the filter goes.
    std::vector<Vst::ParamID> ids;
    if (auto filter = OpenFilter(ZamCompX2Path())) {
        ids = ChangedParameters(*filter);
    }
    DirectProcessor direct(ZamCompX2Path());
    if (!direct.IsReady() || ids.size() < kChangesPerBlock) {
        state.SkipWithError("plug-in not available");
        return;
    }
    StereoBuffers buffers;
    long long block = 0;
    for (auto _ : state) {
        for (std::size_t k = 0; k < ids.size(); ++k) {
            int32 index = 0;
            if (Vst::IParamValueQueue* queue = direct.inputChanges.addParameterData(ids[k], index)) {
                queue->addPoint(0, ChangeValue(block, k), index);
            }
        }
        direct.Process(buffers);
        ++block;
        benchmark::ClobberMemory();
    }
}

BENCHMARK(ChangeThroughFilter)->Name("vst3_param_changes_vs_direct/candidate");
BENCHMARK(ChangeDirectly)->Name("vst3_param_changes_vs_direct/baseline");

} // namespace
