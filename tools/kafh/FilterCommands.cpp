// SPDX-License-Identifier: GPL-3.0-or-later
// The commands over one filter: info, presets, preset save and preset load.
#include "kelaudiofilterhost/services/ChannelLayouts.h"
#include "kelaudiofilterhost/services/PluginCallTrail.h"
#include "tools/kafh/Commands.h"

#include "kelaudiofilterhost/interchange/PresetInterchange.h"
#include "tools/kafh/Console.h"
#include "tools/kafh/FilterLookup.h"
#include "tools/kafh/Json.h"
#include "tools/kafh/Parameters.h"
#include "tools/kafh/PresetFile.h"
#include "tools/kafh/Settings.h"

#include <algorithm>
#include <iostream>
#include <sstream>

namespace kafh {

namespace {

using namespace kelaudiofilterhost;

constexpr float kInfoSampleRate = 48000.0f;
constexpr int kInfoBlockSize = 1024;

struct OpenedFilter {
    FilterPtr filter;
    DescriptorPtr descriptor;
    std::vector<double> defaults;
};

int OpenFilter(Settings& settings, const std::string& id, OpenedFilter& opened)
{
    std::string error;
    if (!settings.Load(error)) {
        return Fail(error);
    }
    // Steps name where a watching parent found the plug-in when it crashed or hung.
    kelcore::trail::SetStep("create");
    opened.filter = CreateFilter(id, error, &opened.descriptor);
    if (!opened.filter) {
        return Fail(error);
    }
    opened.defaults = ReadPlainValues(*opened.filter);
    return kExitOk;
}

std::vector<ParameterView> DescribeParameters(const OpenedFilter& opened)
{
    std::vector<ParameterView> views;
    const int count = opened.filter->GetParameterCount();
    for (int i = 0; i < count; ++i) {
        const double fallback = static_cast<std::size_t>(i) < opened.defaults.size()
                                    ? opened.defaults[static_cast<std::size_t>(i)]
                                    : 0.0;
        views.push_back(DescribeParameter(*opened.filter, i, fallback));
    }
    return views;
}

// The first `limit` program names (all when negative).
std::vector<std::string> ProgramNames(AudioFilter& filter, int limit = -1)
{
    std::vector<std::string> names;
    const int count = limit < 0 ? filter.GetNumFactoryPresets() : std::min(filter.GetNumFactoryPresets(), limit);
    for (int i = 0; i < count; ++i) {
        names.push_back(kelcore::UTF16to8(filter.GetFactoryPresetName(i)));
    }
    return names;
}

std::string Number(double value)
{
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << value;
    return text.str();
}

std::string LayoutText(const AudioFilterBusDescription& bus)
{
    std::string text;
    for (const auto& channel : bus.GetLayout()) {
        text += (text.empty() ? "" : " ") + std::string(kelmediatypes::GetChannelRoleName(channel));
    }
    return text;
}

void WriteBuses(JsonWriter& writer, const std::vector<AudioFilterBusDescription>& buses)
{
    writer.BeginArray();
    for (const auto& bus : buses) {
        writer.BeginObject()
            .Field("name", kelcore::UTF16to8(bus.GetName()))
            .Field("type", bus.GetType() == AudioFilterBusDescription::kSideChain ? "side-chain" : "main")
            .Field("channels", bus.GetChannelCount());
        writer.Key("layout").BeginArray();
        for (const auto& channel : bus.GetLayout()) {
            writer.String(kelmediatypes::GetChannelRoleName(channel));
        }
        writer.EndArray().EndObject();
    }
    writer.EndArray();
}

void WriteParameters(JsonWriter& writer, const std::vector<ParameterView>& parameters)
{
    writer.BeginArray();
    for (const auto& parameter : parameters) {
        writer.BeginObject()
            .Field("index", parameter.index)
            .Field("name", parameter.name)
            .Field("unit", parameter.unit)
            .Field("default", parameter.defaultValue)
            .Field("value", parameter.value)
            .Field("text", parameter.text);
        if (parameter.hasRange) {
            writer.Field("min", parameter.minimum).Field("max", parameter.maximum).Field("steps", parameter.steps);
        }
        writer.EndObject();
    }
    writer.EndArray();
}

void PrintMore(std::size_t shown, std::size_t total)
{
    if (total > shown) {
        std::cout << "  ... and " << total - shown << " more\n";
    }
}

void PrintParameters(const std::vector<ParameterView>& parameters)
{
    std::cout << "parameters  " << parameters.size() << '\n';
    for (const auto& parameter : parameters) {
        if (static_cast<std::size_t>(parameter.index) >= kDisplayedListEntries) {
            break;
        }
        std::cout << "  " << parameter.index << "  " << DisplayText(parameter.name) << " = "
                  << Number(parameter.value);
        if (!parameter.unit.empty()) {
            std::cout << " " << DisplayText(parameter.unit);
        }
        if (!parameter.text.empty()) {
            std::cout << "  (shown as \"" << DisplayText(parameter.text) << "\")";
        }
        std::cout << "  default " << Number(parameter.defaultValue);
        if (parameter.hasRange) {
            std::cout << "  range " << Number(parameter.minimum) << " to " << Number(parameter.maximum);
        }
        std::cout << '\n';
    }
    PrintMore(std::min(parameters.size(), kDisplayedListEntries), parameters.size());
}

} // namespace

int RunInfoCommand(Settings& settings, const std::string& id, const FilterSettingsOptions& options, bool json)
{
    OpenedFilter opened;
    if (const int status = OpenFilter(settings, id, opened); status != kExitOk) {
        return status;
    }
    auto& filter = *opened.filter;
    const auto& descriptor = *opened.descriptor;
    std::string error;
    kelcore::trail::SetStep("configure");
    if (const int status = ApplyFilterSettings(filter, options, error); status != kExitOk) {
        return status == kExitUsage ? FailUsage(error) : Fail(error);
    }
    kelcore::trail::SetStep("describe");
    // Latency may depend on the running state; ask while resumed, as a renderer would see it.
    filter.SetSampleRate(kInfoSampleRate);
    filter.SetBlockSize(kInfoBlockSize);
    filter.Resume();
    const int latency = filter.GetInitialDelay();
    const int tail = filter.GetTail();
    filter.Suspend();
    const auto parameters = DescribeParameters(opened);
    const int programCount = filter.GetNumFactoryPresets();
    const auto programs = ProgramNames(filter, json ? -1 : static_cast<int>(kDisplayedListEntries));

    // The size without opening the editor: most plug-ins tell it before they are shown. Some make
    // their window to measure it and crash without a display, so only with one.
    kelcore::trail::SetStep("editor size");
    const bool hasEditor = filter.HasCustomEditor();
    kelcore::geom::RectT<long> editorRect;
    if (const auto editor = hasEditor && CanReachXDisplay() ? filter.CreateCustomEditor() : nullptr) {
        editorRect = editor->GetContentRect();
    }
    const bool editorSized = editorRect.right > 0 && editorRect.bottom > 0;
    const auto componentID = kelcore::UTF16to8(filter.GetComponentID());
    const auto name = kelcore::UTF16to8(filter.GetDisplayName());
    const auto technology = TechnologyName(descriptor.GetLocator().GetTechnologyType());
    const auto locator = kelcore::UTF16to8(descriptor.GetLocator().GetPath());
    if (json) {
        JsonWriter writer(std::cout);
        writer.BeginObject()
            .Field("id", componentID)
            .Field("name", name)
            .Field("vendor", kelcore::UTF16to8(descriptor.GetVendorString()))
            .Field("category", kelcore::UTF16to8(descriptor.GetCategoryName()))
            .Field("technology", technology)
            .Field("locator", locator)
            .Field("latency", latency)
            .Field("tail", tail)
            .Field("synth", descriptor.IsSynth())
            .Field("side_chain", filter.CanUseSideChaining())
            .Field("editor", hasEditor)
            .Field("chunk_presets", filter.DoPresetsUseChunkData());
        if (editorSized) {
            writer.Key("editor_size").BeginObject().Field("width", editorRect.right).Field("height", editorRect.bottom).EndObject();
        }
        writer.Key("inputs");
        WriteBuses(writer, filter.GetInputBuses());
        writer.Key("outputs");
        WriteBuses(writer, filter.GetOutputBuses());
        writer.Key("parameters");
        WriteParameters(writer, parameters);
        writer.Key("programs").BeginArray();
        for (const auto& program : programs) {
            writer.String(program);
        }
        writer.EndArray().EndObject();
        return kExitOk;
    }
    std::cout << DisplayText(name) << "  (" << DisplayText(componentID) << ")\n"
              << "vendor      " << DisplayText(kelcore::UTF16to8(descriptor.GetVendorString())) << '\n'
              << "technology  " << technology << (locator.empty() ? "" : "  " + DisplayText(locator)) << '\n'
              << "category    " << DisplayText(kelcore::UTF16to8(descriptor.GetCategoryName())) << '\n'
              << "latency     " << latency << " frames, tail " << tail << " frames (at "
              << Number(kInfoSampleRate) << " Hz)\n"
              << "flags       synth " << (descriptor.IsSynth() ? "yes" : "no") << ", side-chain "
              << (filter.CanUseSideChaining() ? "yes" : "no") << ", editor "
              << (hasEditor ? "yes" : "no")
              << (editorSized ? " (" + std::to_string(editorRect.right) + " x " + std::to_string(editorRect.bottom) + ")"
                              : std::string())
              << ", chunk presets " << (filter.DoPresetsUseChunkData() ? "yes" : "no") << '\n';
    for (const auto* buses : {&filter.GetInputBuses(), &filter.GetOutputBuses()}) {
        std::cout << (buses == &filter.GetInputBuses() ? "inputs      " : "outputs     ") << buses->size()
                  << (buses->size() == 1 ? " bus" : " buses") << '\n';
        for (const auto& bus : *buses) {
            std::cout << "  " << DisplayText(kelcore::UTF16to8(bus.GetName())) << " ("
                      << (bus.GetType() == AudioFilterBusDescription::kSideChain ? "side-chain" : "main")
                      << "): " << bus.GetChannelCount() << " channels " << LayoutText(bus) << '\n';
        }
    }
    PrintParameters(parameters);
    std::cout << "programs    " << programCount << '\n';
    for (std::size_t i = 0; i < programs.size(); ++i) {
        std::cout << "  " << i << "  " << DisplayText(programs[i]) << '\n';
    }
    PrintMore(programs.size(), static_cast<std::size_t>(std::max(programCount, 0)));
    return kExitOk;
}

int RunPresetsCommand(Settings& settings, const std::string& id, bool json)
{
    OpenedFilter opened;
    if (const int status = OpenFilter(settings, id, opened); status != kExitOk) {
        return status;
    }
    kelcore::trail::SetStep("list programs");
    const auto programs = ProgramNames(*opened.filter);
    if (json) {
        JsonWriter writer(std::cout);
        writer.BeginArray();
        for (std::size_t i = 0; i < programs.size(); ++i) {
            writer.BeginObject().Field("index", static_cast<int>(i)).Field("name", programs[i]).EndObject();
        }
        writer.EndArray();
        return kExitOk;
    }
    if (programs.empty()) {
        std::cout << "Filter " << Quoted(opened.filter->GetComponentID()) << " has no factory presets.\n";
    }
    for (std::size_t i = 0; i < programs.size(); ++i) {
        std::cout << i << "  " << DisplayText(programs[i]) << '\n';
    }
    return kExitOk;
}

int RunPresetSaveCommand(Settings& settings, const std::string& id, const std::filesystem::path& file,
                         const FilterSettingsOptions& options)
{
    OpenedFilter opened;
    if (const int status = OpenFilter(settings, id, opened); status != kExitOk) {
        return status;
    }
    std::string error;
    kelcore::trail::SetStep("configure");
    if (const int status = ApplyFilterSettings(*opened.filter, options, error); status != kExitOk) {
        return status == kExitUsage ? FailUsage(error) : Fail(error);
    }
    kelcore::trail::SetStep("save preset");
    if (!SavePresetFile(*opened.filter, file, error)) {
        return Fail(error);
    }
    std::cout << "Saved the settings of " << Quoted(opened.filter->GetComponentID()) << " to " << file.string()
              << ".\n";
    return kExitOk;
}

int RunPresetLoadCommand(Settings& settings, const std::string& id, const std::filesystem::path& file, bool json)
{
    OpenedFilter opened;
    if (const int status = OpenFilter(settings, id, opened); status != kExitOk) {
        return status;
    }
    std::string error;
    kelcore::trail::SetStep("load preset");
    if (!LoadPresetFile(*opened.filter, file, error)) {
        return Fail(error);
    }
    kelcore::trail::SetStep("describe");
    const auto parameters = DescribeParameters(opened);
    if (json) {
        JsonWriter writer(std::cout);
        writer.BeginObject().Field("id", kelcore::UTF16to8(opened.filter->GetComponentID()));
        writer.Key("parameters");
        WriteParameters(writer, parameters);
        writer.EndObject();
        return kExitOk;
    }
    std::cout << "Loaded " << file.string() << " into " << Quoted(opened.filter->GetComponentID()) << ".\n";
    PrintParameters(parameters);
    return kExitOk;
}

int RunPresetConvertCommand(Settings& settings, const std::string& id, const std::filesystem::path& input,
                            const std::filesystem::path& output, bool importing)
{
    OpenedFilter opened;
    if (const int status = OpenFilter(settings, id, opened); status != kExitOk) {
        return status;
    }
    std::string error;
    kelcore::trail::SetStep("load preset");
    if (!LoadPresetFile(*opened.filter, input, error)) {
        return Fail(error);
    }
    kelcore::trail::SetStep("save preset");
    const bool saved = importing ? SavePresetFile(*opened.filter, output, error)
                                 : kelaudiofilterhost::interchange::ExportPresetFile(*opened.filter, output, error);
    if (!saved) {
        return Fail(error);
    }
    std::cout << (importing ? "Imported " : "Exported ") << input.string() << " for "
              << Quoted(opened.filter->GetComponentID()) << " to " << output.string() << ".\n";
    return kExitOk;
}

} // namespace kafh
