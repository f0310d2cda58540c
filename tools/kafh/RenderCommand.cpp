// SPDX-License-Identifier: GPL-3.0-or-later
// kafh render: a MIDI file played into an instrument; and the timeline (MIDI, tempo) that render
// and process share.
#include "kelaudiofilterhost/services/PluginCallTrail.h"
#include "tools/kafh/AudioFile.h"
#include "tools/kafh/Commands.h"
#include "tools/kafh/Console.h"
#include "tools/kafh/FilterLookup.h"
#include "tools/kafh/Render.h"
#include "tools/kafh/Settings.h"

#include <sndfile.h>

#include <charconv>
#include <cmath>
#include <iostream>

namespace kafh {

namespace {

using namespace kelaudiofilterhost;
using kelaudiofilterhost::render::SilenceSource;

constexpr int kMaximumBlockSize = 65536;
constexpr int kMaximumChannels = 64;
constexpr double kProgressFromSeconds = 30.0;
// A file's tempo map would place the note events; a sample rate is needed for reading, not kept.
constexpr double kReadingRate = 48000.0;

bool ParseSignature(const std::string& text, int& numerator, int& denominator)
{
    const auto slash = text.find('/');
    if (slash == std::string::npos) {
        return false;
    }
    const auto parse = [](std::string_view part, int& value) {
        const auto result = std::from_chars(part.data(), part.data() + part.size(), value);
        return result.ec == std::errc() && result.ptr == part.data() + part.size();
    };
    return parse(std::string_view(text).substr(0, slash), numerator) &&
           parse(std::string_view(text).substr(slash + 1), denominator);
}

} // namespace

int ReadTimeline(const ProcessOptions::Timeline& timeline, MidiFile& midi, std::string& error)
{
    if (timeline.tempo != 0.0 && !(timeline.tempo > 0.0 && timeline.tempo <= 1000.0)) {
        error = "--tempo: expected beats per minute above 0, up to 1000";
        return kExitUsage;
    }
    int numerator = 4;
    int denominator = 4;
    if (!timeline.timeSignature.empty()) {
        TempoMap check(kReadingRate);
        if (!ParseSignature(timeline.timeSignature, numerator, denominator) ||
            !check.AddChange(0, 120.0, numerator, denominator, error)) {
            error = "--time-signature " + Quoted(timeline.timeSignature) +
                    ": expected N/D, N from 1 to 64 and D a power of 2 up to 64";
            return kExitUsage;
        }
    }
    if (!timeline.midi.empty() && !midi.Read(timeline.midi, kReadingRate, error)) {
        error = "MIDI file " + Quoted(timeline.midi.string()) + ": " + error;
        return kExitUsage;
    }
    return kExitOk;
}

int ApplyTimeline(const ProcessOptions::Timeline& timeline, const MidiFile& midi, const AudioFilter& filter,
                  double sampleRate, RenderOptions& options, std::string& error)
{
    if (!timeline.midi.empty()) {
        if (!filter.TakesEvents()) {
            error = "filter " + Quoted(filter.GetComponentID()) + " takes no MIDI events; --midi " +
                    Quoted(timeline.midi.string()) + " is for instruments and effects that listen to MIDI";
            return kExitUsage;
        }
        render::SetMidi(midi, sampleRate, options);
    }
    if (timeline.tempo > 0.0 || !timeline.timeSignature.empty()) {
        // Given on the command line, tempo and signature hold for the whole render.
        int numerator = 4;
        int denominator = 4;
        ParseSignature(timeline.timeSignature, numerator, denominator);
        options.tempoMap = std::make_shared<TempoMap>(sampleRate, timeline.tempo > 0.0 ? timeline.tempo : 120.0,
                                                      numerator, denominator);
    }
    return kExitOk;
}

int RunRenderCommand(Settings& settings, const InstrumentRenderOptions& options)
{
    std::string error;
    RenderOptions render;
    if (options.blockSize < 1 || options.blockSize > kMaximumBlockSize) {
        return FailUsage("--block " + std::to_string(options.blockSize) + ": expected 1 to " +
                         std::to_string(kMaximumBlockSize) + " frames");
    }
    if (options.channels < 1 || options.channels > kMaximumChannels) {
        return FailUsage("--channels " + std::to_string(options.channels) + ": expected 1 to " +
                         std::to_string(kMaximumChannels));
    }
    if (options.timeline.midi.empty() && !(options.lengthSeconds > 0.0)) {
        return FailUsage("nothing to render: give --midi FILE.mid or --length SECONDS");
    }
    if (!ParseTail(options.tail, render, error)) {
        return FailUsage(error);
    }
    if (MajorFormatForExtension(options.output) == 0) {
        return FailUsage("cannot write " + Quoted(options.output.string()) + ": unknown audio file type " +
                         Quoted(options.output.extension().string()) + " (known: " + KnownAudioExtensions() + ")");
    }
    MidiFile midi;
    if (const int status = ReadTimeline(options.timeline, midi, error); status != kExitOk) {
        return status == kExitUsage ? FailUsage(error) : Fail(error);
    }
    if (!settings.Load(error)) {
        return Fail(error);
    }

    kelcore::trail::SetStep("create");
    auto filter = CreateFilter(options.id, error);
    if (!filter) {
        return Fail(error);
    }
    kelcore::trail::SetStep("configure");
    RequestChannelLayout(*filter, options.channels);
    if (const int status = ApplyFilterSettings(*filter, options.settings, error); status != kExitOk) {
        return status == kExitUsage ? FailUsage(error) : Fail(error);
    }
    render.blockSize = options.blockSize;
    render.sampleRate = options.sampleRate;
    // An instrument follows a tempo even without a file that gives one.
    render.tempoMap = std::make_shared<TempoMap>(render.sampleRate);
    if (const int status = ApplyTimeline(options.timeline, midi, *filter, render.sampleRate, render, error);
        status != kExitOk) {
        return status == kExitUsage ? FailUsage(error) : Fail(error);
    }
    const double seconds = options.lengthSeconds > 0.0 ? options.lengthSeconds : midi.GetLengthInSeconds();
    const auto frames = static_cast<std::int64_t>(std::llround(seconds * render.sampleRate));
    Progress progress("rendering", !options.quiet && seconds >= kProgressFromSeconds);
    const auto label = options.output.filename().string();
    render.progress = [&progress, &label](double fraction) { progress.Fraction(fraction, label); };

    kelcore::trail::SetStep("prepare");
    Renderer renderer;
    if (!renderer.Prepare(filter, options.channels, render, error)) {
        return Fail(error);
    }
    SilenceSource silence(options.channels, render.sampleRate, frames);
    AtomicAudioFileWriter writer;
    if (!writer.Open(options.output, options.channels, static_cast<int>(std::lround(render.sampleRate)),
                     SF_FORMAT_FLOAT, error)) {
        return Fail(error);
    }
    kelcore::trail::SetStep("process");
    RenderReport report;
    if (!renderer.Run(silence, writer, report, error)) {
        writer.Abort();
        return Fail("rendering through " + Quoted(filter->GetComponentID()) + " failed: " + error);
    }
    progress.Finish();
    kelcore::trail::SetStep("write");
    if (!writer.Commit(error)) {
        return Fail(error);
    }
    if (!options.quiet) {
        const double rate = render.sampleRate;
        std::cout << "Rendered " << (options.timeline.midi.empty() ? std::string("silence")
                                                                   : options.timeline.midi.string())
                  << " through " << Quoted(filter->GetComponentID()) << " into " << options.output.string() << ": "
                  << options.channels << " channels, " << static_cast<long long>(std::lround(rate)) << " Hz, "
                  << FormatSeconds(static_cast<double>(report.inputFrames) / rate);
        if (report.tailFrames > 0) {
            std::cout << " + " << FormatSeconds(static_cast<double>(report.tailFrames) / rate) << " tail";
        }
        std::cout << "; " << render.events.size() << " events; peak " << FormatDecibels(report.output.peak)
                  << ", RMS " << FormatDecibels(report.output.GetRms()) << ".\n";
    }
    return kExitOk;
}

} // namespace kafh
