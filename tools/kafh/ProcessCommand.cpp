// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/PluginCallTrail.h"
#include "tools/kafh/AudioFile.h"
#include "tools/kafh/Commands.h"
#include "tools/kafh/Console.h"
#include "tools/kafh/FilterLookup.h"
#include "tools/kafh/Render.h"
#include "tools/kafh/Settings.h"

#include <charconv>
#include <cmath>
#include <iostream>

#include <sys/stat.h>

namespace kafh {

namespace {

using namespace kelaudiofilterhost;

constexpr int kMaximumBlockSize = 65536;
constexpr double kProgressFromSeconds = 30.0;

// The same file whatever the path: links, "./" and hard links included.
bool IsSameFile(const std::filesystem::path& input, const std::filesystem::path& output)
{
    struct stat in {};
    struct stat out {};
    return stat(input.c_str(), &in) == 0 && stat(output.c_str(), &out) == 0 && in.st_dev == out.st_dev &&
           in.st_ino == out.st_ino;
}

bool ParseInteger(std::string_view text, int& value)
{
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

// "FILTERCH=FILECH,...", channels counted from 0.
bool ParseMap(const std::string& text, RenderOptions& options, std::string& error)
{
    if (text.empty()) {
        return true;
    }
    options.useExplicitMap = true;
    std::set<int> fileChannels;
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto end = std::min(text.find(',', start), text.size());
        const std::string_view entry(text.data() + start, end - start);
        const auto equals = entry.find('=');
        int filterChannel = -1;
        int fileChannel = -1;
        if (equals == std::string_view::npos || !ParseInteger(entry.substr(0, equals), filterChannel) ||
            !ParseInteger(entry.substr(equals + 1), fileChannel) || filterChannel < 0 || fileChannel < 0) {
            error = "--map " + Quoted(text) + ": expected FILTERCH=FILECH pairs separated by commas, " +
                    "channels counted from 0";
            return false;
        }
        if (!options.explicitMap.emplace(filterChannel, fileChannel).second ||
            !fileChannels.insert(fileChannel).second) {
            error = "--map " + Quoted(text) + ": each filter channel and each file channel may appear once";
            return false;
        }
        start = end + 1;
    }
    return true;
}

// The settings that do not depend on the files; a malformed automation file is a usage error, found
// before any plug-in is loaded.
int ReadSettings(const ProcessOptions& options, RenderOptions& render,
                 std::vector<kelaudiofilterhost::render::AutomationLine>& automationLines)
{
    std::string error;
    if (options.blockSize < 1 || options.blockSize > kMaximumBlockSize) {
        return FailUsage("--block " + std::to_string(options.blockSize) + ": expected 1 to " +
                         std::to_string(kMaximumBlockSize) + " frames");
    }
    if (!(options.sampleRate >= 0.0) || options.sampleRate > 1e6) {
        return FailUsage("--rate: expected a sample rate in Hz up to 1000000");
    }
    if (!ParseTail(options.tail, render, error) || !ParseMap(options.map, render, error)) {
        return FailUsage(error);
    }
    if (!options.automation.empty() &&
        !kelaudiofilterhost::render::ReadAutomationFile(options.automation, automationLines, error)) {
        return FailUsage(error);
    }
    return kExitOk;
}

} // namespace

bool ParseTail(const std::string& text, kelaudiofilterhost::render::RenderOptions& options, std::string& error)
{
    if (text.empty()) {
        options.tailMode = TailMode::None;
        return true;
    }
    if (text == "auto") {
        options.tailMode = TailMode::Automatic;
        return true;
    }
    double seconds = 0.0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size() || !std::isfinite(seconds) ||
        !(seconds > 0.0) || seconds > 3600.0) {
        error = "--tail " + Quoted(text) + ": expected \"auto\" or seconds above 0, up to 3600";
        return false;
    }
    options.tailMode = TailMode::Fixed;
    options.tailSeconds = seconds;
    return true;
}

int CheckProcessSettings(const ProcessOptions& options)
{
    RenderOptions render;
    std::vector<kelaudiofilterhost::render::AutomationLine> automationLines;
    return ReadSettings(options, render, automationLines);
}

int RunProcessCommand(Settings& settings, const ProcessOptions& options)
{
    std::string error;
    RenderOptions render;
    if (IsSameFile(options.input, options.output)) {
        return FailUsage("the output " + Quoted(options.output.string()) + " is the input file " +
                         Quoted(options.input.string()) + "; writing it would destroy the input");
    }
    if (MajorFormatForExtension(options.output) == 0) {
        return FailUsage("cannot write " + Quoted(options.output.string()) + ": unknown audio file type " +
                         Quoted(options.output.extension().string()) + " (known: " + KnownAudioExtensions() + ")");
    }
    std::vector<kelaudiofilterhost::render::AutomationLine> automationLines;
    if (const int status = ReadSettings(options, render, automationLines); status != kExitOk) {
        return status;
    }
    MidiFile midi;
    if (const int status = ReadTimeline(options.timeline, midi, error); status != kExitOk) {
        return status == kExitUsage ? FailUsage(error) : Fail(error);
    }
    if (!settings.Load(error)) {
        return Fail(error);
    }

    AudioFileReader reader;
    if (!reader.Open(options.input, error)) {
        return Fail(error);
    }
    // Steps name where a watching parent found the plug-in when it crashed or hung.
    kelcore::trail::SetStep("create");
    auto filter = CreateFilter(options.id, error);
    if (!filter) {
        return Fail(error);
    }
    kelcore::trail::SetStep("configure");
    RequestChannelLayout(*filter, reader.GetChannelCount());
    if (const int status = ApplyFilterSettings(*filter, options.settings, error); status != kExitOk) {
        return status == kExitUsage ? FailUsage(error) : Fail(error);
    }

    render.blockSize = options.blockSize;
    render.sampleRate = options.sampleRate > 0.0 ? options.sampleRate : reader.GetSampleRate();
    const double seconds =
        reader.GetFrameCount() > 0 ? static_cast<double>(reader.GetFrameCount()) / render.sampleRate : 0.0;
    Progress progress("rendering", !options.quiet && options.progress && seconds >= kProgressFromSeconds);
    const auto label = options.input.filename().string();
    render.progress = [&progress, &label](double fraction) { progress.Fraction(fraction, label); };
    if (const int status = ApplyTimeline(options.timeline, midi, *filter, render.sampleRate, render, error);
        status != kExitOk) {
        return status == kExitUsage ? FailUsage(error) : Fail(error);
    }
    if (!options.automation.empty() &&
        !render.automation.Resolve(automationLines, *filter, render.sampleRate, error)) {
        return Fail("automation " + Quoted(options.automation.string()) + ", " + error);
    }

    kelcore::trail::SetStep("prepare");
    Renderer renderer;
    if (!renderer.Prepare(filter, reader.GetChannelCount(), render, error)) {
        return Fail(error);
    }
    AtomicAudioFileWriter writer;
    if (!writer.Open(options.output, reader.GetChannelCount(), static_cast<int>(std::lround(render.sampleRate)),
                     reader.GetFormat(), error)) {
        return Fail(error);
    }
    kelcore::trail::SetStep("process");
    RenderReport report;
    if (!renderer.Run(reader, writer, report, error)) {
        writer.Abort();
        return Fail("processing " + Quoted(options.input.string()) + " through " +
                    Quoted(filter->GetComponentID()) + " failed: " + error);
    }
    progress.Finish();
    kelcore::trail::SetStep("write");
    if (!writer.Commit(error)) {
        return Fail(error);
    }
    if (!options.quiet) {
        const double rate = render.sampleRate;
        std::cout << "Rendered " << options.input.string() << " through " << Quoted(filter->GetComponentID())
                  << " into "
                  << options.output.string() << ": " << reader.GetChannelCount() << " channels, "
                  << static_cast<long long>(std::lround(rate)) << " Hz, "
                  << FormatSeconds(static_cast<double>(report.inputFrames) / rate);
        if (report.tailFrames > 0) {
            std::cout << " + " << FormatSeconds(static_cast<double>(report.tailFrames) / rate) << " tail";
        }
        std::cout << "; latency " << report.latency << " frames compensated; " << report.instances
                  << (report.instances == 1 ? " instance" : " instances") << "; peak "
                  << FormatDecibels(report.input.peak) << " in, " << FormatDecibels(report.output.peak)
                  << " out; RMS " << FormatDecibels(report.input.GetRms()) << " in, "
                  << FormatDecibels(report.output.GetRms()) << " out";
        if (const double factor = report.GetRealTimeFactor(rate); factor > 0.0) {
            std::cout << "; " << static_cast<long long>(std::lround(factor)) << "x real time";
        }
        std::cout << ".\n";
    }
    return kExitOk;
}

} // namespace kafh
