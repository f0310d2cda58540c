// SPDX-License-Identifier: GPL-3.0-or-later
// The shared base of our VST 3 test bundles, written directly on the published interfaces: a
// factory over a static class table, a minimal processor and controller, a controller over a static
// parameter table, and helpers for state streams and parameter changes. Header only; each bundle is
// one .cpp that includes it and names its classes.
#pragma once

#include "testplugins/vst3/TestVst3Ids.h"

#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "pluginterfaces/vst/ivstunits.h"
#include "pluginterfaces/vst/vstspeaker.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <span>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#define KAFH_VST3_EXPORT extern "C" __attribute__((visibility("default")))

namespace kafh_testplugins_vst3 {

using namespace Steinberg;

inline constexpr const char* kVendor = "kelaudiofilterhost";

inline void ToTUID(const Uid& uid, TUID out)
{
    const std::uint32_t words[] = {uid.w1, uid.w2, uid.w3, uid.w4};
    for (int i = 0; i < 16; ++i) {
        out[i] = static_cast<char>((words[i / 4] >> (24 - 8 * (i % 4))) & 0xFF);
    }
}

inline bool SameUid(const Uid& uid, const char* tuid)
{
    TUID mine;
    ToTUID(uid, mine);
    return tuid != nullptr && std::memcmp(mine, tuid, sizeof mine) == 0;
}

template <std::size_t N>
void CopyText(char16 (&out)[N], const char* text)
{
    std::size_t i = 0;
    for (; text[i] != 0 && i + 1 < N; ++i) {
        out[i] = static_cast<char16>(static_cast<unsigned char>(text[i]));
    }
    out[i] = 0;
}

template <std::size_t N>
void CopyText(char (&out)[N], const char* text)
{
    std::strncpy(out, text, N - 1);
    out[N - 1] = 0;
}

// Reference counting and queryInterface over a list of interfaces; the first one stands for FUnknown
// (and for IPluginBase when it derives from it).
template <class... Interfaces>
class Object : public Interfaces... {
public:
    using FirstInterface = std::tuple_element_t<0, std::tuple<Interfaces...>>;

    Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    virtual ~Object() = default;

    tresult PLUGIN_API queryInterface(const TUID queried, void** object) override
    {
        if (object == nullptr) {
            return kInvalidArgument;
        }
        void* found = nullptr;
        if (FUnknownPrivate::iidEqual(queried, FUnknown::iid)) {
            found = static_cast<FUnknown*>(static_cast<FirstInterface*>(this));
        }
        if constexpr (std::is_base_of_v<IPluginBase, FirstInterface>) {
            if (found == nullptr && FUnknownPrivate::iidEqual(queried, IPluginBase::iid)) {
                found = static_cast<IPluginBase*>(static_cast<FirstInterface*>(this));
            }
        }
        ((found == nullptr && FUnknownPrivate::iidEqual(queried, Interfaces::iid)
              ? void(found = static_cast<Interfaces*>(this))
              : void()),
         ...);
        *object = found;
        if (found == nullptr) {
            return kNoInterface;
        }
        addRef();
        return kResultOk;
    }
    uint32 PLUGIN_API addRef() override { return ++mCount; }
    uint32 PLUGIN_API release() override
    {
        const uint32 count = --mCount;
        if (count == 0) {
            delete this;
        }
        return count;
    }

private:
    std::atomic<uint32> mCount{1};
};

// A pass-through effect with one input and one output bus (stereo unless told), or (instrument) an
// event input and a silent output.
template <class... Extra>
class BasicProcessor : public Object<Vst::IComponent, Vst::IAudioProcessor, Extra...> {
public:
    explicit BasicProcessor(const Uid* controller, bool instrument = false,
                            Vst::SpeakerArrangement arrangement = Vst::SpeakerArr::kStereo)
        : mController(controller), mInstrument(instrument), mArrangement(arrangement)
    {
    }

    tresult PLUGIN_API initialize(FUnknown* /*context*/) override { return kResultOk; }
    tresult PLUGIN_API terminate() override { return kResultOk; }

    tresult PLUGIN_API getControllerClassId(TUID classId) override
    {
        if (mController == nullptr) {
            return kResultFalse;
        }
        ToTUID(*mController, classId);
        return kResultOk;
    }
    tresult PLUGIN_API setIoMode(Vst::IoMode /*mode*/) override { return kResultOk; }
    int32 PLUGIN_API getBusCount(Vst::MediaType type, Vst::BusDirection dir) override
    {
        if (type == Vst::kAudio) {
            return dir == Vst::kOutput || !mInstrument ? 1 : 0;
        }
        return type == Vst::kEvent && dir == Vst::kInput && mInstrument ? 1 : 0;
    }
    tresult PLUGIN_API getBusInfo(Vst::MediaType type, Vst::BusDirection dir, int32 index,
                                  Vst::BusInfo& bus) override
    {
        if (index != 0 || getBusCount(type, dir) == 0) {
            return kInvalidArgument;
        }
        bus = {};
        bus.mediaType = type;
        bus.direction = dir;
        bus.channelCount = type == Vst::kAudio ? Vst::SpeakerArr::getChannelCount(mArrangement) : 16;
        CopyText(bus.name, type == Vst::kEvent ? "MIDI In" : dir == Vst::kInput ? "Input" : "Output");
        bus.busType = Vst::kMain;
        bus.flags = Vst::BusInfo::kDefaultActive;
        return kResultOk;
    }
    tresult PLUGIN_API getRoutingInfo(Vst::RoutingInfo& /*in*/, Vst::RoutingInfo& /*out*/) override
    {
        return kNotImplemented;
    }
    tresult PLUGIN_API activateBus(Vst::MediaType type, Vst::BusDirection dir, int32 index, TBool) override
    {
        return index == 0 && getBusCount(type, dir) == 1 ? kResultOk : kInvalidArgument;
    }
    tresult PLUGIN_API setActive(TBool /*state*/) override { return kResultOk; }
    tresult PLUGIN_API setState(IBStream* /*state*/) override { return kResultOk; }
    tresult PLUGIN_API getState(IBStream* /*state*/) override { return kResultOk; }

    tresult PLUGIN_API setBusArrangements(Vst::SpeakerArrangement* inputs, int32 numIns,
                                          Vst::SpeakerArrangement* outputs, int32 numOuts) override
    {
        const int32 wantIns = mInstrument ? 0 : 1;
        if (numIns != wantIns || numOuts != 1 || (wantIns == 1 && inputs[0] != mArrangement)
            || outputs[0] != mArrangement) {
            return kResultFalse;
        }
        return kResultOk;
    }
    tresult PLUGIN_API getBusArrangement(Vst::BusDirection dir, int32 index,
                                         Vst::SpeakerArrangement& arr) override
    {
        if (index != 0 || getBusCount(Vst::kAudio, dir) == 0) {
            return kInvalidArgument;
        }
        arr = mArrangement;
        return kResultOk;
    }
    tresult PLUGIN_API canProcessSampleSize(int32 size) override
    {
        return size == Vst::kSample32 ? kResultOk : kResultFalse;
    }
    uint32 PLUGIN_API getLatencySamples() override { return 0; }
    tresult PLUGIN_API setupProcessing(Vst::ProcessSetup& /*setup*/) override { return kResultOk; }
    tresult PLUGIN_API setProcessing(TBool /*state*/) override { return kResultOk; }
    tresult PLUGIN_API process(Vst::ProcessData& data) override
    {
        if (data.numOutputs < 1 || data.outputs[0].channelBuffers32 == nullptr) {
            return kResultOk;
        }
        const bool through = data.numInputs > 0 && data.inputs[0].channelBuffers32 != nullptr;
        for (int32 c = 0; c < data.outputs[0].numChannels; ++c) {
            float* out = data.outputs[0].channelBuffers32[c];
            const float* in = through && c < data.inputs[0].numChannels ? data.inputs[0].channelBuffers32[c] : nullptr;
            for (int32 i = 0; i < data.numSamples; ++i) {
                out[i] = in != nullptr ? in[i] : 0.0f;
            }
        }
        return kResultOk;
    }
    uint32 PLUGIN_API getTailSamples() override { return Vst::kNoTail; }

private:
    const Uid* mController;
    bool mInstrument;
    Vst::SpeakerArrangement mArrangement;
};

// An edit controller without parameters.
template <class... Extra>
class BasicController : public Object<Vst::IEditController, Extra...> {
public:
    tresult PLUGIN_API initialize(FUnknown* /*context*/) override { return kResultOk; }
    tresult PLUGIN_API terminate() override { return kResultOk; }
    tresult PLUGIN_API setComponentState(IBStream* /*state*/) override { return kResultOk; }
    tresult PLUGIN_API setState(IBStream* /*state*/) override { return kResultOk; }
    tresult PLUGIN_API getState(IBStream* /*state*/) override { return kResultOk; }
    int32 PLUGIN_API getParameterCount() override { return 0; }
    tresult PLUGIN_API getParameterInfo(int32, Vst::ParameterInfo&) override { return kInvalidArgument; }
    tresult PLUGIN_API getParamStringByValue(Vst::ParamID, Vst::ParamValue, Vst::String128) override
    {
        return kInvalidArgument;
    }
    tresult PLUGIN_API getParamValueByString(Vst::ParamID, Vst::TChar*, Vst::ParamValue&) override
    {
        return kInvalidArgument;
    }
    Vst::ParamValue PLUGIN_API normalizedParamToPlain(Vst::ParamID, Vst::ParamValue value) override { return value; }
    Vst::ParamValue PLUGIN_API plainParamToNormalized(Vst::ParamID, Vst::ParamValue value) override { return value; }
    Vst::ParamValue PLUGIN_API getParamNormalized(Vst::ParamID) override { return 0.0; }
    tresult PLUGIN_API setParamNormalized(Vst::ParamID, Vst::ParamValue) override { return kInvalidArgument; }
    tresult PLUGIN_API setComponentHandler(Vst::IComponentHandler* /*handler*/) override { return kResultOk; }
    IPlugView* PLUGIN_API createView(FIDString /*name*/) override { return nullptr; }
};

// State streams: every value is written in the machine's own (little-endian) order.
inline bool ReadExact(IBStream* stream, void* out, int32 size)
{
    int32 got = 0;
    return stream != nullptr && stream->read(out, size, &got) == kResultOk && got == size;
}
inline bool WriteExact(IBStream* stream, const void* data, int32 size)
{
    int32 put = 0;
    return stream != nullptr && stream->write(const_cast<void*>(data), size, &put) == kResultOk && put == size;
}
template <class T>
bool ReadValue(IBStream* stream, T& out)
{
    return ReadExact(stream, &out, static_cast<int32>(sizeof out));
}
template <class T>
bool WriteValue(IBStream* stream, const T& value)
{
    return WriteExact(stream, &value, static_cast<int32>(sizeof value));
}

// Reads a magic number and then the doubles into `out`; all or nothing.
template <std::size_t N>
bool ReadTaggedDoubles(IBStream* stream, std::uint32_t magic, double (&out)[N])
{
    std::uint32_t got = 0;
    double values[N];
    if (!ReadValue(stream, got) || got != magic || !ReadValue(stream, values)) {
        return false;
    }
    std::memcpy(out, values, sizeof values);
    return true;
}
template <std::size_t N>
bool WriteTaggedDoubles(IBStream* stream, std::uint32_t magic, const double (&values)[N])
{
    return WriteValue(stream, magic) && WriteValue(stream, values);
}

// One row of a controller's static parameter table. Stepped parameters have the plain values
// 0..stepCount; continuous ones plainMin..plainMax.
struct ParamDef {
    Vst::ParamID id;
    const char* title;
    const char* units;
    int32 stepCount;
    double defaultNormalized;
    int32 flags;
    Vst::UnitID unitId = Vst::kRootUnitId;
    double plainMin = 0.0;
    double plainMax = 1.0;
};

inline double ToPlain(const ParamDef& def, double normalized)
{
    return def.stepCount > 0 ? std::round(normalized * def.stepCount)
                             : def.plainMin + normalized * (def.plainMax - def.plainMin);
}
inline double ToNormalized(const ParamDef& def, double plain)
{
    const double range = def.stepCount > 0 ? def.stepCount : def.plainMax - def.plainMin;
    const double low = def.stepCount > 0 ? 0.0 : def.plainMin;
    return range > 0.0 ? std::clamp((plain - low) / range, 0.0, 1.0) : 0.0;
}

// The parameter half of an edit controller over a static table, on any base that declares
// IEditController (a controller object, or a processor that is its own controller). It keeps the
// component handler it is given.
template <class Base>
class ParameterController : public Base {
public:
    template <class... Args>
    explicit ParameterController(std::span<const ParamDef> params, Args&&... args)
        : Base(std::forward<Args>(args)...), mParams(params)
    {
        for (const ParamDef& def : params) {
            mValues.push_back(def.defaultNormalized);
        }
    }
    ~ParameterController() override { setComponentHandler(nullptr); }

    tresult PLUGIN_API setComponentState(IBStream* /*state*/) override { return kResultOk; }
    int32 PLUGIN_API getParameterCount() override { return static_cast<int32>(mParams.size()); }
    tresult PLUGIN_API getParameterInfo(int32 index, Vst::ParameterInfo& info) override
    {
        if (index < 0 || static_cast<std::size_t>(index) >= mParams.size()) {
            return kInvalidArgument;
        }
        const ParamDef& def = mParams[static_cast<std::size_t>(index)];
        info = {};
        info.id = def.id;
        CopyText(info.title, def.title);
        CopyText(info.shortTitle, def.title);
        CopyText(info.units, def.units);
        info.stepCount = def.stepCount;
        info.defaultNormalizedValue = def.defaultNormalized;
        info.unitId = def.unitId;
        info.flags = def.flags;
        return kResultOk;
    }
    // The plain value with two decimals.
    tresult PLUGIN_API getParamStringByValue(Vst::ParamID id, Vst::ParamValue value, Vst::String128 out) override
    {
        const ParamDef* def = Find(id);
        if (def == nullptr || out == nullptr) {
            return kInvalidArgument;
        }
        char text[64];
        std::snprintf(text, sizeof text, "%.2f", ToPlain(*def, value));
        for (std::size_t i = 0;; ++i) {
            out[i] = static_cast<Vst::TChar>(text[i]);
            if (text[i] == 0) {
                break;
            }
        }
        return kResultOk;
    }
    tresult PLUGIN_API getParamValueByString(Vst::ParamID id, Vst::TChar* text, Vst::ParamValue& value) override
    {
        const ParamDef* def = Find(id);
        if (def == nullptr || text == nullptr) {
            return kInvalidArgument;
        }
        char narrow[64];
        std::size_t i = 0;
        for (; text[i] != 0 && i + 1 < sizeof narrow; ++i) {
            narrow[i] = text[i] < 128 ? static_cast<char>(text[i]) : '?';
        }
        narrow[i] = 0;
        char* end = nullptr;
        const double plain = std::strtod(narrow, &end);
        if (end == narrow) {
            return kResultFalse;
        }
        value = ToNormalized(*def, plain);
        return kResultOk;
    }
    Vst::ParamValue PLUGIN_API normalizedParamToPlain(Vst::ParamID id, Vst::ParamValue value) override
    {
        const ParamDef* def = Find(id);
        return def != nullptr ? ToPlain(*def, value) : value;
    }
    Vst::ParamValue PLUGIN_API plainParamToNormalized(Vst::ParamID id, Vst::ParamValue value) override
    {
        const ParamDef* def = Find(id);
        return def != nullptr ? ToNormalized(*def, value) : value;
    }
    Vst::ParamValue PLUGIN_API getParamNormalized(Vst::ParamID id) override { return Value(id); }
    tresult PLUGIN_API setParamNormalized(Vst::ParamID id, Vst::ParamValue value) override
    {
        return SetValue(id, value) ? kResultOk : kInvalidArgument;
    }
    tresult PLUGIN_API setComponentHandler(Vst::IComponentHandler* handler) override
    {
        if (handler != nullptr) {
            handler->addRef();
        }
        if (mHandler != nullptr) {
            mHandler->release();
        }
        mHandler = handler;
        return kResultOk;
    }
    IPlugView* PLUGIN_API createView(FIDString /*name*/) override { return nullptr; }

protected:
    double Value(Vst::ParamID id) const
    {
        for (std::size_t i = 0; i < mParams.size(); ++i) {
            if (mParams[i].id == id) {
                return mValues[i];
            }
        }
        return 0.0;
    }
    bool SetValue(Vst::ParamID id, double value)
    {
        for (std::size_t i = 0; i < mParams.size(); ++i) {
            if (mParams[i].id == id) {
                mValues[i] = std::clamp(value, 0.0, 1.0);
                return true;
            }
        }
        return false;
    }
    Vst::IComponentHandler* Handler() const { return mHandler; }

private:
    const ParamDef* Find(Vst::ParamID id) const
    {
        for (const ParamDef& def : mParams) {
            if (def.id == id) {
                return &def;
            }
        }
        return nullptr;
    }

    std::span<const ParamDef> mParams;
    std::vector<double> mValues;
    Vst::IComponentHandler* mHandler = nullptr;
};

// A separate edit controller with a parameter table.
template <class... Extra>
class TableController : public ParameterController<Object<Vst::IEditController, Extra...>> {
public:
    explicit TableController(std::span<const ParamDef> params)
        : ParameterController<Object<Vst::IEditController, Extra...>>(params)
    {
    }

    tresult PLUGIN_API initialize(FUnknown* /*context*/) override { return kResultOk; }
    tresult PLUGIN_API terminate() override { return this->setComponentHandler(nullptr); }
    tresult PLUGIN_API setState(IBStream* /*state*/) override { return kResultOk; }
    tresult PLUGIN_API getState(IBStream* /*state*/) override { return kResultOk; }
};

// The queue of one parameter's changes in a process call.
inline Vst::IParamValueQueue* FindQueue(Vst::IParameterChanges* changes, Vst::ParamID id)
{
    const int32 count = changes != nullptr ? changes->getParameterCount() : 0;
    for (int32 i = 0; i < count; ++i) {
        Vst::IParamValueQueue* queue = changes->getParameterData(i);
        if (queue != nullptr && queue->getParameterId() == id) {
            return queue;
        }
    }
    return nullptr;
}

// Walks one parameter's queue through a block, so that a point's value holds from its sample offset on.
class ChangeCursor {
public:
    ChangeCursor(Vst::IParameterChanges* changes, Vst::ParamID id)
        : mQueue(FindQueue(changes, id)), mCount(mQueue != nullptr ? mQueue->getPointCount() : 0)
    {
    }

    // Applies every point at or before `sample` to `value`; true when one did.
    bool Advance(int32 sample, double& value)
    {
        bool changed = false;
        while (mNext < mCount) {
            int32 offset = 0;
            Vst::ParamValue point = 0.0;
            if (mQueue->getPoint(mNext, offset, point) != kResultOk) {
                mNext = mCount;
                break;
            }
            if (offset > sample) {
                break;
            }
            value = point;
            changed = true;
            ++mNext;
        }
        return changed;
    }
    // The rest of the block's points (those past its end, or all of them in a block without audio).
    bool Finish(double& value) { return Advance(std::numeric_limits<int32>::max(), value); }

private:
    Vst::IParamValueQueue* mQueue;
    int32 mCount;
    int32 mNext = 0;
};

struct ClassEntry {
    const Uid* cid;
    const char* category; // kVstAudioEffectClass, kVstComponentControllerClass
    const char* name;
    const char* subCategories;
    FUnknown* (*create)();
};

// The module's factory: static, so its reference count means nothing.
class Factory final : public IPluginFactory3 {
public:
    explicit Factory(std::span<const ClassEntry> classes) : mClasses(classes) {}

    tresult PLUGIN_API queryInterface(const TUID queried, void** object) override
    {
        if (object == nullptr) {
            return kInvalidArgument;
        }
        if (FUnknownPrivate::iidEqual(queried, FUnknown::iid) || FUnknownPrivate::iidEqual(queried, IPluginFactory::iid)
            || FUnknownPrivate::iidEqual(queried, IPluginFactory2::iid)
            || FUnknownPrivate::iidEqual(queried, IPluginFactory3::iid)) {
            *object = this;
            return kResultOk;
        }
        *object = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }

    tresult PLUGIN_API getFactoryInfo(PFactoryInfo* info) override
    {
        if (info == nullptr) {
            return kInvalidArgument;
        }
        *info = PFactoryInfo(kVendor, "", "", PFactoryInfo::kUnicode);
        return kResultOk;
    }
    int32 PLUGIN_API countClasses() override { return static_cast<int32>(mClasses.size()); }
    tresult PLUGIN_API getClassInfo(int32 index, PClassInfo* info) override
    {
        const ClassEntry* entry = At(index);
        if (entry == nullptr || info == nullptr) {
            return kInvalidArgument;
        }
        *info = {};
        ToTUID(*entry->cid, info->cid);
        info->cardinality = PClassInfo::kManyInstances;
        CopyText(info->category, entry->category);
        CopyText(info->name, entry->name);
        return kResultOk;
    }
    tresult PLUGIN_API getClassInfo2(int32 index, PClassInfo2* info) override { return FillClassInfo(index, info); }
    tresult PLUGIN_API getClassInfoUnicode(int32 index, PClassInfoW* info) override
    {
        return FillClassInfo(index, info);
    }
    tresult PLUGIN_API setHostContext(FUnknown* /*context*/) override { return kResultOk; }

    tresult PLUGIN_API createInstance(FIDString cid, FIDString wanted, void** object) override
    {
        if (object == nullptr) {
            return kInvalidArgument;
        }
        *object = nullptr;
        for (const ClassEntry& entry : mClasses) {
            if (SameUid(*entry.cid, cid)) {
                FUnknown* instance = entry.create();
                const tresult result = instance->queryInterface(wanted, object);
                instance->release();
                return result;
            }
        }
        return kNoInterface;
    }

private:
    // The 8-bit and the 16-bit second-generation class infos carry the same texts.
    template <class Info>
    tresult FillClassInfo(int32 index, Info* info) const
    {
        const ClassEntry* entry = At(index);
        if (entry == nullptr || info == nullptr) {
            return kInvalidArgument;
        }
        *info = {};
        ToTUID(*entry->cid, info->cid);
        info->cardinality = PClassInfo::kManyInstances;
        CopyText(info->category, entry->category);
        CopyText(info->name, entry->name);
        CopyText(info->subCategories, entry->subCategories);
        CopyText(info->vendor, kVendor);
        CopyText(info->version, "1.0.0");
        CopyText(info->sdkVersion, kVstVersionString);
        return kResultOk;
    }

    const ClassEntry* At(int32 index) const
    {
        return index >= 0 && static_cast<std::size_t>(index) < mClasses.size() ? &mClasses[static_cast<std::size_t>(index)]
                                                                                : nullptr;
    }

    std::span<const ClassEntry> mClasses;
};

template <class T>
FUnknown* Create()
{
    return static_cast<FUnknown*>(static_cast<typename T::FirstInterface*>(new T()));
}

} // namespace kafh_testplugins_vst3

// The usual entry and exit functions, accepting everything.
#define KAFH_VST3_DEFAULT_ENTRY_EXIT                                                                               \
    KAFH_VST3_EXPORT bool ModuleEntry(void*) { return true; }                                                      \
    KAFH_VST3_EXPORT bool ModuleExit() { return true; }

// GetPluginFactory over a static array of ClassEntry.
#define KAFH_VST3_FACTORY(classes)                                                                                 \
    KAFH_VST3_EXPORT Steinberg::IPluginFactory* PLUGIN_API GetPluginFactory()                                      \
    {                                                                                                              \
        static kafh_testplugins_vst3::Factory factory{std::span<const kafh_testplugins_vst3::ClassEntry>(classes)}; \
        return &factory;                                                                                           \
    }
