// SPDX-License-Identifier: GPL-3.0-or-later
// The module catalogue's configuration file against pugixml alone on the same document: loading
// (parse plus reading every record into the catalogue) and saving (building the records plus an
// atomic write). A generated catalogue of 10,000 modules and 20,000 descriptors.
#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/services/File.h"

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace kelaudiofilterhost;
namespace fs = std::filesystem;

constexpr int kModules = 10000;
constexpr int kDescriptorsPerModule = 2;

/// A directory with the generated catalogue's file, made once for all benchmarks.
class Fixture {
public:
    static Fixture& Get()
    {
        static Fixture fixture;
        return fixture;
    }
    const fs::path& CatalogueFile() const { return mCatalogueFile; }
    const fs::path& Directory() const { return mDirectory; }

private:
    Fixture()
    {
        std::string pattern = (fs::temp_directory_path() / "kafh-bench-XXXXXX").native();
        mDirectory = ::mkdtemp(pattern.data());
        mCatalogueFile = mDirectory / "AudioPluginManagerSettings.xml";

        // Other benchmarks share the process-wide catalogue: generate into an empty one.
        PluginModuleInfoManager& catalogue = PluginModuleInfoManager::GetInstance();
        catalogue.ClearAll(true);
        catalogue.AddPluginTechnology(new PluginTechnology(VST, {}, {}, {}, {}, true));
        catalogue.GetPluginTechnology(VST)->AddPluginDirectories({u"/usr/lib/vst", u"/usr/local/lib/vst"});
        const kelcore::Guid guid(0x5EC0A1F0, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8});
        for (int i = 0; i < kModules; ++i) {
            const UTF16String number = kelcore::NumberToString(static_cast<std::int32_t>(i));
            const PluginLocator locator(VST, u"/usr/lib/vst/Vendor " + number + u"/Plug-in " + number + u".so");
            catalogue.AddPluginModuleInfo(new PluginModuleInfo(locator, u"Plug-in " + number, u"Vendor " + number,
                                                               0x10203, VST, i % 7 != 0, i % 100 == 0));
            for (int j = 0; j < kDescriptorsPerModule; ++j) {
                const UTF16String id = u"2:" + kelcore::NumberToString(static_cast<std::uint32_t>(i * 2 + j + 1000000))
                                       + u" Plug-in " + number;
                AudioFilterDescriptorManager::GetInstance().AddAudioFilterDescriptor(new AudioFilterDescriptor(
                    locator, u"Effect " + number, u"Vendor " + number, 0x10203, Effect, id, guid, j == 1));
            }
        }
        kelcore::filesupport::File file(mCatalogueFile);
        if (!catalogue.SaveConfiguration(file, true)) {
            std::fprintf(stderr, "cannot write %s\n", mCatalogueFile.c_str());
            std::abort();
        }
    }
    ~Fixture()
    {
        std::error_code error;
        fs::remove_all(mDirectory, error);
    }

    fs::path mDirectory;
    fs::path mCatalogueFile;
};

// Visits every element and attribute, touching each value once.
std::size_t Walk(pugi::xml_node node)
{
    std::size_t sum = 0;
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        for (pugi::xml_attribute attribute = child.first_attribute(); attribute; attribute = attribute.next_attribute()) {
            sum += static_cast<unsigned char>(attribute.value()[0]);
        }
        sum += Walk(child);
    }
    return sum;
}

void LoadCandidate(benchmark::State& state)
{
    Fixture& fixture = Fixture::Get();
    PluginModuleInfoManager& catalogue = PluginModuleInfoManager::GetInstance();
    kelcore::filesupport::File file(fixture.CatalogueFile());
    for (auto _ : state) {
        // An application loads into an empty catalogue; releasing the previous round's is not loading.
        state.PauseTiming();
        catalogue.ClearAll(true);
        state.ResumeTiming();
        if (!catalogue.LoadConfiguration(file)) {
            state.SkipWithError("catalogue not loaded");
            break;
        }
    }
    if (std::distance(catalogue.PluginInfoBegin(), catalogue.PluginInfoEnd()) != kModules) {
        state.SkipWithError("wrong number of modules");
    }
}

void LoadBaseline(benchmark::State& state)
{
    Fixture& fixture = Fixture::Get();
    for (auto _ : state) {
        pugi::xml_document document;
        // The flags the property-list reader parses with.
        if (!document.load_file(fixture.CatalogueFile().c_str(),
                                pugi::parse_escapes | pugi::parse_wconv_attribute | pugi::parse_eol)) {
            state.SkipWithError("not parsed");
            break;
        }
        benchmark::DoNotOptimize(Walk(document));
    }
}

void SaveCandidate(benchmark::State& state)
{
    Fixture& fixture = Fixture::Get();
    // Other benchmarks share the process-wide catalogue: load the generated one first.
    PluginModuleInfoManager& catalogue = PluginModuleInfoManager::GetInstance();
    kelcore::filesupport::File source(fixture.CatalogueFile());
    catalogue.ClearAll(true);
    if (!catalogue.LoadConfiguration(source) ||
        std::distance(catalogue.PluginInfoBegin(), catalogue.PluginInfoEnd()) != kModules) {
        state.SkipWithError("catalogue not loaded");
        return;
    }
    kelcore::filesupport::File file(fixture.Directory() / "candidate.xml");
    for (auto _ : state) {
        if (!catalogue.SaveConfiguration(file, true)) {
            state.SkipWithError("not saved");
            break;
        }
    }
}

// pugixml writing the same document (parsed from the catalogue's file beforehand) with the same
// guarantee as the catalogue's save: a temporary file in the same directory, flushed to disk and
// renamed over the target. Without the flush the comparison would measure the disk, not the code.
void SaveBaseline(benchmark::State& state)
{
    Fixture& fixture = Fixture::Get();
    pugi::xml_document document;
    document.load_file(fixture.CatalogueFile().c_str());
    const fs::path target = fixture.Directory() / "baseline.xml";
    const fs::path temporary = fixture.Directory() / ".baseline.xml.tmp";
    for (auto _ : state) {
        if (!document.save_file(temporary.c_str(), "    ", pugi::format_indent, pugi::encoding_utf8)) {
            state.SkipWithError("not saved");
            break;
        }
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CLOEXEC);
        ::fsync(fd);
        ::close(fd);
        std::rename(temporary.c_str(), target.c_str());
    }
}

} // namespace

BENCHMARK(LoadCandidate)->Name("catalogue_load_vs_pugixml/candidate")->Unit(benchmark::kMillisecond)->MinTime(0.4);
BENCHMARK(LoadBaseline)->Name("catalogue_load_vs_pugixml/baseline")->Unit(benchmark::kMillisecond)->MinTime(0.4);
BENCHMARK(SaveCandidate)->Name("catalogue_save_vs_pugixml/candidate")->Unit(benchmark::kMillisecond)->MinTime(0.4);
BENCHMARK(SaveBaseline)->Name("catalogue_save_vs_pugixml/baseline")->Unit(benchmark::kMillisecond)->MinTime(0.4);
