// SPDX-License-Identifier: GPL-3.0-or-later
// kafh check: runs the groups of checks against plug-ins, each group in a watched child process of its
// own, so a plug-in that crashes or hangs fails one group with what was seen and the run goes on.
#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"
#include "kelaudiofilterhost/isolation/IsolatedSuite.h"
#include "tools/kafh/Checks.h"
#include "tools/kafh/Commands.h"
#include "tools/kafh/Console.h"
#include "tools/kafh/FilterLookup.h"
#include "tools/kafh/Settings.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>

#include <unistd.h>

namespace kafh {

namespace {

using namespace kelaudiofilterhost;
using json = nlohmann::ordered_json;

struct Target {
    std::string id;
    std::string name;
    std::string technology;
    std::string module;
};

// The child's side: the group's report as JSON. What the group throws is the plug-in's failure too.
bool RunGroupInChild(const check::Group& group, const std::string& id, const check::CheckSettings& settings,
                     std::string& payload)
{
    check::GroupReport report;
    try {
        group.run(id, settings, report);
    } catch (const std::exception& exception) {
        report.Fail(std::string("exception: ") + exception.what());
    } catch (...) {
        report.Fail("an exception of unknown type");
    }
    payload = report.ToJson().dump();
    return true;
}

// A group's entry in the report, from how its child ended.
json GroupResult(const isolation::SuitePartResult& part)
{
    const auto& result = part.result;
    json entry{{"name", part.name}};
    if (result.Completed()) {
        auto report = json::parse(result.payload, nullptr, false);
        if (!report.is_discarded() && report.is_object()) {
            entry["result"] = report["verdict"];
            entry["reason"] = report["reason"];
            // A memory checker that reports and lets the process go on (UBSan's default) still fails it.
            if (const auto summary = isolation::FindCheckerSummary(part.output); !summary.empty()) {
                entry["result"] = "fail";
                entry["reason"] = summary;
                report["details"]["output"] = part.output.substr(part.output.size() - std::min<std::size_t>(part.output.size(), 4000));
            }
            entry["seconds"] = result.seconds;
            entry["details"] = report["details"];
            return entry;
        }
    }
    if (result.outcome == isolation::Outcome::NotStarted) {
        entry["result"] = "error";
        entry["reason"] = "no child process could be started: " + result.detail;
        entry["seconds"] = result.seconds;
        return entry;
    }
    std::string reason = isolation::DescribeFault(result);
    if (const auto summary = isolation::FindCheckerSummary(part.output); !summary.empty()) {
        reason += ": " + summary;
    }
    // In the buffers group the only memory the plug-in could miss is past the guarded blocks.
    if (result.outcome == isolation::Outcome::Crashed && result.trail.step.starts_with("buffers: guard page") &&
        (result.signal == SIGSEGV || result.signal == SIGBUS)) {
        reason += "; it touched memory outside the audio buffers it was handed";
    }
    entry["result"] = "fail";
    entry["reason"] = reason;
    entry["seconds"] = result.seconds;
    json fault{{"outcome", result.outcome == isolation::Outcome::Crashed    ? "crashed"
                           : result.outcome == isolation::Outcome::TimedOut ? "timed out"
                           : result.outcome == isolation::Outcome::Lost     ? "exited"
                                                                            : "failed"}};
    if (result.signal != 0) {
        fault["signal"] = result.signal;
    }
    if (result.outcome == isolation::Outcome::Lost) {
        fault["exit_status"] = result.exitCode;
    }
    fault["step"] = result.trail.step;
    if (!result.trail.call.empty()) {
        fault["last_call"] = result.trail.call;
        fault["in_call"] = result.trail.inCall;
    }
    entry["details"] = json{{"fault", fault}};
    if (!part.output.empty()) {
        // The end of what the child printed: a memory checker's report, or the plug-in's last words.
        entry["details"]["output"] = part.output.substr(part.output.size() - std::min<std::size_t>(part.output.size(), 4000));
    }
    return entry;
}

std::vector<std::string> SplitList(const std::vector<std::string>& values)
{
    std::vector<std::string> names;
    for (const auto& value : values) {
        std::size_t start = 0;
        while (start <= value.size()) {
            const auto end = std::min(value.find(',', start), value.size());
            if (end > start) {
                names.push_back(value.substr(start, end - start));
            }
            start = end + 1;
        }
    }
    return names;
}

Target Describe(const AudioFilterDescriptor& descriptor)
{
    return {kelcore::UTF16to8(descriptor.GetUniqueID()), kelcore::UTF16to8(descriptor.GetName()),
            TechnologyName(descriptor.GetLocator().GetTechnologyType()),
            kelcore::UTF16to8(descriptor.GetLocator().GetPath())};
}

std::string Padded(std::string text, std::size_t width)
{
    text.resize(std::max(text.size(), width), ' ');
    return text;
}

std::string Upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

void PrintGroup(const json& entry)
{
    const auto result = entry.value("result", "fail");
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%6.2f s", entry.value("seconds", 0.0));
    std::cout << "  " << Padded(Upper(result), 5) << " " << Padded(entry.value("name", ""), 12) << seconds;
    const auto reason = entry.value("reason", "");
    std::cout << (reason.empty() ? "" : "  " + DisplayText(reason)) << '\n';
    if (const auto details = entry.find("details"); details != entry.end() && details->is_object()) {
        for (const char* key : {"failures", "notes"}) {
            if (const auto list = details->find(key); list != details->end() && list->is_array()) {
                for (const auto& line : *list) {
                    std::cout << "        " << (std::string_view(key) == "notes" ? "note: " : "also: ")
                              << DisplayText(line.get<std::string>()) << '\n';
                }
            }
        }
    }
    std::cout << std::flush;
}

} // namespace

int RunCheckCommand(Settings& settings, const CheckOptions& options)
{
    std::vector<const check::Group*> groups;
    const auto only = SplitList(options.only);
    const auto skip = SplitList(options.skip);
    for (const auto& name : only) {
        if (check::FindGroup(name) == nullptr) {
            return FailUsage("--only: unknown group " + Quoted(name) + " (kafh check --help lists them)");
        }
    }
    for (const auto& name : skip) {
        if (check::FindGroup(name) == nullptr) {
            return FailUsage("--skip: unknown group " + Quoted(name) + " (kafh check --help lists them)");
        }
    }
    for (const auto& group : check::Groups()) {
        const bool wanted = only.empty() || std::find(only.begin(), only.end(), group.name) != only.end();
        if (wanted && std::find(skip.begin(), skip.end(), group.name) == skip.end()) {
            groups.push_back(&group);
        }
    }
    if (groups.empty()) {
        return FailUsage("--only and --skip leave no group to run");
    }
    if (options.all == !options.ids.empty()) {
        return FailUsage(options.all ? "give filter IDs or --all, not both" : "give filter IDs, or --all");
    }

    std::string error;
    if (!settings.Load(error)) {
        return Fail(error);
    }
    std::vector<Target> targets;
    std::vector<std::pair<std::string, std::string>> unknown;
    if (options.all) {
        const auto& manager = AudioFilterDescriptorManager::GetInstance();
        for (auto it = manager.InfoBegin(); it != manager.InfoEnd(); ++it) {
            if (!(*it)->IsInternal() && IsDescriptorEnabled(**it)) {
                targets.push_back(Describe(**it));
            }
        }
        std::sort(targets.begin(), targets.end(), [](const Target& a, const Target& b) { return a.id < b.id; });
        if (targets.empty()) {
            return Fail("the catalogue has no plug-ins to check (kafh scan finds them)");
        }
    } else {
        for (const auto& id : options.ids) {
            if (const auto descriptor = FindDescriptor(id, error)) {
                targets.push_back(Describe(*descriptor));
            } else {
                unknown.emplace_back(id, error);
            }
        }
    }

    check::CheckSettings checkSettings;
    checkSettings.seconds = options.seconds;
    if (!options.rates.empty()) {
        checkSettings.rates = options.rates;
        checkSettings.sampleRate = options.rates.front();
    }
    isolation::SuiteOptions watch;
    // Plug-ins' chatter stays out of the report; the end of it is kept for groups that end badly.
    watch.captureOutput = true;
    watch.timeout = std::chrono::milliseconds(std::llround(options.timeoutSeconds * 1000.0));

    json report = json::array();
    int failedGroups = 0;
    int passedGroups = 0;
    int skippedGroups = 0;
    int failedPlugins = 0;
    for (const auto& [id, why] : unknown) {
        ++failedPlugins;
        report.push_back({{"id", id}, {"passed", false}, {"error", why}, {"groups", json::array()}});
        if (!options.json) {
            std::cout << id << "\n  FAIL  " << DisplayText(why) << '\n';
        }
    }
    for (const auto& target : targets) {
        if (!options.json) {
            std::cout << target.name << " (" << target.id << ")\n" << std::flush;
        }
        std::vector<isolation::SuitePart> parts;
        for (const auto* group : groups) {
            parts.push_back({group->name, [group, &target, &checkSettings](std::string& payload) {
                                 return RunGroupInChild(*group, target.id, checkSettings, payload);
                             }});
        }
        json results = json::array();
        bool passed = true;
        isolation::RunSuite(parts, watch, [&](const isolation::SuitePartResult& part) {
            auto entry = GroupResult(part);
            const auto result = entry.value("result", "fail");
            if (result == "pass") {
                ++passedGroups;
            } else if (result == "skip") {
                ++skippedGroups;
            } else {
                ++failedGroups;
                passed = false;
            }
            if (!options.json) {
                PrintGroup(entry);
            }
            results.push_back(std::move(entry));
        });
        failedPlugins += passed ? 0 : 1;
        report.push_back({{"id", target.id},
                          {"name", target.name},
                          {"technology", target.technology},
                          {"module", target.module},
                          {"passed", passed},
                          {"groups", std::move(results)}});
    }
    if (options.json) {
        std::cout << report.dump(2, ' ', false, json::error_handler_t::replace) << '\n';
    } else {
        const auto plugins = targets.size() + unknown.size();
        std::cout << "\n" << plugins << (plugins == 1 ? " plug-in, " : " plug-ins, ") << failedPlugins
                  << " with failures; groups: " << passedGroups << " passed, " << failedGroups << " failed, "
                  << skippedGroups << " skipped\n";
    }
    return failedPlugins > 0 ? kExitFailure : kExitOk;
}

} // namespace kafh
