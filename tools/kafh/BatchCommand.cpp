// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/isolation/IsolatedSuite.h"
#include "kelaudiofilterhost/services/File.h"
#include "tools/kafh/AudioFile.h"
#include "tools/kafh/Commands.h"
#include "tools/kafh/Console.h"
#include "tools/kafh/Isolation.h"
#include "tools/kafh/Signals.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <map>
#include <sstream>
#include <thread>

#include <unistd.h>

namespace kafh {

namespace {

using namespace kelaudiofilterhost;
namespace fs = std::filesystem;

// The child's answer: its exit code, the length of what it wrote to standard error, that text, then
// what it wrote to standard output. Both are held back so that each file's messages come out
// together, whatever the other children print meanwhile.
bool RenderInChild(Settings& settings, const ProcessOptions& options, std::string& payload)
{
    BecomeWorker();
    // What a plug-in prints itself goes to standard error, as for one file.
    std::fflush(stdout);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    std::ostringstream printed;
    std::ostringstream errors;
    std::cout.rdbuf(printed.rdbuf());
    std::cerr.rdbuf(errors.rdbuf());
    const int status = RunProcessCommand(settings, options);
    std::cout.flush();
    std::cerr.flush();
    payload = std::to_string(status) + '\n' + std::to_string(errors.str().size()) + '\n' + errors.str() +
              printed.str();
    return true;
}

// Prints what the child held back; its exit code.
int ReportChild(const std::string& payload)
{
    int status = kExitFailure;
    std::size_t errorSize = 0;
    const auto first = payload.find('\n');
    const auto second = first == std::string::npos ? first : payload.find('\n', first + 1);
    if (second == std::string::npos) {
        return Fail("a worker's answer was cut short");
    }
    std::from_chars(payload.data(), payload.data() + first, status);
    std::from_chars(payload.data() + first + 1, payload.data() + second, errorSize);
    const std::string_view rest(payload.data() + second + 1, payload.size() - second - 1);
    errorSize = std::min(errorSize, rest.size());
    std::cerr << rest.substr(0, errorSize) << std::flush;
    std::cout << rest.substr(errorSize) << std::flush;
    return status;
}

// Each input's output: its name in the folder, with the format's extension. Usage errors before
// anything starts.
int PlanOutputs(const BatchOptions& batch, std::vector<fs::path>& outputs)
{
    std::string extension = batch.format;
    if (!extension.empty() && extension.front() != '.') {
        extension.insert(0, 1, '.');
    }
    std::map<fs::path, std::size_t> taken;
    for (std::size_t i = 0; i < batch.inputs.size(); ++i) {
        const auto& input = batch.inputs[i];
        if (!input.has_filename()) {
            return FailUsage(Quoted(input.string()) + ": expected an audio file, not a folder");
        }
        auto output = batch.outputDirectory / input.filename();
        if (!extension.empty()) {
            output.replace_extension(extension);
        }
        if (MajorFormatForExtension(output) == 0) {
            return FailUsage("cannot write " + Quoted(output.string()) + ": unknown audio file type " +
                             Quoted(output.extension().string()) + " (known: " + KnownAudioExtensions() +
                             "; --format chooses one)");
        }
        if (const auto [at, added] = taken.emplace(output.filename(), i); !added) {
            return FailUsage(Quoted(batch.inputs[at->second].string()) + " and " + Quoted(input.string()) +
                             " would both be written to " + Quoted(output.string()));
        }
        std::error_code status;
        if (fs::equivalent(input, output, status)) {
            return FailUsage("the output " + Quoted(output.string()) + " is the input file " +
                             Quoted(input.string()) + "; writing it would destroy the input");
        }
        outputs.push_back(std::move(output));
    }
    return kExitOk;
}

} // namespace

int RunBatchProcessCommand(Settings& settings, const IsolationOptions& isolation, const ProcessOptions& options,
                           const BatchOptions& batch)
{
    if (const int status = CheckProcessSettings(options); status != kExitOk) {
        return status;
    }
    std::vector<fs::path> outputs;
    if (const int status = PlanOutputs(batch, outputs); status != kExitOk) {
        return status;
    }
    std::error_code status;
    fs::create_directories(batch.outputDirectory, status);
    if (!fs::is_directory(batch.outputDirectory, status)) {
        return Fail("cannot make the output folder " + Quoted(batch.outputDirectory.string()) +
                    (status ? ": " + status.message() : std::string()));
    }

    std::vector<ProcessOptions> files(batch.inputs.size(), options);
    for (std::size_t i = 0; i < files.size(); ++i) {
        files[i].input = batch.inputs[i];
        files[i].output = outputs[i];
        files[i].progress = false;
    }
    std::vector<std::string> failed;
    if (isolation.inProcess) {
        for (const auto& file : files) {
            if (RunProcessCommand(settings, file) != kExitOk) {
                failed.push_back(file.input.string());
            }
        }
    } else {
        std::vector<isolation::SuitePart> parts;
        for (const auto& file : files) {
            parts.push_back({file.input.string(), [&settings, &file](std::string& payload) {
                                 return RenderInChild(settings, file, payload);
                             }});
        }
        isolation::SuiteOptions watch;
        // As for one file: the timeout counts time without progress.
        watch.timeout = std::chrono::milliseconds(0);
        watch.stallTimeout = std::chrono::milliseconds(std::llround(isolation.timeoutSeconds * 1000.0));
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        watch.jobs = std::min<unsigned>(batch.jobs != 0 ? batch.jobs : cores, kMaximumWorkers);
        Progress progress("rendering", !options.quiet);
        std::size_t finished = 0;
        const auto total = std::to_string(files.size());
        progress.Fraction(0.0, "0/" + total + " files");
        isolation::RunSuite(parts, watch, [&](const isolation::SuitePartResult& part) {
            CleanUpAfterWorkers();
            progress.Finish();
            bool ok = false;
            if (part.result.Completed()) {
                ok = ReportChild(part.result.payload) == kExitOk;
            } else {
                kelcore::filesupport::RemoveStaleTemporaryFiles(outputs[part.index]);
                Fail(Quoted(part.name) + ": " + NameFilter(settings, options.id) + " " + part.result.Describe());
            }
            if (!ok) {
                failed.push_back(part.name);
            }
            ++finished;
            progress.Fraction(static_cast<double>(finished) / static_cast<double>(files.size()),
                              std::to_string(finished) + "/" + total + " files");
        });
        progress.Finish();
    }
    if (!failed.empty()) {
        std::string names;
        for (const auto& name : failed) {
            names += (names.empty() ? "" : ", ") + Quoted(name);
        }
        return Fail(std::to_string(failed.size()) + " of " + std::to_string(files.size()) +
                    " files failed: " + names);
    }
    return kExitOk;
}

} // namespace kafh
