// SPDX-License-Identifier: GPL-3.0-or-later
#include "CatalogueTestSupport.h"

#include <gtest/gtest.h>

#include <optional>

using namespace kelaudiofilterhost;
using namespace kelaudiofilterhost::testing;
using kelcore::proplist::PropList;
using Texts = std::vector<UTF16String>;

namespace {

/// count modules with two descriptors each (the second a disabled synth); every third module a disabled shell.
void Fill(PluginModuleInfoManager& catalogue, int count)
{
    const kelcore::Guid guid(0xCAFE0001, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10});
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        const PluginLocator locator(VST, kelcore::UTF8to16("/plugins/m" + n + ".so"));
        catalogue.AddPluginModuleInfo(
            new PluginModuleInfo(locator, kelcore::UTF8to16("Module " + n), u"Vendor", 3, VST, i % 3 != 0, i % 3 == 0));
        for (int j = 0; j < 2; ++j) {
            const UTF16String id = kelcore::UTF8to16("2:" + std::to_string(i * 2 + j) + " m" + n);
            boost::intrusive_ptr<AudioFilterDescriptor> descriptor(new AudioFilterDescriptor(
                locator, u"Filter " + id, u"Vendor", 1, j ? Vst3EQ : Effect, id, guid, j == 1));
            descriptor->SetEnabled(j == 0);
            AudioFilterDescriptorManager::GetInstance().AddAudioFilterDescriptor(descriptor);
        }
    }
}

std::size_t ExternalDescriptorCount()
{
    const auto& manager = AudioFilterDescriptorManager::GetInstance();
    return static_cast<std::size_t>(
        std::count_if(manager.InfoBegin(), manager.InfoEnd(), [](const auto& d) { return !d->IsInternal(); }));
}

std::string Module(const std::string& key, const std::string& locator, const std::string& name)
{
    return List(key, Value("locator", "string", locator) + Value("name", "string", name));
}

} // namespace

TEST(ModuleCatalogue, RoundTripsTechnologiesModulesAndDescriptors)
{
    TempDir dir;
    PluginModuleInfoManager& catalogue = FreshCatalogue();
    catalogue.GetPluginTechnology(VST)->AddPluginDirectories({u"/x/vst", u"/y/vst"});
    catalogue.GetPluginTechnology(VST3)->AddPluginDirectories({u"/z"});
    Fill(catalogue, 300);
    const PluginLocator m1(VST, u"/plugins/m1.so"), m3(VST, u"/plugins/m3.so"), unknown(VST, u"/new.so");
    catalogue.SetPluginEnabled(m1, false);
    catalogue.SetPluginEnabled(m3, true);
    const UTF8String before = catalogue.GetConfigurationAsXML();
    kelcore::filesupport::File file(dir.Path() / "AudioPluginManagerSettings.xml");
    ASSERT_TRUE(catalogue.SaveConfiguration(file, true));

    // The application's own descriptors replace all others; the file's identifiers they hold are dropped.
    ASSERT_TRUE(FreshCatalogue().SetPrivatePluginConfiguration(Document(
        Value("num_descriptors", "int32", "1") +
        List("descriptor0", Value("id", "string", "2:0 m0") + Value("locator", "string", "2:/private.so")))));
    int signals = 0;
    boost::signals2::scoped_connection counting = catalogue.GetPluginInfosChangedSignal().connect([&] { ++signals; });
    ASSERT_TRUE(catalogue.LoadConfiguration(file));
    EXPECT_TRUE(signals == 1 && ExternalDescriptorCount() == 600u);
    const auto& descriptors = AudioFilterDescriptorManager::GetInstance();
    EXPECT_EQ(descriptors.GetComponentDescriptorForID(u"2:0 m0")->GetLocator().GetPath(), u"/private.so");
    EXPECT_TRUE(!catalogue.IsPluginEnabled(m1, true) && catalogue.IsPluginEnabled(m3, true));
    // The flag answers, negated, only for modules the catalogue does not know.
    EXPECT_TRUE(catalogue.IsPluginEnabled(unknown, false) && !catalogue.IsPluginEnabled(unknown, true));

    ASSERT_TRUE(FreshCatalogue().LoadConfiguration(file));
    EXPECT_EQ(catalogue.GetConfigurationAsXML(), before);
}

TEST(ModuleCatalogue, BadFilesGiveDefinedResults)
{
    const std::string v2 = Value("version", "uint32", "2"), huge = "2147483647";
    const auto infos = [](const std::string& count) { return Value("num_plugin_infos", "int32", count); };
    const Texts defaults{u"/default"}, current{u"/current"}; // the test technologies' defaults
    struct Case {
        std::optional<std::string> text;
        bool loaded;
        bool incomplete; // records left unread, so the next save would drop them
        Texts modules, vstDirectories;
        std::size_t descriptors; // besides the private one
        const char* traced;
    } const cases[] = {
        {std::nullopt, false, false, {}, defaults, 0, "missing"},                  // no file, no trace
        {Document(v2).substr(0, 60), false, true, {}, defaults, 0, "malformed"}, // truncated
        {Document(Value("version", "uint32", "1") + infos("1") + Module("plugin_info0", "2:/g", "g")), false, true, {},
         defaults, 0, "version 1 is not 2"},
        {Document(v2 + infos(huge) + Module("plugin_info0", "2:/h0", "h0") + Module("plugin_info1", "2:/h1", "h1") +
                  Value("num_descriptors", "int32", huge) + List("descriptor0", Value("id", "string", "2:0 h")) +
                  List("descriptor1", Value("id", "string", "2:1 h"))),
         true, false, {u"h0", u"h1"}, current, 2, "2147483647"},
        {Document(v2 + infos("-5") + Module("plugin_info0", "2:/g", "g")), true, true, {}, current, 0, "-5"},
        {Document(v2 + infos("3") + Module("plugin_info0", "2:/a", "a") + Module("plugin_info1", "2:/b", "b") +
                  Module("plugin_info2", "2:/x/../a", "a later")),
         true, false, {u"b", u"a later"}, current, 0, "the later record wins"},
        {Document(v2 + infos("3") + List("plugin_info0", Value("locator", "string", "2:/w") + Value("name", "int32", "5")) +
                  Module("plugin_info01", "2:/z", "z") + Value("plugin_info2", "string", "") +
                  Module("plugin_info3", "2:/y", "y")),
         true, true, {u""}, current, 0, "not a record"},
        {Document(v2 + Value("num_tech_infos", "int32", "2") +
                  List("tech_info0", Value("tech_type", "int32", "2") + Value("num_directories", "int32", "3") +
                                         Value("directories0", "string", "/n1") + Value("directories1", "string", "") +
                                         Value("directories2", "string", "/n2")) +
                  List("tech_info1", Value("tech_type", "int32", "42"))),
         true, false, {}, {u"/n1", u"/n2"}, 0, "no technology 42"},
        // Directories and descriptors past their counts are not read, and that is told.
        {Document(v2 + Value("num_tech_infos", "int32", "1") +
                  List("tech_info0", Value("tech_type", "int32", "2") + Value("num_directories", "int32", "1") +
                                         Value("directories0", "string", "/n1") + Value("directories1", "string", "/n2"))),
         true, true, {}, {u"/n1"}, 0, "past its counts"},
        {Document(v2 + Value("num_descriptors", "int32", "1") + List("descriptor0", Value("id", "string", "2:0 d")) +
                  List("descriptor1", Value("id", "string", "2:1 d"))),
         true, true, {}, current, 1, "past its counts"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        PluginModuleInfoManager& catalogue = FreshCatalogue();
        catalogue.GetPluginTechnology(VST)->AddPluginDirectories(current);
        ASSERT_TRUE(catalogue.SetPrivatePluginConfiguration(Document(
            Value("num_descriptors", "int32", "1") + List("descriptor0", Value("id", "string", "private:1")))));
        if (c.text) {
            dir.Write("AudioPluginManagerSettings.xml", *c.text);
        }
        TraceCapture trace;
        kelcore::filesupport::File file(dir.Path() / "AudioPluginManagerSettings.xml");
        EXPECT_EQ(catalogue.LoadConfiguration(file), c.loaded) << c.traced;
        EXPECT_EQ(catalogue.WasReadIncompletely(), c.incomplete) << c.traced;
        Texts names;
        std::transform(catalogue.PluginInfoBegin(), catalogue.PluginInfoEnd(), std::back_inserter(names),
                       [](const auto& info) { return info->GetName(); });
        EXPECT_EQ(names, c.modules) << c.traced;
        const PluginTechnology& vst = *catalogue.GetPluginTechnology(VST);
        EXPECT_EQ(Texts(vst.DirectoryBegin(), vst.DirectoryEnd()), c.vstDirectories) << c.traced;
        EXPECT_EQ(ExternalDescriptorCount(), c.descriptors + 1) << c.traced;
        EXPECT_TRUE(!c.text || trace.Contains(c.traced)) << c.traced;
    }
    TraceCapture trace;
    EXPECT_FALSE(FreshCatalogue().SetPrivatePluginConfiguration("<proplist"));
    EXPECT_FALSE(FreshCatalogue().AddConfiguration("<proplist", true));
    EXPECT_TRUE(trace.Contains("malformed"));
}

TEST(ModuleCatalogue, CollectsNewAndVanishedModules)
{
    TempDir dir;
    for (const char* file : {"vst/a.so", "vst/sub/b.so", "vst/c.txt", "vst3/X.vst3/Contents/x86_64-linux/X.so"}) {
        dir.Write(file);
    }
    fs::create_directory_symlink(dir.Path() / "vst" / "sub", dir.Path() / "vst3" / "link");
    PluginModuleInfoManager& catalogue = FreshCatalogue();
    catalogue.GetPluginTechnology(VST)->AddPluginDirectories({dir.Text("vst")});
    catalogue.GetPluginTechnology(VST3)->AddPluginDirectories({dir.Text("vst3")});
    const PluginLocator a(VST, dir.Text("vst/a.so")), b(VST, dir.Text("vst/sub/b.so"));
    const PluginLocator x(VST3, dir.Text("vst3/X.vst3"));
    const PluginLocator gone(VST, u"/plugins/m0.so"); // known, but no longer on disk
    catalogue.AddPluginModuleInfo(new PluginModuleInfo(a, u"a", u"Vendor", 1, VST, true, false));
    Fill(catalogue, 1);
    std::vector<PluginLocator> removed{a};
    EXPECT_EQ(catalogue.CollectPotentialPlugins(false, removed), (std::vector<PluginLocator>{a, b, x}));
    EXPECT_TRUE(removed.empty());
    EXPECT_EQ(catalogue.CollectPotentialPlugins(true, removed), (std::vector<PluginLocator>{b, x}));
    EXPECT_EQ(removed, std::vector<PluginLocator>{gone});

    catalogue.GetPluginTechnology(VST)->RemoveAllPluginDirectories();
    catalogue.GetPluginTechnology(VST3)->RemoveAllPluginDirectories();
    EXPECT_TRUE(catalogue.CollectPotentialPlugins(true, removed).empty());
    EXPECT_EQ(removed, (std::vector<PluginLocator>{gone, a}));
}
