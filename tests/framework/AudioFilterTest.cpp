// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/framework/AudioFilter.h"

#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/framework/AudioFilterFactory.h"
#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/PropList.h"
#include "tests/support/PresetTestFilters.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <tuple>

namespace kelaudiofilterhost {
namespace {

namespace fs = std::filesystem;
using kelcore::proplist::PropList;
using namespace kelaudiofilterhost::testing;
using Bus = AudioFilterBusDescription;

TEST(AudioFilter, SignalsFollowStateParameterAndTargetChanges)
{
    boost::intrusive_ptr<DelayingGainFilter> filter =
        new DelayingGainFilter({StereoBus(), MonoBus(Bus::kSideChain)}, {StereoBus()});
    EXPECT_TRUE(filter->IsSuspended());
    EXPECT_TRUE(filter->CanUseSideChaining());
    std::ostringstream log;
    AudioFilter& f = *filter;
    // The suspended flag has changed before its signal fires.
    f.GetSuspendedStateChangedSignal().connect([&](bool s) { log << "suspended " << s << f.IsSuspended() << ';'; });
    f.GetAutomatedParameterChangeSignal().connect([&](int i, float v) { log << "automated " << i << ' ' << v << ';'; });
    f.GetEditingStateChangeSignal().connect([&](int i, bool e) { log << "editing " << i << ' ' << e << ';'; });
    f.GetTargetFormatChangedSignal().connect([&] { log << "target;"; });
    const auto dirty = filter->GetParameterDirtyCount();
    filter->Resume();
    filter->Suspend();
    filter->Suspend();
    filter->SetParameterAutomated(0, 0.25f);
    filter->SetParameter(0, 0.5f); // bumps the count, but is no automation
    filter->BeginEditing(7);
    filter->EndEditing(7);
    filter->SetChannelMapTargetChannelLayout(kelmediatypes::CreateBroadcast51ChannelLayout());
    filter->SetMainTargetBus(StereoBus());
    filter->SetSideChainTargetBus(MonoBus(Bus::kSideChain));
    EXPECT_EQ(log.str(),
              "suspended 00;suspended 11;suspended 11;automated 0 0.25;editing 7 1;editing 7 0;target;target;target;");
    EXPECT_EQ(filter->GetParameterDirtyCount(), dirty + 2);
    EXPECT_EQ(filter->GetChannelMapTargetChannelLayout(), kelmediatypes::CreateStereoChannelLayout());
    EXPECT_EQ(filter->GetSideChainTargetBusChannelCount(), 1u);
}

TEST(AudioFilterBusDescription, EqualityNeedsEverythingEquivalenceIgnoresNameAndType)
{
    const Bus stereo = Bus::CreateStereo(u"A", Bus::kMain);
    const Bus swapped(u"A", {kelmediatypes::ChannelRole::Right, kelmediatypes::ChannelRole::Left}, Bus::kMain);
    const Bus mono = Bus::CreateMono(u"A", Bus::kMain);
    // Other bus, equal, equivalent comparing layouts, equivalent comparing channel counts.
    const std::tuple<Bus, bool, bool, bool> cases[] = {
        {stereo, true, true, true}, {Bus::CreateStereo(u"B", Bus::kMain), false, true, true},
        {Bus::CreateStereo(u"A", Bus::kSideChain), false, true, true}, {swapped, false, false, true},
        {mono, false, false, false},
    };
    for (const auto& [other, equal, sameLayout, sameCount] : cases) {
        EXPECT_EQ(stereo == other, equal);
        EXPECT_EQ(stereo.IsEquivalent(other, true), sameLayout);
        EXPECT_EQ(other.IsEquivalent(stereo, false), sameCount);
    }
    // Vectors compare position by position.
    EXPECT_TRUE(AreAudioFilterBusDescriptionsEquivalent({stereo, mono}, {swapped, mono}, false));
    EXPECT_FALSE(AreAudioFilterBusDescriptionsEquivalent({stereo, mono}, {mono, stereo}, false));
}

using DescriptorPtr = boost::intrusive_ptr<AudioFilterDescriptor>;
using FilterPtr = boost::intrusive_ptr<AudioFilter>;

// Every test uses identifiers and GUIDs of its own: the factory and the descriptor manager are process-wide.
kelcore::Guid TestGuid(std::uint16_t n)
{
    return kelcore::Guid(0x7E570000, n, 0x1000, 1, 2, 3, 4, 5, 6, 7, 8);
}

// A creation function that records the identifiers it is asked for; its filters carry the given name.
AudioFilterCreationFunction Recording(std::vector<UTF16String>& requested, const UTF16String& name)
{
    return [&requested, name](const UTF16String& id) -> FilterPtr {
        requested.push_back(id);
        return new AudioFilter(id, name);
    };
}

DescriptorPtr Internal(const UTF16String& id, std::uint16_t guid)
{
    return new AudioFilterDescriptor(u"Internal " + id, 1, Effect, id, TestGuid(guid), false);
}

void AddPlugin(const UTF16String& id, const UTF16String& path)
{
    AudioFilterDescriptorManager::GetInstance().AddAudioFilterDescriptor(
        new AudioFilterDescriptor(PluginLocator(VST, path), u"Plug-in", u"Vendor", 1, Effect, id, TestGuid(10), false));
}

TEST(AudioFilterFactory, IdentifiersFindEnabledDescriptorsWithPrefixesAndRenamedModules)
{
    static std::vector<UTF16String> requested;
    AudioFilterFactory::GetInstance().RegisterFactoryFunction(TestGuid(10), Recording(requested, u"first"));
    AddPlugin(u"2:1234 Reverb", u"/plugins/Reverb.so");
    AddPlugin(u"4:legacy", u"/plugins/Legacy.so");
    AddPlugin(u"2:77 Off", u"/plugins/Off.so");
    AddPlugin(u"2:78 Unknown", u"/plugins/NotCatalogued.so");
    auto disabled = Internal(u"test.disabled", 10);
    disabled->SetEnabled(false);
    AudioFilterDescriptorManager::GetInstance().AddAudioFilterDescriptor(disabled);
    const PluginLocator off(VST, u"/plugins/Off.so");
    auto& catalogue = PluginModuleInfoManager::GetInstance();
    catalogue.AddPluginModuleInfo(new PluginModuleInfo(off, u"Off", u"V", 1, VST, true, false));
    catalogue.SetPluginEnabled(off, false);
    // Identifier asked for, identifier the creation function receives (empty: refused).
    const std::pair<UTF16String, UTF16String> cases[] = {
        {u"2:1234 Reverb", u"2:1234 Reverb"},
        {u"1234 Reverb", u"2:1234 Reverb"},          // stored with a prefix, asked without
        {u"2:1234 ReverbRenamed", u"2:1234 Reverb"}, // module file renamed: found by effect number
        {u"legacy", u"4:legacy"},
        {u"2:78 Unknown", u"2:78 Unknown"}, // a module the catalogue does not know counts as enabled
        {u"2:77 Off", u""}, {u"test.disabled", u""}, {u"", u""}, {u"2:", u""}, {u"2:999 Reverb", u""},
        {u"2:12345 Reverb", u""}, {u"3:{00000000}", u""}, {u" ", u""}, {u"2: x", u""},
    };
    for (const auto& [asked, created] : cases) {
        requested.clear();
        EXPECT_EQ(bool(utility::CreateAudioFilter(asked)), !created.empty()) << kelcore::UTF16to8(asked);
        EXPECT_EQ(requested, created.empty() ? std::vector<UTF16String>{} : std::vector{created});
    }
    catalogue.SetPluginEnabled(off, true);
    EXPECT_TRUE(utility::CreateAudioFilter(u"2:77 Off"));
}

TEST(AudioFilterFactory, AnnouncedFiltersRegisterOnceAndTheFirstFunctionPerGuidWins)
{
    static std::vector<UTF16String> first, second;
    static AudioFilterRegistrar a([] { return Internal(u"test.same.a", 30); }, Recording(first, u"a"));
    static AudioFilterRegistrar b([] { return Internal(u"test.same.b", 30); }, Recording(second, u"b"));
    static AudioFilterRegistrar noDescriptor([] { return DescriptorPtr(); }, Recording(second, u"none"));
    static AudioFilterRegistrar nullFilter([] { return Internal(u"test.null", 31); },
                                           [](const UTF16String&) { return FilterPtr(); });
    static AudioFilterRegistrar throwing([] { return Internal(u"test.throws", 32); },
                                         [](const UTF16String&) -> FilterPtr { throw std::runtime_error("failed"); });
    const auto& manager = AudioFilterDescriptorManager::GetInstance();
    auto listed = [&] {
        return std::count_if(manager.InfoBegin(), manager.InfoEnd(),
                             [](const auto& d) { return d->GetUniqueID() == u"test.same.b"; });
    };
    Terminate(); // another test may have initialised before these registrars existed
    ASSERT_TRUE(Initialize());
    const auto registered = listed();
    ASSERT_TRUE(Initialize()); // a second call registers nothing again
    EXPECT_EQ(listed(), registered);

    auto filter = utility::CreateAudioFilter(u"test.same.b");
    ASSERT_TRUE(filter);
    EXPECT_EQ(filter->GetDisplayName(), u"a"); // the first function registered for the GUID
    EXPECT_EQ(filter->GetRefCount(), 1);
    EXPECT_FALSE(utility::CreateAudioFilter(u"test.null"));
    // An internal filter's exception is the application's own and reaches it unchanged.
    EXPECT_THROW(utility::CreateAudioFilter(u"test.throws"), std::runtime_error);
    // A descriptor whose factory has no function.
    AudioFilterDescriptorManager::GetInstance().AddAudioFilterDescriptor(Internal(u"test.orphan", 33));
    EXPECT_FALSE(utility::CreateAudioFilter(u"test.orphan"));
    EXPECT_FALSE(AudioFilterFactory::GetInstance().CreateAudioFilter(u"test.orphan"));
}

// Makes the component known to the process-wide factory (the first registration per GUID stays) and creates it.
template <typename T> boost::intrusive_ptr<T> Create(const UTF16String& id, std::uint16_t guid)
{
    AudioFilterDescriptorManager::GetInstance().AddAudioFilterDescriptor(Internal(id, guid));
    AudioFilterFactory::GetInstance().RegisterFactoryFunction(
        TestGuid(guid), [](const UTF16String& componentID) -> FilterPtr { return new T(componentID); });
    return boost::dynamic_pointer_cast<T>(utility::CreateAudioFilter(id));
}

// Changes the original, saves its settings over a stale record into a project file in a fresh
// directory, reads that back as an application would and loads it into a new filter; that one and
// a clone must then run bit-identically to the original.
template <typename T> boost::intrusive_ptr<T> RoundTrip(T& original, const std::function<void()>& change)
{
    const auto defaults = RunStereo(original, 1000);
    change();
    const auto expected = RunStereo(original, 1000);
    EXPECT_FALSE(BitIdentical(expected, defaults));

    std::string pattern = (fs::temp_directory_path() / "kafh-settings-XXXXXX").string();
    const fs::path dir = ::mkdtemp(pattern.data());
    const fs::path path = dir / "project.xml";
    kelcore::filesupport::File file(path);
    PropList saved, loaded;
    saved.SetValue("Leftover", true);
    PresetData preset(saved);
    original.SaveSettings(preset);
    EXPECT_FALSE(saved.HasValue("Leftover"));
    EXPECT_EQ(saved.HasValue("ChunkData"), original.DoPresetsUseChunkData());
    EXPECT_EQ(saved.HasValue("ParamList"), !original.DoPresetsUseChunkData());
    EXPECT_TRUE(kelcore::proplist::utils::SavePropList(file, saved));
    EXPECT_TRUE(kelcore::proplist::utils::LoadPropList(kelcore::UTF8to16(path.string()), loaded, false));
    std::error_code error;
    fs::remove_all(dir, error);
    EXPECT_EQ(loaded, saved);

    boost::intrusive_ptr<T> restored(new T);
    EXPECT_TRUE(restored->LoadSettings(PresetData(loaded)));
    EXPECT_TRUE(BitIdentical(RunStereo(*restored, 1000), expected));
    const auto clone = original.Clone();
    EXPECT_TRUE(clone && BitIdentical(RunStereo(*clone, 1000), expected));
    return restored;
}

TEST(AudioFilterSettings, ParameterAndChunkFiltersRestoreBitIdenticallyFromAFile)
{
    auto parameters = Create<ParameterTestFilter>(u"test.settings.parameters", 1);
    auto chunk = Create<ChunkTestFilter>(u"test.settings.chunk", 2);
    ASSERT_TRUE(parameters && chunk);
    RoundTrip(*chunk, [&] {
        chunk->SetParameter(0, 0.0625f);
        chunk->SetParameter(1, 3.75f);
        chunk->SetMode(2); // reachable through the chunk only
    });
    auto restored = RoundTrip(*parameters, [&] {
        for (int index = 0; const float value : {0.123456789f, -3.0e-7f, 1.0f / 3.0f, -2.5f}) {
            parameters->SetParameter(index++, value);
        }
    });
    EXPECT_EQ(restored->GetSetWhileLoading(), std::vector<bool>(4, true)); // all under the loading flag

    // A shorter list sets only the leading parameters, each through automation.
    std::vector<std::pair<int, float>> signalled;
    restored->GetAutomatedParameterChangeSignal().connect([&](int i, float v) { signalled.emplace_back(i, v); });
    PropList list;
    PresetData preset(list);
    preset.SetVersion(1.0f);
    preset.SetParamList({0.1f, 0.2f});
    ASSERT_TRUE(restored->LoadSettings(preset));
    EXPECT_EQ(signalled, (std::vector<std::pair<int, float>>{{0, 0.1f}, {1, 0.2f}}));
    EXPECT_EQ(restored->GetParameter(3), -2.5f);
}

// A valid record of another state, damaged, must leave the filter as it was. A chunk record counts as
// loaded whatever the filter makes of the chunk; a missing or unreadable parameter list reads as empty.
TEST(AudioFilterSettings, DamagedRecordsChangeNothing)
{
    auto set = [](const char* key, auto value) { return [=](PropList& l) { l.SetValue(key, value); }; };
    const char otherMagic[8] = {'O', 'T', 'H', 'E', 'R', 'C', 'M', 'P'};
    const auto other = ChunkTestFilter::MakeChunk(otherMagic, 2, {0.5f, 2.0f}, 1);
    // Chunk filter (or parameter filter), damage, whether the load reports success, trace expected.
    const std::vector<std::tuple<bool, std::function<void(PropList&)>, bool, const char*>> cases = {
        {false, set("Version", 2.0f), false, "record version 2, expected 1"},
        {false, set("Type", std::int32_t{7}), false, "unknown record type 7"},
        {false, set("Type", std::int32_t{1}), false, "chunk record for a filter"},
        {false, set("Type", std::int32_t{3}), false, nullptr},
        {false, set("ParamList", std::list<float>(5, 0.0f)), false, "5 values for 4 parameters"},
        {false, [](PropList& l) { l.RemoveValue("ParamList"); }, true, "no readable \"ParamList\""},
        {false, set("ParamList", "0.1 0.2"), true, "no readable \"ParamList\""},
        {true, set("ChunkData", "%%%%"), true, "chunk refused"},
        {true, [&](PropList& l) { PresetData(l).SetChunkData(other.data(), static_cast<unsigned>(other.size())); },
         true, "chunk refused"},
        {true, set("Type", std::int32_t{0}), false, "parameter record for a filter that stores chunks"},
        {true, set("Version", 0.5f), false, "record version 0.5"},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto& [chunk, damage, loads, traced] = cases[i];
        auto make = [chunk = chunk] {
            return chunk ? boost::intrusive_ptr<AudioFilter>(new ChunkTestFilter) : new ParameterTestFilter;
        };
        auto donor = make(), filter = make();
        donor->SetParameter(0, 0.9f);
        const auto before = RunStereo(*filter, 300);
        const auto dirtyBefore = filter->GetParameterDirtyCount();
        PropList list;
        PresetData preset(list);
        donor->SaveSettings(preset);
        damage(list);

        TraceCapture trace;
        EXPECT_EQ(filter->LoadSettings(preset), loads) << i;
        EXPECT_FALSE(filter->IsLoadingSettings()) << i;
        EXPECT_TRUE(BitIdentical(RunStereo(*filter, 300), before)) << i;
        EXPECT_EQ(filter->GetParameterDirtyCount(), dirtyBefore) << i;
        EXPECT_TRUE(!traced || trace.Contains(traced)) << i;
    }
}

// A plug-in may report a non-finite value; its settings must load again, here and into a clone: the
// finite values are set in order, each non-finite one is skipped and traced.
TEST(AudioFilterSettings, NonFiniteValuesAreSkippedAndTheRestLoads)
{
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    auto original = Create<ParameterTestFilter>(u"test.settings.non-finite", 4);
    ASSERT_TRUE(original);
    for (int index = 0; const float value : {0.25f, nan, 3.0f, -inf}) {
        original->SetParameter(index++, value);
    }
    PropList list;
    PresetData preset(list);
    original->SaveSettings(preset);

    boost::intrusive_ptr<ParameterTestFilter> restored(new ParameterTestFilter);
    std::vector<std::pair<int, float>> signalled;
    restored->GetAutomatedParameterChangeSignal().connect([&](int i, float v) { signalled.emplace_back(i, v); });
    TraceCapture trace;
    EXPECT_TRUE(restored->LoadSettings(preset));
    EXPECT_EQ(signalled, (std::vector<std::pair<int, float>>{{0, 0.25f}, {2, 3.0f}}));
    EXPECT_EQ(restored->GetParameter(1), 0.0f); // defaults kept
    EXPECT_EQ(restored->GetParameter(3), 1.0f);
    EXPECT_TRUE(trace.Contains("\"test.presets.parameters\": parameter 1 is not finite"));
    EXPECT_TRUE(trace.Contains("parameter 3 is not finite"));

    auto clone = boost::dynamic_pointer_cast<ParameterTestFilter>(original->Clone());
    ASSERT_TRUE(clone);
    EXPECT_FALSE(trace.Contains("did not take the settings"));
    EXPECT_EQ(clone->GetParameter(0), 0.25f);
    EXPECT_EQ(clone->GetParameter(2), 3.0f);
}

TEST(AudioFilterSettings, FactoryPresetsAreListedAndAppliedByName)
{
    boost::intrusive_ptr<ParameterTestFilter> filter(new ParameterTestFilter);
    filter->SetFactoryNames({u"Warm", u"", u"Bright", u"Warm"});
    PropList storage;
    PresetList list(storage);
    ASSERT_TRUE(list.AppendPreset(u"Old"));
    filter->GetFactoryDefaultPresets(list);
    std::set<UTF16String> names;
    list.GetPresetNames(names);
    EXPECT_EQ(names, (std::set<UTF16String>{u"Bright", u"Warm"}));
    auto warm = list.GetPreset(u"Warm");
    ASSERT_TRUE(warm);
    EXPECT_EQ(warm->GetPresetType(), PresetData::FactoryReferencePreset);
    EXPECT_EQ(warm->GetFactoryPresetName(), u"Warm");
    // A name that occurs twice applies both programs, in ascending order.
    EXPECT_TRUE(filter->LoadSettings(*warm));
    EXPECT_EQ(filter->GetAppliedFactoryPresets(), (std::vector<int>{0, 3}));

    // Names match exactly.
    TraceCapture trace;
    warm->SetFactoryPresetName(u"warm");
    EXPECT_FALSE(filter->LoadSettings(*warm));
    EXPECT_TRUE(trace.Contains("no factory program \"warm\""));
    EXPECT_EQ(filter->GetAppliedFactoryPresets(), (std::vector<int>{0, 3}));
}

TEST(AudioFilterClone, CopiesStateAndConfigurationButStaysIndependent)
{
    auto original = Create<ParameterTestFilter>(u"test.clone.parameters", 3);
    ASSERT_TRUE(original);
    original->RequestIOConfiguration({kelmediatypes::CreateMonoChannelLayout()},
                                     {kelmediatypes::CreateMonoChannelLayout()});
    original->SetSampleRate(48000.0f);
    original->SetParameter(0, 0.3f);
    original->SetParameter(1, 0.01f);
    original->SetParameter(2, -1.5f);
    original->SetPresetNameAndDirtyState({u"My preset", true});
    original->SetChannelMap({{0, 1}}, true);
    original->SetChannelMap({{0, 0}}, false);
    original->SetMainTargetBus(StereoBus());
    original->SetSideChainTargetBus(MonoBus(Bus::kSideChain));
    original->SetUseChannelMap(true);
    original->SetBlockSize(64);
    original->Resume();

    auto clone = boost::dynamic_pointer_cast<ParameterTestFilter>(original->Clone());
    ASSERT_TRUE(clone);
    EXPECT_TRUE(clone->IsSuspended());
    EXPECT_EQ(clone->GetSampleRate(), 48000.0f);
    EXPECT_EQ(clone->GetNumberOfInputChannels(), 1u);
    EXPECT_EQ(clone->GetPresetNameAndDirtyState(), original->GetPresetNameAndDirtyState());
    EXPECT_EQ(clone->GetSideChainTargetBus(), original->GetSideChainTargetBus());

    // Both run the same signal to the same samples through the copied maps: target input 1 feeds the filter.
    clone->SetBlockSize(64);
    clone->Resume();
    const auto expected = RunMapped(*original, 3, 2, 500, {64, 17});
    EXPECT_TRUE(BitIdentical(RunMapped(*clone, 3, 2, 500, {64, 17}), expected));
    EXPECT_EQ(expected[0][10], (TestSample(1, 10) * 0.3f + 0.01f) * -1.5f);

    // Later changes to either side stay on that side.
    original->SetParameter(0, 0.9f);
    original->SetChannelMap({{0, 0}}, true);
    EXPECT_TRUE(BitIdentical(RunMapped(*clone, 3, 2, 500, {64, 17}), expected));
    clone->SetParameter(2, 4.0f);
    EXPECT_EQ(original->GetParameter(2), -1.5f);

    // A component the factory cannot create gives no clone.
    boost::intrusive_ptr<AudioFilter> stranger(new ParameterTestFilter(u"test.clone.never-registered"));
    TraceCapture trace;
    EXPECT_FALSE(stranger->Clone());
    EXPECT_TRUE(trace.Contains("\"test.clone.never-registered\": the component cannot be created"));
}

// Records the sample rate and block size it had when each configuration call reached it.
class ContextRecordingFilter : public ParameterTestFilter {
public:
    using ParameterTestFilter::ParameterTestFilter;
    void RequestIOConfiguration(const std::vector<std::vector<AudioChannelDescription>>& inputs,
                                const std::vector<std::vector<AudioChannelDescription>>& outputs) override
    {
        mSeen.emplace_back("I/O configuration", GetSampleRate(), GetBlockSize());
        ParameterTestFilter::RequestIOConfiguration(inputs, outputs);
    }
    void SetParameter(int index, float value) override
    {
        mSeen.emplace_back("parameter", GetSampleRate(), GetBlockSize());
        ParameterTestFilter::SetParameter(index, value);
    }
    std::vector<std::tuple<std::string, float, int>> mSeen;
};

// Some plug-ins assert on a sample rate of 0: a clone knows the original's context before its first call.
TEST(AudioFilterClone, EveryCallReachesTheCloneWithTheOriginalsRateAndBlockSize)
{
    auto original = Create<ContextRecordingFilter>(u"test.clone.context", 5);
    ASSERT_TRUE(original);
    original->SetSampleRate(96000.0f);
    original->SetBlockSize(48);
    original->SetParameter(1, 0.5f);
    auto clone = boost::dynamic_pointer_cast<ContextRecordingFilter>(original->Clone());
    ASSERT_TRUE(clone);
    EXPECT_EQ(clone->GetBlockSize(), 48);
    ASSERT_EQ(clone->mSeen.size(), 5u);
    for (const auto& [call, rate, block] : clone->mSeen) {
        EXPECT_EQ(std::make_pair(rate, block), std::make_pair(96000.0f, 48)) << call;
    }
    EXPECT_EQ(std::get<0>(clone->mSeen.front()), "I/O configuration");
}

} // namespace
} // namespace kelaudiofilterhost
