// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/kafh/Cli.h"

#include "examples/ExampleFilters.h"
#include "kelaudiofilterhost/catalogue/PluginModule.h"
#include "kelaudiofilterhost/framework/AudioFilterFactory.h"
#include "kelaudiofilterhost/services/Config.h"
#include "kelaudiofilterhost/services/Trace.h"
#include "kelaudiofilterhost/vst2/VSTTechnology.h"
#include "kelaudiofilterhost/vst3/VST3Technology.h"
#include "tools/kafh/Checks.h"
#include "tools/kafh/Commands.h"
#include "tools/kafh/Console.h"
#include "tools/kafh/Isolation.h"
#include "tools/kafh/ScanCommand.h"
#include "tools/kafh/Settings.h"
#include "tools/kafh/Signals.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <exception>
#include <iostream>

namespace kafh {

namespace {

using namespace kelaudiofilterhost;

constexpr double kMinimumTimeout = 0.1;
constexpr double kMaximumTimeout = 3600.0;
// Below telephone quality no audio file is made; above it, only measurement gear goes.
constexpr double kMinimumSampleRate = 8000.0;
constexpr double kMaximumSampleRate = 1000000.0;

std::string FormatNumber(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

constexpr const char* kDescription =
    "kafh, the command-line host of kelaudiofilterhost: finds VST plug-ins, keeps a catalogue of them,\n"
    "shows what is inside them, and renders audio files through them and through internal filters.";

// One occurrence, one value: "--param A=1 IN OUT" must not swallow IN and OUT.
CLI::Option* AddRepeatable(CLI::App& command, const std::string& name, std::vector<std::string>& values,
                           const std::string& description, const std::string& typeName)
{
    return command.add_option(name, values, description)->type_name(typeName)->allow_extra_args(false);
}

void AddFilterSettings(CLI::App& command, FilterSettingsOptions& options)
{
    AddRepeatable(command, "--param", options.parameters,
                  "set a parameter, by the name info shows (or its index), to a plain value; repeatable",
                  "NAME=VALUE");
    command.add_option("--preset", options.presetFile, "load a preset file first: one made by kafh preset save, or a .fxp, .fxb or .vstpreset file")
        ->type_name("FILE");
}

CLI::Validator NumberFrom(double low, double high, const std::string& unit);

// A MIDI file to play and the tempo the plug-ins are told (render and process).
void AddTimeline(CLI::App& command, ProcessOptions::Timeline& timeline)
{
    command.add_option("--midi", timeline.midi, "play this Standard MIDI File into the filter; its tempo map sets "
                                                "the positions plug-ins see")
        ->type_name("FILE.mid");
    command.add_option("--tempo", timeline.tempo, "tempo told to plug-ins, instead of the MIDI file's")
        ->type_name("BPM");
    command.add_option("--time-signature", timeline.timeSignature,
                       "time signature told to plug-ins, instead of the MIDI file's")
        ->type_name("N/D");
}

// The plug-in runs in a watched child process unless --in-process is given.
void AddIsolation(CLI::App& command, IsolationOptions& options, const std::string& timeoutText)
{
    command.add_flag("--in-process", options.inProcess,
                     "run the plug-in inside kafh, not in a watched child process (for debugging it)");
    command.add_option("--timeout", options.timeoutSeconds, timeoutText)
        ->check(NumberFrom(kMinimumTimeout, kMaximumTimeout, "seconds"))
        ->default_val(30);
}

// A number option between low and high, both included; NaN and infinities are refused, since a
// NaN timeout would otherwise pass every range check and time out every module.
CLI::Validator NumberFrom(double low, double high, const std::string& unit)
{
    const auto expected = "expected " + unit + " from " + FormatNumber(low) + " to " + FormatNumber(high);
    return CLI::Validator(
        [low, high, expected](std::string& text) -> std::string {
            double value = 0.0;
            const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
            if (result.ec != std::errc() || result.ptr != text.data() + text.size() || !std::isfinite(value) ||
                value < low || value > high) {
                return Quoted(text) + ": " + expected;
            }
            return {};
        },
        "", "NumberFrom");
}

// The word that should have named a command; empty when the arguments hold none.
std::string FirstWord(CLI::App& app, int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--config") {
            ++i;
            continue;
        }
        if (!argument.empty() && argument[0] == '-') {
            continue;
        }
        try {
            app.get_subcommand(argument);
            return {};
        } catch (const CLI::OptionNotFound&) {
            return argument;
        }
    }
    return {};
}

void StartLibrary(bool verbose)
{
    if (verbose) {
        kelcore::debug::SetTraceConfiguration("*=5");
    }
    kelcore::config::SetClientName(u"kafh");
    PluginModule::SetLocaleIdentifier(kelcore::UTF8to16(kelcore::Locale::Default().GetIdentifier()));
    vst::RegisterVSTTechnology();
    vst3::RegisterVST3Technology();
    examples::RegisterExampleFilters();
    Initialize();
}

} // namespace

int RunKafh(int argc, char** argv)
{
    CLI::App app(kDescription, "kafh");
    app.set_version_flag("--version", std::string("kafh ") + KAFH_VERSION);
    app.require_subcommand(1);
    app.fallthrough();
    std::string configDirectory;
    bool verbose = false;
    auto* configOption = app.add_option("--config", configDirectory,
                   "settings folder with the catalogue and banned lists (default $XDG_CONFIG_HOME/kafh, "
                   "else ~/.config/kafh)")
        ->type_name("DIR");
    app.add_flag("-v,--verbose", verbose, "trace what the library does, on standard error");

    ScanOptions scan;
    std::string technology = "all";
    std::vector<std::string> scanDirectories;
    auto* scanCommand = app.add_subcommand(
        "scan", "find plug-ins and add them to the catalogue; each module is scanned in a child process, and one "
                "that crashes or hangs is banned");
    scanCommand->add_option("--tech", technology, "technology to scan")
        ->check(CLI::IsMember({"vst2", "vst3", "all"}))
        ->default_val("all");
    AddRepeatable(*scanCommand, "--dir", scanDirectories,
                  "scan this folder instead of the default ones (VST_PATH, /usr/lib/vst, VST3_PATH, /usr/lib/vst3, ...); "
                  "repeatable", "DIR");
    scanCommand->add_flag("--rescan", scan.rescan, "scan catalogued modules again, not only new ones");
    scanCommand->add_option("--timeout", scan.timeoutSeconds, "seconds one module may take before it is banned")
        ->check(NumberFrom(kMinimumTimeout, kMaximumTimeout, "seconds"))
        ->default_val(30);
    scanCommand->add_option("-j,--jobs", scan.jobs, "modules scanned at a time, each in a child process (default: "
                                                    "the number of cores)")
        ->check(CLI::Range(1, 1024));

    bool json = false;
    auto* listCommand = app.add_subcommand("list", "list every filter kafh can create: internal filters and "
                                                   "the catalogue's plug-ins");
    listCommand->add_flag("--json", json, "print a JSON array");
    bool instruments = false;
    listCommand->add_flag("--instruments", instruments, "list the instruments, with the IDs kafh render takes");

    std::string id;
    FilterSettingsOptions filterSettings;
    auto* infoCommand = app.add_subcommand("info", "show a filter's buses, parameters, programs, latency and flags");
    infoCommand->add_option("ID", id, "component identifier (or a unique filter name), as kafh list shows")
        ->required();
    infoCommand->add_flag("--json", json, "print a JSON object");
    AddFilterSettings(*infoCommand, filterSettings);
    IsolationOptions isolation;
    const std::string workTimeout = "seconds the plug-in may take before it is stopped";
    AddIsolation(*infoCommand, isolation, workTimeout);

    ProcessOptions process;
    std::vector<std::string> processFiles;
    BatchOptions batch;
    auto* processCommand = app.add_subcommand("process", "render an audio file through a filter, or many files "
                                                         "into a folder (--out-dir)");
    processCommand->add_option("ID", process.id, "the filter")->required();
    processCommand->add_option("FILES", processFiles,
                               "IN OUT: the input audio file (any format libsndfile reads) and the output, whose "
                               "type comes from its extension; with --out-dir, every file is an input")
        ->required();
    auto* outDirOption =
        processCommand->add_option("--out-dir", batch.outputDirectory,
                                   "render every file given into this folder, under its own name, each in a "
                                   "child process of its own")
            ->type_name("DIR");
    processCommand->add_option("--format", batch.format, "with --out-dir: the outputs' type, by extension "
                                                         "(default: each input's)")
        ->type_name("EXT")
        ->needs(outDirOption);
    processCommand->add_option("-j,--jobs", batch.jobs, "with --out-dir: files rendered at a time (default: the "
                                                        "number of cores)")
        ->check(CLI::Range(1, kMaximumWorkers))
        ->needs(outDirOption);
    AddFilterSettings(*processCommand, process.settings);
    processCommand->add_option("--block", process.blockSize, "frames per processing block")->default_val(1024);
    processCommand
        ->add_option("--rate", process.sampleRate,
                     "sample rate in Hz told to the filter and written, " + FormatNumber(kMinimumSampleRate) +
                         " to " + FormatNumber(kMaximumSampleRate) + " (default: the input's)")
        ->check(NumberFrom(kMinimumSampleRate, kMaximumSampleRate, "a sample rate in Hz"));
    processCommand->add_option("--tail", process.tail,
                               "render past the end: seconds, or \"auto\" (the filter's tail, else until silent)")
        ->type_name("SECONDS|auto");
    processCommand->add_option("--map", process.map,
                               "one filter instance with this channel map, channels from 0; other channels pass "
                               "through (default: one instance per group of channels)")
        ->type_name("FILTERCH=FILECH,...");
    processCommand->add_option("--automation", process.automation,
                               "parameter changes at times of the input: lines of TIME PARAMETER VALUE [ramp]")
        ->type_name("FILE");
    processCommand->add_flag("-q,--quiet", process.quiet, "print nothing when all goes well");
    AddTimeline(*processCommand, process.timeline);
    AddIsolation(*processCommand, isolation, "seconds the plug-in may go without progress before it is stopped");

    InstrumentRenderOptions instrument;
    std::string renderOutput;
    auto* renderCommand = app.add_subcommand("render", "play a MIDI file into an instrument and write what it plays");
    renderCommand->add_option("ID", instrument.id, "the instrument, as kafh list --instruments shows")->required();
    renderCommand->add_option("OUT", renderOutput, "output audio file; its type comes from its extension")->required();
    AddTimeline(*renderCommand, instrument.timeline);
    renderCommand->add_option("--length", instrument.lengthSeconds, "seconds to render (default: the MIDI file's length)")
        ->check(NumberFrom(0.001, 86400.0, "seconds"));
    renderCommand->add_option("--tail", instrument.tail, "render past the end: seconds, or \"auto\" (until silent)")
        ->type_name("SECONDS|auto");
    renderCommand
        ->add_option("--rate", instrument.sampleRate,
                     "sample rate in Hz, " + FormatNumber(kMinimumSampleRate) + " to " + FormatNumber(kMaximumSampleRate))
        ->check(NumberFrom(kMinimumSampleRate, kMaximumSampleRate, "a sample rate in Hz"))
        ->default_val(48000);
    renderCommand->add_option("--channels", instrument.channels, "output channels")->default_val(2);
    renderCommand->add_option("--block", instrument.blockSize, "frames per processing block")->default_val(1024);
    AddFilterSettings(*renderCommand, instrument.settings);
    renderCommand->add_flag("-q,--quiet", instrument.quiet, "print nothing when all goes well");
    AddIsolation(*renderCommand, isolation, "seconds the plug-in may go without progress before it is stopped");

    std::string presetFile;
    auto* presetCommand = app.add_subcommand("preset", "save a filter's settings to a file, or load them");
    presetCommand->require_subcommand(1);
    auto* presetSave = presetCommand->add_subcommand("save", "save the filter's settings (after --param) to FILE");
    presetSave->add_option("ID", id, "the filter")->required();
    presetSave->add_option("FILE", presetFile, "preset file to write")->required();
    AddFilterSettings(*presetSave, filterSettings);
    AddIsolation(*presetSave, isolation, workTimeout);
    auto* presetLoad = presetCommand->add_subcommand("load", "load FILE into the filter and show its parameters");
    presetLoad->add_option("ID", id, "the filter")->required();
    presetLoad->add_option("FILE", presetFile, "preset file to read")->required();
    presetLoad->add_flag("--json", json, "print a JSON object");
    AddIsolation(*presetLoad, isolation, workTimeout);
    std::string presetOutput;
    auto* presetImport = presetCommand->add_subcommand(
        "import", "turn a .fxp, .fxb or .vstpreset file of another host into a kafh preset");
    presetImport->add_option("FILE", presetFile, "the .fxp, .fxb or .vstpreset file")->required();
    presetImport->add_option("ID", id, "the filter")->required();
    presetImport->add_option("OUT", presetOutput, "kafh preset file to write")->required();
    AddIsolation(*presetImport, isolation, workTimeout);
    auto* presetExport = presetCommand->add_subcommand(
        "export", "write a preset as a .fxp, .fxb or .vstpreset file other hosts read");
    presetExport->add_option("PRESET", presetFile, "kafh preset (or .fxp, .fxb, .vstpreset) to export")->required();
    presetExport->add_option("ID", id, "the filter")->required();
    presetExport->add_option("OUT", presetOutput, "file to write; its extension names the format")->required();
    AddIsolation(*presetExport, isolation, workTimeout);

    auto* presetsCommand = app.add_subcommand("presets", "list a filter's factory presets (programs)");
    presetsCommand->add_option("ID", id, "the filter")->required();
    presetsCommand->add_flag("--json", json, "print a JSON array");
    AddIsolation(*presetsCommand, isolation, workTimeout);

    EditOptions edit;
    auto* editCommand = app.add_subcommand("edit", "open a filter's own editor in a window (needs an X display); "
                                                   "close the window or press Ctrl+C to end");
    editCommand->add_option("ID", edit.id, "the filter")->required();
    AddFilterSettings(*editCommand, edit.settings);
    editCommand->add_option("--save", edit.saveFile, "save the settings to this preset file when the window closes")
        ->type_name("FILE");
    auto* screenshotOption = editCommand->add_option("--screenshot", edit.screenshotFile,
                            "write what the editor shows to this PNG file once it has drawn, and end")
        ->type_name("FILE.png");
    editCommand->add_option("--wait", edit.waitSeconds, "seconds a screenshot waits for the editor's drawing")
        ->check(NumberFrom(kMinimumTimeout, kMaximumTimeout, "seconds"))
        ->default_val(10)
        ->needs(screenshotOption);
    AddIsolation(*editCommand, isolation, "seconds the editor may go without an idle call returning before it is stopped");

    std::string locator;
    auto* banCommand = app.add_subcommand("ban", "keep a module out of scans and the catalogue");
    banCommand->add_option("LOCATOR", locator, "module path, or \"2:PATH\" / \"3:PATH\"")->required();
    auto* unbanCommand = app.add_subcommand("unban", "let a banned module be scanned again");
    unbanCommand->add_option("LOCATOR", locator, "module path, or \"2:PATH\" / \"3:PATH\"")->required();
    auto* bannedCommand = app.add_subcommand("banned", "print the banned modules, one path per line");

    CheckOptions check;
    std::string groupList;
    for (const auto& group : check::Groups()) {
        groupList += std::string(groupList.empty() ? "" : ", ") + group.name;
    }
    auto* checkCommand = app.add_subcommand(
        "check", "check that plug-ins behave: each group of checks runs against each plug-in in a watched child "
                 "process, so a crash or hang fails that group and the run goes on");
    checkCommand->add_option("ID", check.ids, "the filters to check");
    checkCommand->add_flag("--all", check.all, "check every plug-in in the catalogue");
    AddRepeatable(*checkCommand, "--only", check.only, "run only these groups (" + groupList + ")", "GROUPS");
    AddRepeatable(*checkCommand, "--skip", check.skip, "leave these groups out", "GROUPS");
    checkCommand->add_flag("--json", check.json, "print a JSON array, one object per plug-in");
    checkCommand->add_option("--timeout", check.timeoutSeconds, "seconds one group may take against one plug-in")
        ->check(NumberFrom(kMinimumTimeout, kMaximumTimeout, "seconds"))
        ->default_val(30);
    checkCommand
        ->add_option("--rate", check.rates,
                     "a sample rate the rates group checks; repeatable; the other groups run at the first "
                     "(default: 22050 to 192000 Hz, the others at 48000)")
        ->type_name("HZ")
        ->allow_extra_args(false)
        ->check(NumberFrom(kMinimumSampleRate, kMaximumSampleRate, "a sample rate in Hz"));
    checkCommand->add_option("--length", check.seconds, "seconds of audio each render runs")
        ->check(NumberFrom(0.01, 60.0, "seconds"))
        ->default_val(0.5);

    DemoOptions demo;
    auto* demoCommand = app.add_subcommand("demo", "scan our example plug-ins (and zam's, where installed) into a "
                                                   "temporary catalogue and render a test signal through them");
    demoCommand->add_option("--timeout", demo.timeoutSeconds, "seconds one module may take to scan")
        ->check(NumberFrom(kMinimumTimeout, kMaximumTimeout, "seconds"))
        ->default_val(30);
    demoCommand->add_flag("--keep", demo.keep, "keep the temporary settings folder");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) {
            return app.exit(error);
        }
        if (const auto word = FirstWord(app, argc, argv); !word.empty() && app.get_subcommands().empty()) {
            return FailUsage("unknown command " + Quoted(word) +
                             " (commands: scan, list, info, process, render, preset, presets, check, edit, ban, unban, banned, demo)");
        }
        std::cerr << "kafh: error: " << error.what() << "\n(see kafh --help, or kafh COMMAND --help)\n";
        return kExitUsage;
    }
    if (configOption->count() > 0) {
        std::error_code status;
        if (configDirectory.empty()) {
            return FailUsage("--config \"\": expected a settings folder");
        }
        if (std::filesystem::exists(configDirectory, status) &&
            !std::filesystem::is_directory(configDirectory, status)) {
            return FailUsage("--config " + Quoted(configDirectory) + ": not a folder");
        }
    }

    try {
        StartLibrary(verbose);
        Settings settings(configDirectory.empty() ? Settings::DefaultDirectory()
                                                  : std::filesystem::path(configDirectory));
        if (*demoCommand) {
            demo.verbose = verbose;
            return RunDemoCommand(demo);
        }
        if (settings.GetDirectory().empty()) {
            return Fail("no settings folder: set HOME or XDG_CONFIG_HOME, or give --config DIR");
        }
        if (*scanCommand) {
            if (technology == "vst2") {
                scan.technologies = {VST};
            } else if (technology == "vst3") {
                scan.technologies = {VST3};
            }
            scan.directories.assign(scanDirectories.begin(), scanDirectories.end());
            scan.verbose = verbose;
            return RunScanCommand(settings, scan);
        }
        if (*listCommand) {
            return instruments ? RunListInstrumentsCommand(settings, json) : RunListCommand(settings, json);
        }
        if (*renderCommand) {
            instrument.output = renderOutput;
            return RunPluginWork(settings, isolation, {instrument.id, renderOutput, true,
                                                       [&] { return RunRenderCommand(settings, instrument); }});
        }
        if (*infoCommand) {
            return RunPluginWork(settings, isolation,
                                 {id, {}, false, [&] { return RunInfoCommand(settings, id, filterSettings, json); }});
        }
        if (*processCommand) {
            if (outDirOption->count() > 0) {
                batch.inputs.assign(processFiles.begin(), processFiles.end());
                return RunBatchProcessCommand(settings, isolation, process, batch);
            }
            if (processFiles.size() != 2) {
                return FailUsage("process takes IN and OUT, or input files and --out-dir DIR");
            }
            process.input = processFiles[0];
            process.output = processFiles[1];
            return RunPluginWork(settings, isolation, {process.id, process.output, true, [&] {
                                     return RunProcessCommand(settings, process);
                                 }});
        }
        if (*presetSave) {
            return RunPluginWork(settings, isolation, {id, presetFile, false, [&] {
                                     return RunPresetSaveCommand(settings, id, presetFile, filterSettings);
                                 }});
        }
        if (*presetLoad) {
            return RunPluginWork(settings, isolation,
                                 {id, {}, false, [&] { return RunPresetLoadCommand(settings, id, presetFile, json); }});
        }
        if (*presetImport || *presetExport) {
            const bool importing = presetImport->parsed();
            return RunPluginWork(settings, isolation, {id, presetOutput, false, [&] {
                                     return RunPresetConvertCommand(settings, id, presetFile, presetOutput, importing);
                                 }});
        }
        if (*presetsCommand) {
            return RunPluginWork(settings, isolation,
                                 {id, {}, false, [&] { return RunPresetsCommand(settings, id, json); }});
        }
        if (*checkCommand) {
            return RunCheckCommand(settings, check);
        }
        if (*editCommand) {
            edit.verbose = verbose;
            StopGentlyOnInterrupt();
            const auto output = edit.screenshotFile.empty() ? edit.saveFile : edit.screenshotFile;
            return RunPluginWork(settings, isolation,
                                 {edit.id, output, true, [&] { return RunEditCommand(settings, edit); }});
        }
        if (*banCommand) {
            return RunBanCommand(settings, locator);
        }
        if (*unbanCommand) {
            return RunUnbanCommand(settings, locator);
        }
        if (*bannedCommand) {
            return RunBannedCommand(settings);
        }
    } catch (const std::exception& exception) {
        return Fail(std::string("unexpected failure: ") + exception.what());
    }
    return FailUsage("no command given");
}

} // namespace kafh
