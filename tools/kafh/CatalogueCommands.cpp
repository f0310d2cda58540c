// SPDX-License-Identifier: GPL-3.0-or-later
// The commands over the catalogue and the banned set: list, ban, unban, banned.
#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"
#include "kelaudiofilterhost/catalogue/BannedPluginManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/vst2/VSTTechnology.h"
#include "tools/kafh/Commands.h"
#include "tools/kafh/Console.h"
#include "tools/kafh/FilterLookup.h"
#include "tools/kafh/Json.h"
#include "tools/kafh/Settings.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <iostream>
#include <optional>

namespace kafh {

namespace {

using namespace kelaudiofilterhost;

struct ListedFilter {
    std::string id;
    std::string name;
    std::string vendor;
    std::string category;
    std::string technology;
    std::string locator;
    bool enabled;
    bool synth;
};

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::vector<ListedFilter> ListFilters()
{
    std::vector<ListedFilter> filters;
    const auto& manager = AudioFilterDescriptorManager::GetInstance();
    for (auto it = manager.InfoBegin(); it != manager.InfoEnd(); ++it) {
        const auto& descriptor = **it;
        filters.push_back({kelcore::UTF16to8(descriptor.GetUniqueID()), kelcore::UTF16to8(descriptor.GetName()),
                           kelcore::UTF16to8(descriptor.GetVendorString()),
                           kelcore::UTF16to8(descriptor.GetCategoryName()),
                           TechnologyName(descriptor.GetLocator().GetTechnologyType()),
                           kelcore::UTF16to8(descriptor.GetLocator().GetPath()), IsDescriptorEnabled(descriptor),
                           descriptor.IsSynth()});
    }
    // Internal filters first, then plug-ins by name, as people look for them.
    std::stable_sort(filters.begin(), filters.end(), [](const ListedFilter& a, const ListedFilter& b) {
        const bool aInternal = a.technology == "internal";
        const bool bInternal = b.technology == "internal";
        if (aInternal != bInternal) {
            return aInternal;
        }
        return Lower(a.name) < Lower(b.name);
    });
    return filters;
}

constexpr std::size_t kMaximumCellWidth = 40;

// Plug-ins may report texts of any length; a table cell shows the start of them.
std::string FitCell(const std::string& text)
{
    if (text.size() <= kMaximumCellWidth) {
        return text;
    }
    auto cut = kMaximumCellWidth - 3;
    // Never cut inside a UTF-8 sequence.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return text.substr(0, cut) + "...";
}

void PrintTable(std::vector<std::vector<std::string>> rows)
{
    for (auto& row : rows) {
        for (auto& cell : row) {
            cell = FitCell(DisplayText(cell));
        }
    }
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()), 0);
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) {
                line += std::string(widths[i] - row[i].size() + 2, ' ');
            }
        }
        std::cout << line << '\n';
    }
}

char16_t FoldAscii(char16_t c)
{
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool EndsWithIgnoringCase(const UTF16String& text, std::u16string_view suffix)
{
    if (text.size() < suffix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        if (FoldAscii(text[text.size() - suffix.size() + i]) != FoldAscii(suffix[i])) {
            return false;
        }
    }
    return true;
}

// "2:/usr/lib/vst/x.so" or a plain path, whose technology is told by its name.
bool ParseLocator(const std::string& text, PluginLocator& locator, std::string& error)
{
    // The library's strings cannot hold such a path faithfully: it would be stored mangled.
    if (!kelcore::IsValidUtf8(text)) {
        error = "locator " + Quoted(text) + ": the path is not valid UTF-8, which kafh cannot store";
        return false;
    }
    auto path = kelcore::UTF8to16(text);
    TechnologyType type = NoTechnology;
    const auto colon = path.find(u':');
    if (colon != UTF16String::npos && colon > 0 &&
        std::all_of(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(colon),
                    [](char16_t c) { return c >= u'0' && c <= u'9'; })) {
        PluginLocator parsed;
        parsed.FromString(path);
        type = parsed.GetTechnologyType();
        path = parsed.GetPath();
        if (type != VST && type != VST3) {
            error = "locator " + Quoted(text) + ": the technology must be 2 (VST 2) or 3 (VST 3)";
            return false;
        }
    } else {
        type = EndsWithIgnoringCase(path, u".vst3") ? VST3 : VST;
    }
    if (path.empty()) {
        error = "locator " + Quoted(text) + " names no module";
        return false;
    }
    locator = PluginLocator(type, kelcore::filesupport::File(path).FullPath());
    return true;
}

} // namespace

int RunListCommand(Settings& settings, bool json)
{
    std::string error;
    if (!settings.Load(error)) {
        return Fail(error);
    }
    const auto filters = ListFilters();
    if (json) {
        JsonWriter writer(std::cout);
        writer.BeginArray();
        for (const auto& filter : filters) {
            writer.BeginObject()
                .Field("id", filter.id)
                .Field("name", filter.name)
                .Field("vendor", filter.vendor)
                .Field("category", filter.category)
                .Field("technology", filter.technology)
                .Field("locator", filter.locator)
                .Field("enabled", filter.enabled)
                .Field("synth", filter.synth)
                .EndObject();
        }
        writer.EndArray();
        return kExitOk;
    }
    std::vector<std::vector<std::string>> rows{{"ID", "NAME", "VENDOR", "CATEGORY", "TECH", "ENABLED"}};
    for (const auto& filter : filters) {
        rows.push_back({filter.id, filter.name, filter.vendor, filter.category.empty() ? "-" : filter.category,
                        filter.technology + (filter.synth ? " synth" : ""), filter.enabled ? "yes" : "no"});
    }
    PrintTable(rows);
    const bool onlyInternal = std::all_of(filters.begin(), filters.end(),
                                          [](const ListedFilter& filter) { return filter.technology == "internal"; });
    if (onlyInternal) {
        std::cerr << "No plug-ins in the catalogue " << settings.GetCatalogueFile().string()
                  << " yet: kafh scan finds them.\n";
    }
    return kExitOk;
}

// The module a ban or unban names, with the settings loaded; an exit code when either fails.
static std::optional<int> PrepareBanEdit(Settings& settings, const std::string& text, PluginLocator& locator)
{
    std::string error;
    if (!ParseLocator(text, locator, error)) {
        return FailUsage(error);
    }
    if (!settings.Load(error)) {
        return Fail(error);
    }
    return std::nullopt;
}

int RunBanCommand(Settings& settings, const std::string& text)
{
    PluginLocator locator;
    if (const auto failed = PrepareBanEdit(settings, text, locator)) {
        return *failed;
    }
    std::string error;
    auto& banned = BannedPluginManager::GetInstance();
    const auto name = kelcore::UTF16to8(locator.ToString());
    if (banned.IsPluginBanned(locator)) {
        std::cout << name << " is banned already.\n";
        return kExitOk;
    }
    banned.AddBannedPlugin(locator);
    if (!settings.SaveBanned(error)) {
        return Fail(error);
    }
    // A banned module has no place in the catalogue either.
    auto& catalogue = PluginModuleInfoManager::GetInstance();
    if (catalogue.FindPluginInfo(locator)) {
        catalogue.RemovePluginLocators({locator});
        if (!settings.SaveCatalogue(error)) {
            return Fail(error);
        }
    }
    std::cout << "Banned " << name << ".\n";
    return kExitOk;
}

int RunUnbanCommand(Settings& settings, const std::string& text)
{
    PluginLocator locator;
    if (const auto failed = PrepareBanEdit(settings, text, locator)) {
        return *failed;
    }
    std::string error;
    auto& banned = BannedPluginManager::GetInstance();
    const auto name = kelcore::UTF16to8(locator.ToString());
    if (!banned.IsPluginBanned(locator)) {
        return Fail(name + " is not banned (kafh banned lists the banned modules)");
    }
    banned.RemoveBannedPlugin(locator);
    if (!settings.SaveBanned(error)) {
        return Fail(error);
    }
    std::cout << "Unbanned " << name << "; kafh scan catalogues it again.\n";
    return kExitOk;
}

int RunBannedCommand(Settings& settings)
{
    std::string error;
    if (!settings.Load(error)) {
        return Fail(error);
    }
    const auto& banned = BannedPluginManager::GetInstance();
    for (auto it = banned.BannedBegin(); it != banned.BannedEnd(); ++it) {
        std::cout << DisplayText(kelcore::UTF16to8(it->GetPath())) << '\n';
    }
    return kExitOk;
}

int RunListInstrumentsCommand(Settings& settings, bool json)
{
    std::string error;
    if (!settings.Load(error)) {
        return Fail(error);
    }
    std::vector<ListedFilter> instruments;
    for (const auto& filter : ListFilters()) {
        if (filter.synth) {
            instruments.push_back(filter);
        }
    }
    // A VST 2 instrument's unique ID is known only to the instrument: open each to ask.
    for (const auto& info : FindInstrumentModules()) {
        const auto path = kelcore::UTF16to8(info->GetLocator().GetPath());
        boost::intrusive_ptr<AudioFilter> filter;
        try {
            filter = vst::CreateVSTInstrument(info->GetLocator().GetPath());
        } catch (const std::exception&) {
        }
        if (!filter) {
            std::cerr << "kafh: warning: cannot open the instrument of module " << Quoted(path) << "\n";
            continue;
        }
        instruments.push_back({kelcore::UTF16to8(filter->GetComponentID()), kelcore::UTF16to8(info->GetName()),
                               kelcore::UTF16to8(info->GetVendor()), "", "vst2", path,
                               PluginModuleInfoManager::GetInstance().IsPluginEnabled(info->GetLocator(), false), true});
    }
    if (json) {
        JsonWriter writer(std::cout);
        writer.BeginArray();
        for (const auto& instrument : instruments) {
            writer.BeginObject()
                .Field("id", instrument.id)
                .Field("name", instrument.name)
                .Field("vendor", instrument.vendor)
                .Field("technology", instrument.technology)
                .Field("locator", instrument.locator)
                .Field("enabled", instrument.enabled)
                .EndObject();
        }
        writer.EndArray();
        return kExitOk;
    }
    std::vector<std::vector<std::string>> rows{{"ID", "NAME", "VENDOR", "TECH", "ENABLED"}};
    for (const auto& instrument : instruments) {
        rows.push_back({instrument.id, instrument.name, instrument.vendor, instrument.technology,
                        instrument.enabled ? "yes" : "no"});
    }
    PrintTable(rows);
    return kExitOk;
}

} // namespace kafh
