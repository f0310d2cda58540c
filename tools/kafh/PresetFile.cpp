// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/kafh/PresetFile.h"

#include "kelaudiofilterhost/interchange/PresetInterchange.h"
#include "kelaudiofilterhost/presets/PresetData.h"
#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/PropList.h"
#include "tools/kafh/Console.h"
#include "tools/kafh/Parameters.h"

#include <cmath>
#include <list>
#include <sstream>
#include <system_error>

namespace kafh {

namespace {

using kelaudiofilterhost::PresetData;
using kelcore::proplist::PropList;

constexpr const char* kFormatKey = "kafh_preset";
constexpr std::uint32_t kFormatVersion = 1;
constexpr const char* kComponentKey = "component_id";
constexpr const char* kNameKey = "filter_name";
constexpr const char* kSettingsKey = "settings";

std::string FileText(const std::filesystem::path& path)
{
    return Quoted(path.string());
}

// Stored values are normalized: anything outside 0 to 1 was not written by a plug-in's host.
// Non-finite values are left to the filter, which skips them.
bool CheckParameterValues(kelaudiofilterhost::AudioFilter& filter, const PresetData& preset,
                          const std::filesystem::path& path, std::string& error)
{
    std::list<float> values;
    if (!preset.ReadParamList(values)) {
        return true;
    }
    int index = 0;
    for (const float value : values) {
        if (std::isfinite(value) && (value < 0.0f || value > 1.0f)) {
            std::ostringstream text;
            text.imbue(std::locale::classic());
            text << value;
            error = "preset " + FileText(path) + ": parameter " + Quoted(ParameterName(filter, index)) + " (index " +
                    std::to_string(index) + ") has the value " + text.str() + ", outside 0 to 1";
            return false;
        }
        ++index;
    }
    return true;
}

} // namespace

bool SavePresetFile(kelaudiofilterhost::AudioFilter& filter, const std::filesystem::path& path, std::string& error)
{
    PropList list;
    list.SetValue(kFormatKey, kFormatVersion);
    list.SetValue(kComponentKey, filter.GetComponentID());
    list.SetValue(kNameKey, filter.GetDisplayName());
    PresetData preset(list.CreateChild(kSettingsKey));
    filter.SaveSettings(preset);

    std::error_code status;
    const auto folder = path.parent_path().empty() ? std::filesystem::path(".") : path.parent_path();
    if (!std::filesystem::is_directory(folder, status)) {
        error = "cannot write preset " + FileText(path) + ": the folder " + FileText(folder) + " does not exist";
        return false;
    }
    kelcore::filesupport::File file(path);
    if (!kelcore::proplist::utils::SavePropList(file, list)) {
        error = "cannot write preset " + FileText(path);
        return false;
    }
    return true;
}

bool LoadPresetFile(kelaudiofilterhost::AudioFilter& filter, const std::filesystem::path& path, std::string& error)
{
    if (const auto why = WhyNotARegularFile(path); !why.empty()) {
        error = "cannot read preset " + FileText(path) + ": " + why;
        return false;
    }
    // Files of other hosts go through the library's readers of their formats.
    if (kelaudiofilterhost::interchange::PresetFileFormatFor(path)) {
        std::string warning;
        if (!kelaudiofilterhost::interchange::ImportPresetFile(filter, path, error, warning)) {
            return false;
        }
        if (!warning.empty()) {
            Warn(warning);
        }
        return true;
    }
    PropList list;
    if (!kelcore::proplist::utils::LoadPropList(kelcore::filesupport::FromPath(path), list, false)) {
        error = "preset " + FileText(path) + " is unreadable or malformed";
        return false;
    }
    std::uint32_t version = 0;
    kelcore::UTF16String componentID;
    auto* settings = list.GetChild(kSettingsKey);
    if (!list.GetValue(kFormatKey, version) || !list.GetValue(kComponentKey, componentID) || settings == nullptr) {
        error = FileText(path) + " is not a kafh preset";
        return false;
    }
    if (version != kFormatVersion) {
        error = "preset " + FileText(path) + " is of another version (" + std::to_string(version) + ")";
        return false;
    }
    if (componentID != filter.GetComponentID()) {
        error = "preset " + FileText(path) + " is for filter " + Quoted(componentID) + ", not " +
                Quoted(filter.GetComponentID());
        return false;
    }
    PresetData preset(settings);
    // A chunk record loads as a success whatever the plug-in makes of it; an undecodable chunk
    // is caught here instead.
    PresetData::ChunkBytes chunk;
    const bool isChunk = preset.GetPresetType() == PresetData::ChunkPreset;
    if (isChunk && !preset.GetChunkData(chunk)) {
        error = "preset " + FileText(path) + " holds no readable chunk";
        return false;
    }
    if (!isChunk && !CheckParameterValues(filter, preset, path, error)) {
        return false;
    }
    if (!filter.LoadSettings(preset)) {
        error = "filter " + Quoted(filter.GetComponentID()) + " refused preset " + FileText(path) +
                " (another preset version, or settings it cannot take)";
        return false;
    }
    // Loading a chunk succeeds whatever the plug-in answers; a state that is not the chunk just
    // loaded tells that it refused it (or keeps its state in another form).
    if (isChunk) {
        PropList after;
        PresetData state(after);
        filter.SaveSettings(state);
        PresetData::ChunkBytes now;
        if (state.GetPresetType() == PresetData::ChunkPreset && state.GetChunkData(now) && now != chunk) {
            Warn("filter " + Quoted(filter.GetComponentID()) + " did not take the state in preset " + FileText(path) +
                 " as it is: it may have refused it");
        }
    }
    return true;
}

} // namespace kafh
