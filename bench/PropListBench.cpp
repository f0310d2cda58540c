// SPDX-License-Identifier: GPL-3.0-or-later
// Loading a catalogue-sized property-list file against a bare pugixml parse and walk of the same file.
#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/PropList.h"

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using kelcore::proplist::PropList;

constexpr int kRecords = 10000;

// A catalogue of descriptor records like the module catalogue writes, made once per process.
class CatalogueFile {
public:
    CatalogueFile()
        : mPath(fs::temp_directory_path() / ("kafh-bench-proplist-" + std::to_string(::getpid()) + ".xml"))
    {
        PropList list;
        list.SetValue("version", std::uint32_t{2});
        list.SetValue("num_descriptors", std::int32_t{kRecords});
        for (int n = 0; n < kRecords; ++n) {
            PropList* record = list.CreateChild("descriptor" + std::to_string(n));
            record->SetValue("component_id", "3:" + std::to_string(0x5EB5A000 + n) + "ABCDEF0123456789ABCDEF01");
            record->SetValue("name", "Plug-in " + std::to_string(n));
            record->SetValue("vendor", kelcore::UTF16String(u"Vendor \u00C9tude"));
            record->SetValue("category", std::int32_t{n % 7});
            record->SetValue("enabled", n % 13 != 0);
            record->SetValue("version", 1.0f + static_cast<float>(n) / 1024.0f);
        }
        kelcore::filesupport::File file(mPath);
        mValid = kelcore::proplist::utils::SavePropList(file, list);
    }
    ~CatalogueFile()
    {
        std::error_code error;
        fs::remove(mPath, error);
    }
    const fs::path& Path() const { return mPath; }
    bool IsValid() const { return mValid; }

private:
    fs::path mPath;
    bool mValid = false;
};

const CatalogueFile& Catalogue()
{
    static const CatalogueFile file;
    return file;
}

void BM_PropListLoadCandidate(benchmark::State& state)
{
    const CatalogueFile& file = Catalogue();
    const kelcore::UTF16String path = kelcore::filesupport::FromPath(file.Path());
    for (auto _ : state) {
        PropList list;
        if (!file.IsValid() || !kelcore::proplist::utils::LoadPropList(path, list, false)) {
            state.SkipWithError("the catalogue file did not load");
            break;
        }
        benchmark::DoNotOptimize(list.GetSize());
    }
}

// Reads every element's name, attributes and text, as any reader of the file must.
std::size_t Walk(pugi::xml_node node)
{
    std::size_t total = 0;
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        total += std::strlen(child.name()) + std::strlen(child.child_value());
        for (pugi::xml_attribute attribute = child.first_attribute(); attribute; attribute = attribute.next_attribute()) {
            total += std::strlen(attribute.name()) + std::strlen(attribute.value());
        }
        total += Walk(child);
    }
    return total;
}

void BM_PropListLoadBaseline(benchmark::State& state)
{
    const CatalogueFile& file = Catalogue();
    for (auto _ : state) {
        pugi::xml_document document;
        if (!file.IsValid() || !document.load_file(file.Path().c_str())) {
            state.SkipWithError("the catalogue file did not parse");
            break;
        }
        benchmark::DoNotOptimize(Walk(document));
    }
}

} // namespace

BENCHMARK(BM_PropListLoadCandidate)->Name("proplist_load_vs_pugixml/candidate")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PropListLoadBaseline)->Name("proplist_load_vs_pugixml/baseline")->Unit(benchmark::kMillisecond);
