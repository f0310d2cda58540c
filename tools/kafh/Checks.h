// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>
#include <vector>

namespace kafh::check {

/// What the checks run with, from the command line.
struct CheckSettings {
    /// The rate every group but "rates" runs at.
    double sampleRate = 48000.0;
    /// The rates the "rates" group goes through.
    std::vector<double> rates{22050.0, 44100.0, 48000.0, 88200.0, 96000.0, 192000.0};
    /// Seconds of audio per render.
    double seconds = 0.5;
    /// The largest block handed to a filter, and the block size it is told.
    int maxBlock = 4096;
};

enum class Verdict { Pass, Fail, Skip };

/// What one group found: the verdict, the first reason (of a failure or a skip) and details for the report.
class GroupReport {
public:
    /// The first failure gives the reason; later ones go to the details' "failures" list.
    void Fail(const std::string& reason);
    /// Skips the group unless it already failed.
    void Skip(const std::string& reason);
    /// A finding that is not a failure (a measured tail, layouts refused).
    void Note(const std::string& text);
    nlohmann::ordered_json& Details() { return mDetails; }

    Verdict GetVerdict() const { return mVerdict; }
    const std::string& GetReason() const { return mReason; }
    /// {"verdict", "reason", "details"}, for the parent process.
    nlohmann::ordered_json ToJson() const;

private:
    Verdict mVerdict = Verdict::Pass;
    std::string mReason;
    nlohmann::ordered_json mDetails = nlohmann::ordered_json::object();
};

/// One group of checks against a plug-in; it creates the instances it needs itself by component ID.
struct Group {
    const char* name;
    const char* summary;
    void (*run)(const std::string& componentID, const CheckSettings& settings, GroupReport& report);
};

/// Every group, in the order they run.
const std::vector<Group>& Groups();
const Group* FindGroup(std::string_view name);

std::string_view VerdictName(Verdict verdict);

} // namespace kafh::check
