// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/isolation/ModuleScan.h"

#include "kelaudiofilterhost/catalogue/BannedPluginManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleScanner.h"
#include "kelaudiofilterhost/isolation/ChildWatch.h"
#include "kelaudiofilterhost/isolation/IsolatedJob.h"
#include "kelaudiofilterhost/isolation/JobProtocol.h"
#include "kelaudiofilterhost/isolation/ScanInternal.h"
#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/PluginCallTrail.h"
#include "kelaudiofilterhost/services/PropList.h"
#include "kelaudiofilterhost/services/Strings.h"
#include "kelaudiofilterhost/services/Trace.h"

#include <boost/intrusive_ptr.hpp>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace kelaudiofilterhost::isolation {

namespace {

// Announced just before the module is loaded: a failure before it is the host's own, never the module's.
constexpr const char* kLoadStep = internal::kScanStep;
// Between modules, in a child that takes module after module.
constexpr const char* kWaitStep = "wait";

std::string SignalText(int signal)
{
    const char* name = ::strsignal(signal);
    return "killed by signal " + std::to_string(signal) + (name != nullptr ? " (" + std::string(name) + ")" : "");
}

std::string TimeoutText(double seconds)
{
    char text[64];
    std::snprintf(text, sizeof text, "did not finish within %g s", seconds);
    return text;
}

// The call the module was in, when its back end's gate recorded one.
std::string CallText(const Result& run)
{
    if (!run.trail.inCall || run.trail.call.empty()) {
        return {};
    }
    return " in " + run.trail.call;
}

void ClassifyAnswer(ModuleScanResult& result)
{
    if (result.xml.empty()) {
        result.outcome = ModuleScanOutcome::AbnormalExit;
        result.detail = "exited during the scan without an answer";
        return;
    }
    kelcore::proplist::PropList answer;
    if (!kelcore::proplist::utils::ReadPropList(result.xml, answer)) {
        result.outcome = ModuleScanOutcome::AbnormalExit;
        result.detail = "answered with malformed data";
        return;
    }
    std::int32_t modules = 0;
    answer.GetValue("num_plugin_infos", modules);
    answer.GetValue("num_descriptors", result.descriptors);
    if (modules > 0) {
        result.outcome = ModuleScanOutcome::Described;
    } else {
        result.outcome = ModuleScanOutcome::NotDescribed;
        result.detail = "not loadable as a plug-in module, or it describes no plug-in";
    }
}

} // namespace

namespace internal {

void ClassifyScan(const ModuleScanOptions& options, ModuleScanResult& result)
{
    const auto& run = result.run;
    if (run.outcome == Outcome::NotStarted) {
        result.outcome = ModuleScanOutcome::NotStarted;
        result.detail = run.detail;
        return;
    }
    const bool loading = run.trail.step == kLoadStep;
    if (!loading && run.outcome != Outcome::Completed) {
        std::string how;
        switch (run.outcome) {
        case Outcome::TimedOut:
            how = TimeoutText(options.timeoutSeconds);
            break;
        case Outcome::Crashed:
            how = SignalText(run.signal);
            break;
        case Outcome::Failed:
            how = run.payload;
            break;
        default:
            how = "exit status " + std::to_string(run.exitCode);
            break;
        }
        result.outcome = ModuleScanOutcome::HostFailed;
        result.detail = "the scan process failed before it loaded the module (" + how + ")";
        return;
    }
    switch (run.outcome) {
    case Outcome::TimedOut:
        result.outcome = ModuleScanOutcome::TimedOut;
        result.detail = TimeoutText(options.timeoutSeconds) + CallText(run);
        return;
    case Outcome::Crashed:
        result.outcome = ModuleScanOutcome::Crashed;
        result.detail = SignalText(run.signal) + CallText(run);
        return;
    case Outcome::Lost:
        result.outcome = ModuleScanOutcome::AbnormalExit;
        result.detail = run.exitCode == 0 ? "exited during the scan without an answer"
                                          : "exited with status " + std::to_string(run.exitCode);
        return;
    case Outcome::Failed: {
        // An exception's text comes after a line break.
        const auto begin = run.payload.find_first_not_of('\n');
        result.outcome = ModuleScanOutcome::AbnormalExit;
        result.detail = "failed during the scan: " + (begin == std::string::npos ? "" : run.payload.substr(begin));
        return;
    }
    default:
        break;
    }
    result.xml = run.payload;
    ClassifyAnswer(result);
}

std::string ModuleRequest(const PluginLocator& locator)
{
    const auto path = kelcore::UTF16to8(locator.GetPath());
    return std::to_string(static_cast<int>(locator.GetTechnologyType())) + " " + std::to_string(path.size()) + "\n" +
           path;
}

bool TakeModuleRequest(std::string& buffer, PluginLocator& locator, bool& malformed)
{
    const auto lineEnd = buffer.find('\n');
    if (lineEnd == std::string::npos) {
        return false;
    }
    const auto space = buffer.find(' ');
    int type = 0;
    std::size_t size = 0;
    if (space == std::string::npos || space > lineEnd ||
        std::from_chars(buffer.data(), buffer.data() + space, type).ec != std::errc() ||
        std::from_chars(buffer.data() + space + 1, buffer.data() + lineEnd, size).ec != std::errc()) {
        malformed = true;
        return false;
    }
    if (buffer.size() - lineEnd - 1 < size) {
        return false;
    }
    locator = PluginLocator(static_cast<TechnologyType>(type), kelcore::UTF8to16(buffer.substr(lineEnd + 1, size)));
    buffer.erase(0, lineEnd + 1 + size);
    return true;
}

} // namespace internal

namespace {

// The next request of the scan-modules job; false at the end of the requests.
bool ReadRequest(std::string& buffer, PluginLocator& locator)
{
    for (;;) {
        bool malformed = false;
        if (internal::TakeModuleRequest(buffer, locator, malformed)) {
            return true;
        }
        if (malformed) {
            return false;
        }
        char chunk[4096];
        const ssize_t got = ::read(protocol::kRequestDescriptor, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        buffer.append(chunk, static_cast<std::size_t>(got));
    }
}

bool LoadStaticList(const std::string& path, std::string& error)
{
    const std::filesystem::path staticList = path;
    std::error_code status;
    if (!staticList.empty() && std::filesystem::exists(staticList, status)) {
        kelcore::filesupport::File file(staticList);
        if (!BannedPluginManager::GetInstance().LoadStaticConfiguration(file)) {
            error = "the static banned list \"" + staticList.string() + "\" is unreadable or malformed";
            return false;
        }
    }
    return true;
}

// Describes one module into the (emptied) catalogue of this process; its records as XML.
std::string DescribeModule(const PluginLocator& locator)
{
    kelcore::trail::SetStep(kLoadStep);
    {
        boost::intrusive_ptr<PluginModuleScanner> scanner(new PluginModuleScanner({locator}));
        scanner->BeginScan();
        while (scanner->ContinueScan()) {
        }
        scanner->EndScan();
    }
    return PluginModuleInfoManager::GetInstance().GetConfigurationAsXML();
}

} // namespace

bool IsBanOutcome(ModuleScanOutcome outcome)
{
    return outcome == ModuleScanOutcome::Crashed || outcome == ModuleScanOutcome::TimedOut ||
           outcome == ModuleScanOutcome::AbnormalExit;
}

ModuleScanResult ScanModule(const PluginLocator& locator, const ModuleScanOptions& options)
{
    ModuleScanResult result;
    // A deadline that cannot be computed would time out (and ban) every module.
    if (!std::isfinite(options.timeoutSeconds) || !(options.timeoutSeconds > 0.0) ||
        options.timeoutSeconds > 1e9) {
        result.detail = "no usable timeout";
        return result;
    }
    JobOptions job;
    job.timeout = std::chrono::milliseconds(static_cast<std::int64_t>(std::ceil(options.timeoutSeconds * 1000.0)));
    job.helper = options.helper;
    job.keepStandardError = options.verbose;
    if (options.verbose) {
        job.traceConfiguration = "*=5";
    }
    const auto path = kelcore::UTF16to8(locator.GetPath());
    result.run = RunJob(kScanModuleJob,
                        {std::to_string(static_cast<int>(locator.GetTechnologyType())), path,
                         options.staticBannedList.string()},
                        job);
    result.seconds = result.run.seconds;
    internal::ClassifyScan(options, result);
    KAFH_TRACE("isolation::ScanModule", 5,
               "\"" << path << "\": " << result.run.Describe() << " after " << result.seconds << " s; "
                    << result.detail);
    return result;
}

bool RunScanModuleJob(const std::vector<std::string>& arguments, std::string& payload)
{
    int type = 0;
    if (arguments.size() != 3 ||
        std::from_chars(arguments[0].data(), arguments[0].data() + arguments[0].size(), type).ec != std::errc()) {
        payload = "expected a technology type, a module path and a static banned list";
        return false;
    }
    if (!LoadStaticList(arguments[2], payload)) {
        return false;
    }
    payload = DescribeModule(PluginLocator(static_cast<TechnologyType>(type), kelcore::UTF8to16(arguments[1])));
    return true;
}

bool RunScanModulesJob(const std::vector<std::string>& arguments, std::string& payload)
{
    if (arguments.size() != 1) {
        payload = "expected a static banned list";
        return false;
    }
    // Processes a plug-in starts do not inherit the requests.
    ::fcntl(protocol::kRequestDescriptor, F_SETFD, FD_CLOEXEC);
    // A list that cannot be read is the host's failure: every module is answered so, none is loaded.
    std::string hostFailure;
    LoadStaticList(arguments[0], hostFailure);
    std::string buffer;
    PluginLocator locator;
    for (;;) {
        kelcore::trail::SetStep(kWaitStep);
        if (!ReadRequest(buffer, locator)) {
            return true;
        }
        if (!hostFailure.empty()) {
            internal::WriteFrame(protocol::kAnswerDescriptor, internal::kHostFailedFrame, hostFailure);
            continue;
        }
        // Each module is described into an empty catalogue, as in a fresh process.
        PluginModuleInfoManager::GetInstance().ClearAll(true);
        std::string xml;
        const bool completed = internal::RunWork(
            [&](std::string& into) {
                into = DescribeModule(locator);
                return true;
            },
            xml);
        internal::WriteFrame(protocol::kAnswerDescriptor, completed ? internal::kDescribedFrame : internal::kFailedFrame, xml);
    }
}

} // namespace kelaudiofilterhost::isolation
