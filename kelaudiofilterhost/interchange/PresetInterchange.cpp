// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/interchange/PresetInterchange.h"

#include "kelaudiofilterhost/interchange/FxFormat.h"
#include "kelaudiofilterhost/interchange/VstPresetFormat.h"
#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/PropList.h"
#include "kelaudiofilterhost/services/Trace.h"
#include "kelaudiofilterhost/vst2/VSTAudioFilter.h"
#include "kelaudiofilterhost/vst3/VST3AudioFilter.h"
#include "kelaudiofilterhost/vst3/VST3StateChunk.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace kelaudiofilterhost::interchange {

namespace {

using vst::VSTAudioFilter;
using vst3::VST3AudioFilter;

std::string Quote(const std::filesystem::path& path)
{
    return "\"" + path.string() + "\"";
}

std::string Hex(std::int32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
    return text;
}

/// A preset record with its own storage.
struct Record {
    kelcore::proplist::PropList list;
    PresetData preset{list};
};

// ---- VST 2 ----

std::string ProgramName(const VSTAudioFilter& filter)
{
    // Effects are told the name is at most 24 characters; some write more.
    char name[256] = {};
    filter.Dispatch(vst::abi::effGetProgramName, 0, 0, name);
    name[sizeof name - 1] = 0;
    return name;
}

bool UsesChunks(const VSTAudioFilter& filter)
{
    return filter.GetEffect() != nullptr && (filter.GetEffect()->flags & vst::abi::effFlagsProgramChunks) != 0;
}

std::vector<std::uint8_t> EffectChunk(const VSTAudioFilter& filter, bool program)
{
    void* data = nullptr;
    const auto size = filter.Dispatch(vst::abi::effGetChunk, program ? 1 : 0, 0, &data);
    constexpr std::intptr_t kMaximumChunk = std::intptr_t{1} << 30;
    if (data == nullptr || size <= 0 || size > kMaximumChunk) {
        return {};
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    return std::vector<std::uint8_t>(bytes, bytes + size);
}

FxProgram CurrentProgram(VSTAudioFilter& filter)
{
    FxProgram program;
    program.pluginID = filter.GetEffect()->uniqueID;
    program.pluginVersion = filter.GetEffect()->version;
    program.name = ProgramName(filter);
    program.isChunk = UsesChunks(filter);
    if (program.isChunk) {
        program.chunk = EffectChunk(filter, true);
    } else {
        for (int i = 0; i < filter.GetParameterCount(); ++i) {
            program.parameters.push_back(filter.GetParameter(i));
        }
    }
    return program;
}

bool CheckPlugIn(const VSTAudioFilter& filter, std::int32_t id, std::int32_t version, std::string& error,
                 std::string& warning)
{
    if (id != filter.GetEffect()->uniqueID) {
        error = "it is for the plug-in with unique ID " + Hex(id) + ", not " + Hex(filter.GetEffect()->uniqueID);
        return false;
    }
    if (version != filter.GetEffect()->version) {
        warning = "it was saved by version " + std::to_string(version) + " of the plug-in, this is version " +
                  std::to_string(filter.GetEffect()->version);
    }
    return true;
}

bool ApplyProgram(VSTAudioFilter& filter, const FxProgram& program, std::string& error, std::string& warning)
{
    if (program.isChunk != UsesChunks(filter)) {
        error = program.isChunk ? "it holds a chunk, but the plug-in keeps parameters"
                                : "it holds parameters, but the plug-in keeps a chunk";
        return false;
    }
    if (program.isChunk) {
        Record record;
        record.preset.SetChunkData(program.chunk.data(), static_cast<unsigned int>(program.chunk.size()));
        record.preset.SetPresetType(PresetData::ChunkPreset);
        if (!filter.LoadChunkData(record.preset)) {
            error = "the plug-in refused its chunk";
            return false;
        }
    } else {
        const auto count = std::min<std::size_t>(program.parameters.size(),
                                                 static_cast<std::size_t>(filter.GetParameterCount()));
        if (program.parameters.size() != static_cast<std::size_t>(filter.GetParameterCount()) && warning.empty()) {
            warning = "it holds " + std::to_string(program.parameters.size()) + " parameters, the plug-in has " +
                      std::to_string(filter.GetParameterCount());
        }
        for (std::size_t i = 0; i < count; ++i) {
            const float value = program.parameters[i];
            // Values other hosts wrote outside the normalized range are not passed on.
            if (value >= 0.0f && value <= 1.0f) {
                filter.SetParameter(static_cast<int>(i), value);
            }
        }
    }
    char name[256] = {};
    std::memcpy(name, program.name.data(), std::min<std::size_t>(program.name.size(), 24));
    filter.Dispatch(vst::abi::effSetProgramName, 0, 0, name);
    filter.SetPresetNameAndDirtyState({kelcore::UTF8to16(program.name), false});
    return true;
}

bool ImportVst2(VSTAudioFilter& filter, PresetFileFormat format, std::span<const std::uint8_t> bytes,
                std::string& error, std::string& warning)
{
    if (format == PresetFileFormat::Fxp) {
        FxProgram program;
        return ParseFxProgram(bytes, program, error)
            && CheckPlugIn(filter, program.pluginID, program.pluginVersion, error, warning)
            && ApplyProgram(filter, program, error, warning);
    }
    FxBank bank;
    if (!ParseFxBank(bytes, bank, error) || !CheckPlugIn(filter, bank.pluginID, bank.pluginVersion, error, warning)) {
        return false;
    }
    if (bank.isChunk) {
        if (!UsesChunks(filter)) {
            error = "it holds a chunk, but the plug-in keeps parameters";
            return false;
        }
        filter.Dispatch(vst::abi::effSetChunk, 0, static_cast<std::intptr_t>(bank.chunk.size()), bank.chunk.data());
        return true;
    }
    if (bank.programs.empty()) {
        error = "the bank holds no programs";
        return false;
    }
    const auto current = static_cast<std::size_t>(
        bank.currentProgram >= 0 && static_cast<std::size_t>(bank.currentProgram) < bank.programs.size()
            ? bank.currentProgram
            : 0);
    return ApplyProgram(filter, bank.programs[current], error, warning);
}

std::vector<std::uint8_t> ExportVst2(VSTAudioFilter& filter, PresetFileFormat format)
{
    if (format == PresetFileFormat::Fxp) {
        return WriteFxProgram(CurrentProgram(filter));
    }
    FxBank bank;
    bank.pluginID = filter.GetEffect()->uniqueID;
    bank.pluginVersion = filter.GetEffect()->version;
    bank.isChunk = UsesChunks(filter);
    if (bank.isChunk) {
        bank.chunk = EffectChunk(filter, false);
        bank.chunkProgramCount = std::max(filter.GetEffect()->numPrograms, 1);
    } else {
        bank.programs.push_back(CurrentProgram(filter));
    }
    return WriteFxBank(bank);
}

// ---- VST 3 ----

bool ImportVst3(VST3AudioFilter& filter, std::span<const std::uint8_t> bytes, std::string& error)
{
    VstPreset preset;
    if (!ParseVstPreset(bytes, preset, error)) {
        return false;
    }
    if (preset.classID != filter.GetClassID()) {
        error = "it is for the VST 3 class " + kelcore::UTF16to8(vst3::FormatVST3ClassID(preset.classID)) +
                ", not " + kelcore::UTF16to8(vst3::FormatVST3ClassID(filter.GetClassID()));
        return false;
    }
    const auto chunk = vst3::VST3StateChunk::Make(preset.componentState, preset.controllerState);
    Record record;
    record.preset.SetChunkData(chunk.data(), static_cast<unsigned int>(chunk.size()));
    record.preset.SetVersion(filter.GetCurrentPresetVersion());
    record.preset.SetPresetType(PresetData::ChunkPreset);
    if (!filter.LoadSettings(record.preset)) {
        error = "the plug-in refused its state";
        return false;
    }
    return true;
}

std::vector<std::uint8_t> ExportVst3(VST3AudioFilter& filter)
{
    Record record;
    filter.SaveSettings(record.preset);
    PresetData::ChunkBytes chunk;
    VstPreset preset;
    preset.classID = filter.GetClassID();
    vst3::VST3StateChunk parts;
    if (record.preset.GetChunkData(chunk) && vst3::VST3StateChunk::Parse(chunk, parts)) {
        preset.componentState.assign(parts.component.begin(), parts.component.end());
        preset.controllerState.assign(parts.controller.begin(), parts.controller.end());
    }
    return WriteVstPreset(preset);
}

const char* FormatName(PresetFileFormat format)
{
    switch (format) {
    case PresetFileFormat::Fxp:
        return "VST 2 program files";
    case PresetFileFormat::Fxb:
        return "VST 2 bank files";
    case PresetFileFormat::VstPreset:
        return "VST 3 preset files";
    }
    return "";
}

/// The format a path names and the back end of the filter it fits; no format (and error set) when
/// the name is no preset file's or the format is not for this filter.
struct Target {
    std::optional<PresetFileFormat> format;
    VSTAudioFilter* vst2 = nullptr;
    VST3AudioFilter* vst3 = nullptr;
};

Target TargetFor(AudioFilter& filter, const std::filesystem::path& path, const std::string& what, std::string& error)
{
    Target target{PresetFileFormatFor(path), dynamic_cast<VSTAudioFilter*>(&filter),
                  dynamic_cast<VST3AudioFilter*>(&filter)};
    if (!target.format) {
        error = what + ": not a .fxp, .fxb or .vstpreset file";
        return {};
    }
    const bool fits = *target.format == PresetFileFormat::VstPreset
                          ? target.vst3 != nullptr
                          : target.vst2 != nullptr && target.vst2->GetEffect() != nullptr;
    if (!fits) {
        error = what + ": " + FormatName(*target.format) + " are not for filter \"" +
                kelcore::UTF16to8(filter.GetComponentID()) + "\"";
        return {};
    }
    return target;
}

} // namespace

std::optional<PresetFileFormat> PresetFileFormatFor(const std::filesystem::path& path)
{
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".fxp") {
        return PresetFileFormat::Fxp;
    }
    if (extension == ".fxb") {
        return PresetFileFormat::Fxb;
    }
    if (extension == ".vstpreset") {
        return PresetFileFormat::VstPreset;
    }
    return std::nullopt;
}

bool ImportPresetFile(AudioFilter& filter, const std::filesystem::path& path, std::string& error,
                      std::string& warning)
{
    warning.clear();
    const Target target = TargetFor(filter, path, "cannot import " + Quote(path), error);
    if (!target.format) {
        return false;
    }
    const auto format = target.format;
    auto* vst2 = target.vst2;
    auto* vst3 = target.vst3;
    std::string contents;
    if (!kelcore::filesupport::ReadRegularFile(path, contents)) {
        error = "cannot read " + Quote(path);
        return false;
    }
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(contents.data()), contents.size());
    std::string why;
    const bool imported = vst3 != nullptr ? ImportVst3(*vst3, bytes, why) : ImportVst2(*vst2, *format, bytes, why, warning);
    if (!imported) {
        error = "cannot import " + Quote(path) + ": " + why;
        return false;
    }
    if (!warning.empty()) {
        warning = Quote(path) + ": " + warning;
        KAFH_TRACE("interchange::ImportPresetFile", 3, warning);
    }
    return true;
}

bool ExportPresetFile(AudioFilter& filter, const std::filesystem::path& path, std::string& error)
{
    const Target target = TargetFor(filter, path, "cannot export to " + Quote(path), error);
    if (!target.format) {
        return false;
    }
    const auto format = target.format;
    auto* vst2 = target.vst2;
    auto* vst3 = target.vst3;
    const std::vector<std::uint8_t> bytes = vst3 != nullptr ? ExportVst3(*vst3) : ExportVst2(*vst2, *format);
    if (bytes.empty()) {
        error = "cannot export to " + Quote(path) + ": the plug-in's state could not be written in that format";
        return false;
    }
    if (!kelcore::filesupport::WriteFileAtomically(
            path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()))) {
        error = "cannot write " + Quote(path);
        return false;
    }
    return true;
}

} // namespace kelaudiofilterhost::interchange
