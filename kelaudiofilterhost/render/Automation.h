// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/framework/AudioFilter.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kelaudiofilterhost::render {

/// The parameter's own name, trimmed, or "Parameter <index>" for filters that describe none.
std::string ParameterName(AudioFilter& filter, int index);
/// The parameter a name stands for: the exact name, else the name with letter case ignored, else
/// the index. -1 when none answers; ambiguous is set when several do (by letter case only).
int FindParameter(AudioFilter& filter, const std::string& name, bool& ambiguous);

/// One line of an automation file as written, before a filter gives it meaning.
struct AutomationLine {
    int line = 0;
    /// The time in frames when given with an "s" suffix, else in seconds.
    bool inFrames = false;
    std::int64_t frames = 0;
    double seconds = 0.0;
    std::string parameter;
    double value = 0.0;
    bool ramp = false;
};

/// Reads automation text: one point a line, "TIME PARAMETER VALUE [ramp]"; TIME in seconds or in
/// frames with an "s" suffix, PARAMETER a name (double quotes allowed) or an index, VALUE a plain
/// number; blank lines and lines starting with '#' are skipped. False with a one-line message
/// naming the line for anything else.
bool ParseAutomation(std::string_view text, std::vector<AutomationLine>& lines, std::string& error);
/// Reads and parses a file; messages name the file (and the line).
bool ReadAutomationFile(const std::filesystem::path& path, std::vector<AutomationLine>& lines, std::string& error);

/// A point resolved against a filter: a frame, a parameter index and the value in both forms.
struct AutomationPoint {
    std::int64_t frame = 0;
    int parameter = 0;
    double plain = 0.0;
    float normalized = 0.0f;
    /// The value moves in a straight line (in plain values) from the parameter's previous point (or
    /// from its value at frame 0) to this one.
    bool ramp = false;
    int line = 0;
};

/// Parameter changes at frames of a render, in time order.
class Automation {
public:
    /// Gives parsed lines their frames at the rate, parameters and values of the filter. False
    /// with a message naming the line for a point earlier than the one before, a parameter the
    /// filter lacks or a value outside the parameter's range.
    bool Resolve(const std::vector<AutomationLine>& lines, AudioFilter& filter, double sampleRate,
                 std::string& error);
    /// ReadAutomationFile, then Resolve; messages name the file and the line.
    bool Load(const std::filesystem::path& path, AudioFilter& filter, double sampleRate, std::string& error);
    /// Adds a point after the others (no earlier than the last).
    void Add(const AutomationPoint& point) { mPoints.push_back(point); }

    const std::vector<AutomationPoint>& GetPoints() const { return mPoints; }
    bool IsEmpty() const { return mPoints.empty(); }

private:
    std::vector<AutomationPoint> mPoints;
};

} // namespace kelaudiofilterhost::render
