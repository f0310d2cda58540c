// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/framework/AudioFilter.h"
#include "kelaudiofilterhost/render/MidiFile.h"
#include "kelaudiofilterhost/render/Renderer.h"

#include <filesystem>
#include <string>
#include <vector>

namespace kafh {

class Settings;
struct IsolationOptions;

/// Settings given on the command line for one filter: a preset file first, then parameters.
struct FilterSettingsOptions {
    std::string presetFile;
    std::vector<std::string> parameters;
};

/// Loads the preset file and applies the parameter assignments. kExitOk, or the exit code with
/// a message naming the problem.
int ApplyFilterSettings(kelaudiofilterhost::AudioFilter& filter, const FilterSettingsOptions& options,
                        std::string& error);

int RunListCommand(Settings& settings, bool json);
/// Every instrument with the ID kafh render takes: VST 2 from the catalogue's module records (each
/// opened to read its unique ID), VST 3 and shell members from descriptors with the synth flag.
int RunListInstrumentsCommand(Settings& settings, bool json);
int RunInfoCommand(Settings& settings, const std::string& id, const FilterSettingsOptions& options, bool json);
int RunPresetsCommand(Settings& settings, const std::string& id, bool json);
int RunPresetSaveCommand(Settings& settings, const std::string& id, const std::filesystem::path& file,
                         const FilterSettingsOptions& options);
/// `preset import` (importing: FILE of another host to a kafh preset) and `preset export`.
int RunPresetConvertCommand(Settings& settings, const std::string& id, const std::filesystem::path& input,
                            const std::filesystem::path& output, bool importing);
int RunPresetLoadCommand(Settings& settings, const std::string& id, const std::filesystem::path& file, bool json);
int RunBanCommand(Settings& settings, const std::string& locator);
int RunUnbanCommand(Settings& settings, const std::string& locator);
int RunBannedCommand(Settings& settings);

struct ProcessOptions {
    std::string id;
    std::filesystem::path input;
    std::filesystem::path output;
    FilterSettingsOptions settings;
    int blockSize = 1024;
    /// 0: the input file's rate.
    double sampleRate = 0.0;
    /// Empty, "auto" or a number of seconds.
    std::string tail;
    /// "FILTERCH=FILECH,..."; empty for one instance per channel group.
    std::string map;
    /// A file of "TIME PARAMETER VALUE [ramp]" lines; empty for none.
    std::filesystem::path automation;
    bool quiet = false;
    /// Show a long render's progress (unless quiet); a batch shows its own.
    bool progress = true;
    /// A Standard MIDI File played into the filter, and the positions it sees.
    struct Timeline {
        std::filesystem::path midi;
        /// 0: the MIDI file's tempo map, else 120.
        double tempo = 0.0;
        /// "N/D"; empty: the MIDI file's, else 4/4.
        std::string timeSignature;
    } timeline;
};

int RunProcessCommand(Settings& settings, const ProcessOptions& options);
/// The checks of the process options that do not depend on the files: the exit code, with a message.
int CheckProcessSettings(const ProcessOptions& options);

/// `process` with --out-dir: many files through the same filter and settings.
struct BatchOptions {
    std::vector<std::filesystem::path> inputs;
    std::filesystem::path outputDirectory;
    /// The outputs' extension, with or without its dot; empty: each input's.
    std::string format;
    /// Files rendered at a time, each in a child process; 0: one per core.
    unsigned jobs = 0;
};

/// Renders each input into the output folder in a watched child process of its own, batch.jobs at a
/// time: a file that fails or whose plug-in crashes is reported and the others go on. Two inputs that
/// would give the same output name are refused before anything starts.
int RunBatchProcessCommand(Settings& settings, const IsolationOptions& isolation, const ProcessOptions& options,
                           const BatchOptions& batch);

/// What the render command plays into an instrument.
struct InstrumentRenderOptions {
    std::string id;
    std::filesystem::path output;
    FilterSettingsOptions settings;
    ProcessOptions::Timeline timeline;
    int blockSize = 1024;
    double sampleRate = 48000.0;
    int channels = 2;
    /// 0: the MIDI file's length.
    double lengthSeconds = 0.0;
    /// Empty, "auto" or a number of seconds.
    std::string tail;
    bool quiet = false;
};

int RunRenderCommand(Settings& settings, const InstrumentRenderOptions& options);

/// The timeline's MIDI file read and its options checked, before any plug-in is loaded: kExitOk, or
/// the exit code with a message.
int ReadTimeline(const ProcessOptions::Timeline& timeline, kelaudiofilterhost::MidiFile& midi, std::string& error);
/// Events and tempo map of the timeline at the rate into the render options; refuses a MIDI file for
/// a filter that takes no events. kExitOk, or the exit code with a message.
int ApplyTimeline(const ProcessOptions::Timeline& timeline, const kelaudiofilterhost::MidiFile& midi,
                  const kelaudiofilterhost::AudioFilter& filter, double sampleRate,
                  kelaudiofilterhost::render::RenderOptions& options, std::string& error);

/// --tail: empty for none, "auto", or seconds above 0 up to 3600. False with a message otherwise.
bool ParseTail(const std::string& text, kelaudiofilterhost::render::RenderOptions& options, std::string& error);

struct CheckOptions {
    std::vector<std::string> ids;
    bool all = false;
    /// Group names, each entry possibly a comma-separated list.
    std::vector<std::string> only;
    std::vector<std::string> skip;
    bool json = false;
    /// Seconds one group may take against one plug-in.
    double timeoutSeconds = 30.0;
    /// The rates group's rates; the other groups run at the first. Empty: the defaults.
    std::vector<double> rates;
    /// Seconds of audio per render.
    double seconds = 0.5;
};

int RunCheckCommand(Settings& settings, const CheckOptions& options);

struct EditOptions {
    std::string id;
    FilterSettingsOptions settings;
    /// Where the settings go as a kafh preset when the window closes; empty for nowhere.
    std::filesystem::path saveFile;
    /// Where a PNG of the editor goes once it has drawn; the window then closes by itself.
    std::filesystem::path screenshotFile;
    /// The longest a screenshot waits for the editor's drawing.
    double waitSeconds = 10.0;
    /// Print a line per parameter change the editor makes.
    bool verbose = false;
};

/// Opens the filter's editor in a window of its own until the window is closed or a signal asks
/// to stop (see StopGentlyOnInterrupt). Needs an X display.
int RunEditCommand(Settings& settings, const EditOptions& options);
/// Whether the X display DISPLAY names accepts a connection.
bool CanReachXDisplay();

struct DemoOptions {
    double timeoutSeconds = 30.0;
    bool verbose = false;
    /// Keep the temporary settings folder (for looking at what the demo catalogued).
    bool keep = false;
};

int RunDemoCommand(const DemoOptions& options);

} // namespace kafh
