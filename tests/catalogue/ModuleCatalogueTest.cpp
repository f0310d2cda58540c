// SPDX-License-Identifier: GPL-3.0-or-later
#include "CatalogueTestSupport.h"

#include "kelaudiofilterhost/services/File.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <optional>
#include <thread>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kelaudiofilterhost;
using namespace kelaudiofilterhost::testing;
using kelcore::proplist::PropList;
using Texts = std::vector<UTF16String>;

namespace {

const kelcore::Guid kGuid(0xCAFE0001, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10});

UTF16String Number(int i)
{
    return kelcore::NumberToString(static_cast<std::int32_t>(i));
}

boost::intrusive_ptr<PluginModuleInfo> Info(const UTF16String& path, const UTF16String& name = u"m", bool enabled = true)
{
    return new PluginModuleInfo(PluginLocator(VST, path), name, u"Vendor", 3, VST, enabled, false);
}

boost::intrusive_ptr<AudioFilterDescriptor> Descriptor(const UTF16String& path, const UTF16String& id)
{
    return new AudioFilterDescriptor(PluginLocator(VST, path), u"Filter " + id, u"Vendor", 1, Effect, id, kGuid, false);
}

/// count modules with two descriptors each; every third module disabled.
void Fill(PluginModuleInfoManager& catalogue, int count)
{
    for (int i = 0; i < count; ++i) {
        const UTF16String path = u"/plugins/m" + Number(i) + u".so";
        catalogue.AddPluginModuleInfo(Info(path, u"Module " + Number(i), i % 3 != 0));
        for (int j = 0; j < 2; ++j) {
            AudioFilterDescriptorManager::GetInstance().AddAudioFilterDescriptor(
                Descriptor(path, u"2:" + Number(i * 2 + j) + u" m" + Number(i)));
        }
    }
}

Texts ModuleNames(const PluginModuleInfoManager& catalogue)
{
    Texts names;
    for (auto it = catalogue.PluginInfoBegin(); it != catalogue.PluginInfoEnd(); ++it) {
        names.push_back((*it)->GetName());
    }
    return names;
}

std::size_t ExternalDescriptorCount()
{
    const auto& manager = AudioFilterDescriptorManager::GetInstance();
    return static_cast<std::size_t>(std::count_if(manager.InfoBegin(), manager.InfoEnd(),
                                                  [](const auto& d) { return !d->IsInternal(); }));
}

// Property-list XML written by hand, so that files can hold what the writer never produces.
std::string Value(const std::string& key, const char* type, const std::string& data)
{
    return "<value key=\"" + key + "\" type=\"" + type + "\" data=\"" + data + "\"/>";
}

std::string List(const std::string& key, const std::string& content)
{
    return "<list key=\"" + key + "\">" + content + "</list>";
}

std::string Document(const std::string& content)
{
    return "<?xml version=\"1.0\"?><proplist>" + content + "</proplist>";
}

std::string Count(const char* key, std::int64_t count)
{
    return Value(key, "int32", std::to_string(count));
}

std::string Module(const std::string& key, const std::string& locator, const std::string& name)
{
    return List(key, Value("locator", "string", locator) + Value("name", "string", name));
}

std::string PrivateConfiguration(const std::string& id)
{
    return Document(Count("num_descriptors", 1) +
                    List("descriptor0", Value("id", "string", id) + Value("locator", "string", "2:/private.so")));
}

std::int32_t StoredModuleCount(const fs::path& file)
{
    PropList list;
    std::int32_t count = -1;
    if (kelcore::proplist::utils::LoadPropList(kelcore::filesupport::FromPath(file), list, false)) {
        list.GetValue("num_plugin_infos", count);
    }
    return count;
}

} // namespace

TEST(ModuleCatalogue, RoundTripsTechnologiesModulesAndDescriptors)
{
    TempDir dir;
    PluginModuleInfoManager& catalogue = FreshCatalogue();
    catalogue.GetPluginTechnology(VST)->AddPluginDirectories({u"/x/vst", u"/y/vst"});
    catalogue.GetPluginTechnology(VST3)->AddPluginDirectories({u"/z"});
    Fill(catalogue, 300);
    catalogue.SetPluginEnabled(PluginLocator(VST, u"/plugins/m1.so"), false);
    catalogue.SetPluginEnabled(PluginLocator(VST, u"/plugins/m3.so"), true);
    const UTF8String before = catalogue.GetConfigurationAsXML();
    kelcore::filesupport::File file(dir.Path() / "AudioPluginManagerSettings.xml");
    ASSERT_TRUE(catalogue.SaveConfiguration(file, true));

    // The application's own descriptors replace all others; the file's identifiers they hold are dropped.
    FreshCatalogue();
    ASSERT_TRUE(catalogue.SetPrivatePluginConfiguration(PrivateConfiguration("2:0 m0")));
    int signals = 0;
    {
        const boost::signals2::scoped_connection counting =
            catalogue.GetPluginInfosChangedSignal().connect([&signals] { ++signals; });
        ASSERT_TRUE(catalogue.LoadConfiguration(file));
    }
    EXPECT_EQ(signals, 1);
    EXPECT_EQ(ExternalDescriptorCount(), 600u);
    EXPECT_EQ(AudioFilterDescriptorManager::GetInstance().GetComponentDescriptorForID(u"2:0 m0")->GetLocator().GetPath(),
              u"/private.so");
    EXPECT_FALSE(catalogue.IsPluginEnabled(PluginLocator(VST, u"/plugins/m1.so"), true));
    EXPECT_TRUE(catalogue.IsPluginEnabled(PluginLocator(VST, u"/plugins/m3.so"), true));

    catalogue.SetPrivatePluginConfiguration("");
    catalogue.ClearAll(false);
    ASSERT_TRUE(catalogue.LoadConfiguration(file));
    EXPECT_EQ(catalogue.GetConfigurationAsXML(), before);

    // Without directories the file leaves the current ones alone.
    ASSERT_TRUE(catalogue.SaveConfiguration(file, false));
    PropList saved;
    ASSERT_TRUE(kelcore::proplist::utils::LoadPropList(file.FullPath(), saved, false));
    EXPECT_FALSE(saved.HasValue("num_tech_infos") || saved.GetChild("tech_info0"));
    catalogue.GetPluginTechnology(VST)->RemoveAllPluginDirectories();
    catalogue.GetPluginTechnology(VST)->AddPluginDirectories({u"/now"});
    ASSERT_TRUE(catalogue.LoadConfiguration(file));
    EXPECT_EQ(Directories(*catalogue.GetPluginTechnology(VST)), Texts{u"/now"});
    EXPECT_EQ(catalogue.GetPluginLocators().size(), 300u);
}

TEST(ModuleCatalogue, BadFilesGiveDefinedResults)
{
    const std::string v2 = Value("version", "uint32", "2");
    const std::string good = Document(v2 + Count("num_plugin_infos", 1) + Module("plugin_info0", "2:/g", "g"));
    struct Case {
        const char* name;
        std::optional<std::string> text;
        bool loaded;
        Texts modules;
        Texts vstDirectories;
        std::size_t descriptors; // besides the private one
        const char* traced;
    };
    const Texts defaults{u"/default"};
    const Texts current{u"/current"};
    const Case cases[] = {
        {"missing", std::nullopt, false, {}, defaults, 0, nullptr},
        {"empty", "", false, {}, defaults, 0, "malformed"},
        {"truncated", good.substr(0, good.size() / 2), false, {}, defaults, 0, "malformed"},
        {"not a property list", "<html><body/></html>", false, {}, defaults, 0, "version 0"},
        {"version 1", Document(Value("version", "uint32", "1") + Count("num_plugin_infos", 1) + Module("plugin_info0", "2:/g", "g")),
         false, {}, defaults, 0, "version 1 is not 2"},
        {"good", good, true, {u"g"}, current, 0, nullptr},
        {"huge counts",
         Document(v2 + Count("num_plugin_infos", 2147483647) + Module("plugin_info0", "2:/h0", "h0") +
                  Module("plugin_info1", "2:/h1", "h1") + Count("num_descriptors", 2147483647) +
                  List("descriptor0", Value("id", "string", "2:0 h")) + List("descriptor1", Value("id", "string", "2:1 h"))),
         true, {u"h0", u"h1"}, current, 2, "2147483647"},
        {"negative count", Document(v2 + Count("num_plugin_infos", -5) + Module("plugin_info0", "2:/g", "g")), true, {},
         current, 0, "-5"},
        {"duplicate locators",
         Document(v2 + Count("num_plugin_infos", 3) + Module("plugin_info0", "2:/a", "a") +
                  Module("plugin_info1", "2:/b", "b") + Module("plugin_info2", "2:/x/../a", "a later")),
         true, {u"b", u"a later"}, current, 0, "the later record wins"},
        {"odd keys and types",
         Document(v2 + Count("num_plugin_infos", 3) +
                  List("plugin_info0", Value("locator", "string", "2:/w") + Value("name", "int32", "5")) +
                  Module("plugin_info01", "2:/z", "z") + Value("plugin_info2", "string", "no record") +
                  Module("plugin_info3", "2:/y", "y")),
         true, {u""}, current, 0, "not a record"},
        {"directories",
         Document(v2 + Count("num_tech_infos", 2) +
                  List("tech_info0", Value("tech_type", "int32", "2") + Count("num_directories", 3) +
                                         Value("directories0", "string", "/n1") + Value("directories1", "string", "") +
                                         Value("directories2", "string", "/n2")) +
                  List("tech_info1", Value("tech_type", "int32", "42"))),
         true, {}, {u"/n1", u"/n2"}, 0, "no technology 42"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        PluginModuleInfoManager& catalogue = FreshCatalogue();
        TestDefaultDirectories() = defaults;
        catalogue.GetPluginTechnology(VST)->AddPluginDirectories(current);
        ASSERT_TRUE(catalogue.SetPrivatePluginConfiguration(PrivateConfiguration("private:1")));
        if (c.text) {
            dir.Write("AudioPluginManagerSettings.xml", *c.text);
        }
        TraceCapture trace;
        kelcore::filesupport::File file(dir.Path() / "AudioPluginManagerSettings.xml");
        EXPECT_EQ(catalogue.LoadConfiguration(file), c.loaded) << c.name;
        EXPECT_EQ(ModuleNames(catalogue), c.modules) << c.name;
        EXPECT_EQ(Directories(*catalogue.GetPluginTechnology(VST)), c.vstDirectories) << c.name;
        EXPECT_EQ(ExternalDescriptorCount(), c.descriptors + 1) << c.name;
        if (c.traced) {
            EXPECT_TRUE(trace.Contains(c.traced)) << c.name;
        }
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
    catalogue.AddPluginModuleInfo(Info(dir.Text("vst/a.so")));
    catalogue.AddPluginModuleInfo(Info(u"/gone.so"));
    AudioFilterDescriptorManager::GetInstance().AddAudioFilterDescriptor(Descriptor(u"/gone.so", u"2:1 gone"));

    const PluginLocator a(VST, dir.Text("vst/a.so")), b(VST, dir.Text("vst/sub/b.so")), x(VST3, dir.Text("vst3/X.vst3"));
    std::vector<PluginLocator> removed{a};
    EXPECT_EQ(catalogue.CollectPotentialPlugins(false, removed), (std::vector<PluginLocator>{a, b, x}));
    EXPECT_TRUE(removed.empty());
    EXPECT_EQ(catalogue.CollectPotentialPlugins(true, removed), (std::vector<PluginLocator>{b, x}));
    EXPECT_EQ(removed, (std::vector<PluginLocator>{PluginLocator(VST, u"/gone.so")}));

    catalogue.GetPluginTechnology(VST)->RemoveAllPluginDirectories();
    catalogue.GetPluginTechnology(VST3)->RemoveAllPluginDirectories();
    EXPECT_TRUE(catalogue.CollectPotentialPlugins(true, removed).empty());
    EXPECT_EQ(removed, (std::vector<PluginLocator>{PluginLocator(VST, u"/gone.so"), a}));

    int signals = 0;
    const boost::signals2::scoped_connection counting =
        catalogue.GetPluginInfosChangedSignal().connect([&signals] { ++signals; });
    catalogue.RemovePluginLocators({PluginLocator(VST, u"/never.so")});
    EXPECT_EQ(signals, 0);
    catalogue.RemovePluginLocators(removed);
    EXPECT_EQ(signals, 1);
    EXPECT_TRUE(catalogue.GetPluginLocators().empty());
    EXPECT_EQ(AudioFilterDescriptorManager::GetInstance().GetComponentDescriptorForID(u"2:1 gone"), nullptr);
}

TEST(ModuleCatalogue, AnswersEnabledStateAndDisplayText)
{
    PluginModuleInfoManager& catalogue = FreshCatalogue();
    catalogue.AddPluginModuleInfo(Info(u"/on.so", u"on", true));
    catalogue.AddPluginModuleInfo(Info(u"/off.so", u"off", false));
    catalogue.AddPluginModuleInfo(Info(u"/on.so", u"on again", true)); // replaces, moves to the end
    EXPECT_EQ(ModuleNames(catalogue), (Texts{u"off", u"on again"}));
    EXPECT_EQ(catalogue.GetEnabledPlugins(), std::vector<PluginLocator>{PluginLocator(VST, u"/on.so")});
    const std::tuple<const char16_t*, bool, bool> cases[] = {
        {u"/on.so", true, true},  {u"/on.so", false, true},  {u"/off.so", true, false},
        {u"/off.so", false, false}, {u"/unknown.so", true, false}, {u"/unknown.so", false, true},
    };
    for (const auto& [path, flag, expected] : cases) {
        EXPECT_EQ(catalogue.IsPluginEnabled(PluginLocator(VST, path), flag), expected) << kelcore::UTF16to8(path) << flag;
    }
    catalogue.SetPluginEnabled(PluginLocator(VST, u"/unknown.so"), true);
    EXPECT_EQ(catalogue.FindPluginInfo(PluginLocator(VST, u"/unknown.so")), nullptr);

    EXPECT_EQ(catalogue.GetDisplayStringForLocator(PluginLocator(VST, u"/on.so")), u"[/on.so]");
    EXPECT_EQ(catalogue.GetDisplayStringForLocator(PluginLocator(TechnologyType(9), u"/p")), u"/p");
    const auto first = catalogue.GetPluginTechnology(VST);
    catalogue.AddPluginTechnology(new TestTechnology(VST, u".dll", nullptr));
    EXPECT_EQ(catalogue.GetPluginTechnology(VST), first);
}

TEST(ModuleCatalogue, InterruptedSaveLeavesTheOldFileLoadable)
{
    TempDir dir;
    PluginModuleInfoManager& catalogue = FreshCatalogue();
    Fill(catalogue, 10);
    kelcore::filesupport::File file(dir.Path() / "AudioPluginManagerSettings.xml");
    ASSERT_TRUE(catalogue.SaveConfiguration(file, true));
    Fill(catalogue, 1000);
    const auto started = std::chrono::steady_clock::now();
    kelcore::filesupport::File scratch(dir.Path() / "scratch.xml");
    ASSERT_TRUE(catalogue.SaveConfiguration(scratch, true));
    const auto saveTime = std::chrono::steady_clock::now() - started;

    // Killed at moments spread over the first saves: the file is the old catalogue or the new one, whole.
    for (int eighth = 1; eighth <= 12; ++eighth) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;) {
                catalogue.SaveConfiguration(file, true);
            }
        }
        std::this_thread::sleep_for(saveTime * eighth / 8);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        const std::int32_t stored = StoredModuleCount(file.GetPath());
        EXPECT_TRUE(stored == 10 || stored == 1000) << eighth << ": " << stored;
    }

    // A full disk (here: a file size limit) makes the save fail and keeps the file as it was.
    ASSERT_TRUE(FreshCatalogue().SaveConfiguration(file, true));
    Fill(catalogue, 1000);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::signal(SIGXFSZ, SIG_IGN);
        ::_exit(catalogue.SaveConfiguration(file, true) ? 1 : 0);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(StoredModuleCount(file.GetPath()), 0);
}
