// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/isolation/ModuleScan.h"

#include "kelaudiofilterhost/catalogue/BannedPluginManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleScanner.h"
#include "kelaudiofilterhost/isolation/IsolatedJob.h"
#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/PluginCallTrail.h"
#include "kelaudiofilterhost/services/PropList.h"
#include "kelaudiofilterhost/services/Strings.h"
#include "kelaudiofilterhost/services/Trace.h"

#include <boost/intrusive_ptr.hpp>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace kelaudiofilterhost::isolation {

namespace {

// Announced just before the module is loaded: a failure before it is the host's own, never the module's.
constexpr const char* kLoadStep = "scan";

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
    if (modules > 0) {
        result.outcome = ModuleScanOutcome::Described;
    } else {
        result.outcome = ModuleScanOutcome::NotDescribed;
        result.detail = "not loadable as a plug-in module, or it describes no plug-in";
    }
}

void Classify(const ModuleScanOptions& options, ModuleScanResult& result)
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
    Classify(options, result);
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
    const std::filesystem::path staticList = arguments[2];
    std::error_code status;
    if (!staticList.empty() && std::filesystem::exists(staticList, status)) {
        kelcore::filesupport::File file(staticList);
        if (!BannedPluginManager::GetInstance().LoadStaticConfiguration(file)) {
            payload = "the static banned list \"" + staticList.string() + "\" is unreadable or malformed";
            return false;
        }
    }
    const PluginLocator locator(static_cast<TechnologyType>(type), kelcore::UTF8to16(arguments[1]));
    kelcore::trail::SetStep(kLoadStep);
    {
        boost::intrusive_ptr<PluginModuleScanner> scanner(new PluginModuleScanner({locator}));
        scanner->BeginScan();
        while (scanner->ContinueScan()) {
        }
        scanner->EndScan();
    }
    payload = PluginModuleInfoManager::GetInstance().GetConfigurationAsXML();
    return true;
}

} // namespace kelaudiofilterhost::isolation
