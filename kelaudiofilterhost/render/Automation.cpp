// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/render/Automation.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>

namespace kelaudiofilterhost::render {

namespace {

constexpr std::size_t kMaximumFileSize = 64u << 20;
// Far beyond any render (a day at 1 MHz), so frame arithmetic cannot overflow.
constexpr double kMaximumFrames = 1e11;

bool EqualIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view Trim(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

bool ParseDouble(std::string_view text, double& value)
{
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && result.ec == std::errc() && result.ptr == text.data() + text.size() &&
           std::isfinite(value);
}

std::string FormatNumber(double value)
{
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << value;
    return text.str();
}

// Printable and short, for messages about text read from a file.
std::string Shown(std::string_view text)
{
    std::string shown;
    for (const char c : text.substr(0, 60)) {
        shown += std::isprint(static_cast<unsigned char>(c)) != 0 ? c : '?';
    }
    return "\"" + shown + (text.size() > 60 ? "...\"" : "\"");
}

std::string LineText(int line)
{
    return "line " + std::to_string(line) + ": ";
}

bool ParseLine(std::string_view text, int number, AutomationLine& point, std::string& error)
{
    const auto fail = [&](const std::string& message) {
        error = LineText(number) + message;
        return false;
    };
    point = AutomationLine();
    point.line = number;
    // TIME, then the rest: PARAMETER VALUE [ramp]; the parameter name may hold spaces.
    const auto timeEnd = text.find_first_of(" \t");
    if (timeEnd == std::string_view::npos) {
        return fail("expected TIME PARAMETER VALUE [ramp], found " + Shown(text));
    }
    const auto time = text.substr(0, timeEnd);
    std::string_view rest = Trim(text.substr(timeEnd));
    auto lastWord = [](std::string_view words) {
        const auto space = words.find_last_of(" \t");
        return space == std::string_view::npos ? words : words.substr(space + 1);
    };
    if (const auto word = lastWord(rest); word.size() < rest.size() && EqualIgnoringCase(word, "ramp")) {
        point.ramp = true;
        rest = Trim(rest.substr(0, rest.size() - word.size()));
    }
    const auto valueText = lastWord(rest);
    if (valueText.size() == rest.size()) {
        return fail("expected TIME PARAMETER VALUE [ramp], found " + Shown(text));
    }
    auto name = Trim(rest.substr(0, rest.size() - valueText.size()));
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
        name = name.substr(1, name.size() - 2);
    }
    if (name.empty()) {
        return fail("expected a parameter name or index before the value");
    }
    point.parameter = std::string(name);
    if (!ParseDouble(valueText, point.value)) {
        return fail("value " + Shown(valueText) + " is not a number");
    }
    if (time.back() == 's' || time.back() == 'S') {
        const auto digits = time.substr(0, time.size() - 1);
        const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), point.frames);
        if (digits.empty() || result.ec != std::errc() || result.ptr != digits.data() + digits.size() ||
            point.frames < 0 || static_cast<double>(point.frames) > kMaximumFrames) {
            return fail("time " + Shown(time) + " is not a frame count (a whole number of samples, then \"s\")");
        }
        point.inFrames = true;
    } else if (!ParseDouble(time, point.seconds) || point.seconds < 0.0 || point.seconds > 86400.0) {
        return fail("time " + Shown(time) + " is not a time in seconds from 0 to 86400 (or samples, as 480s)");
    }
    return true;
}

} // namespace

std::string ParameterName(AudioFilter& filter, int index)
{
    if (const auto info = filter.GetParameterInfo(index)) {
        const auto name = kelcore::UTF16to8(info->GetName());
        if (const auto trimmed = Trim(name); !trimmed.empty()) {
            return std::string(trimmed);
        }
    }
    return "Parameter " + std::to_string(index);
}

int FindParameter(AudioFilter& filter, const std::string& name, bool& ambiguous)
{
    ambiguous = false;
    const int count = filter.GetParameterCount();
    std::vector<std::string> names;
    names.reserve(static_cast<std::size_t>(std::max(count, 0)));
    for (int i = 0; i < count; ++i) {
        names.push_back(ParameterName(filter, i));
        if (names.back() == name) {
            return i;
        }
    }
    int found = -1;
    for (int i = 0; i < count; ++i) {
        if (EqualIgnoringCase(names[static_cast<std::size_t>(i)], name)) {
            if (found >= 0) {
                ambiguous = true;
                return -1;
            }
            found = i;
        }
    }
    if (found >= 0) {
        return found;
    }
    int index = -1;
    const auto result = std::from_chars(name.data(), name.data() + name.size(), index);
    if (result.ec == std::errc() && result.ptr == name.data() + name.size() && index >= 0 && index < count) {
        return index;
    }
    return -1;
}

bool ParseAutomation(std::string_view text, std::vector<AutomationLine>& lines, std::string& error)
{
    lines.clear();
    int number = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = std::min(text.find('\n', start), text.size());
        const auto line = Trim(text.substr(start, end - start));
        start = end + 1;
        ++number;
        if (line.empty() || line.front() == '#') {
            continue;
        }
        AutomationLine point;
        if (!ParseLine(line, number, point, error)) {
            return false;
        }
        lines.push_back(std::move(point));
    }
    return true;
}

bool Automation::Resolve(const std::vector<AutomationLine>& lines, AudioFilter& filter, double sampleRate,
                         std::string& error)
{
    mPoints.clear();
    int previousLine = 0;
    for (const auto& line : lines) {
        AutomationPoint point;
        point.line = line.line;
        point.ramp = line.ramp;
        point.plain = line.value;
        point.frame = line.inFrames ? line.frames : std::llround(line.seconds * sampleRate);
        if (!mPoints.empty() && point.frame < mPoints.back().frame) {
            error = LineText(line.line) + "the point comes before the one on line " + std::to_string(previousLine) +
                    "; points must be in time order";
            return false;
        }
        bool ambiguous = false;
        point.parameter = FindParameter(filter, line.parameter, ambiguous);
        if (point.parameter < 0) {
            error = LineText(line.line) + (ambiguous ? "several parameters are named " + Shown(line.parameter) +
                                                           "; give its index instead"
                                                     : "the filter has no parameter " + Shown(line.parameter));
            return false;
        }
        double low = 0.0;
        double high = 1.0;
        double normalized = line.value;
        if (const auto info = filter.GetParameterInfo(point.parameter)) {
            low = info->NormalizedToPlain(0.0f);
            high = info->NormalizedToPlain(1.0f);
            normalized = info->PlainToNormalized(static_cast<float>(line.value));
        }
        if (!(normalized >= -1e-6 && normalized <= 1.0 + 1e-6)) {
            error = LineText(line.line) + "value " + FormatNumber(line.value) + " of parameter " +
                    Shown(ParameterName(filter, point.parameter)) + " is out of range (" +
                    FormatNumber(std::min(low, high)) + " to " + FormatNumber(std::max(low, high)) + ")";
            return false;
        }
        point.normalized = std::clamp(static_cast<float>(normalized), 0.0f, 1.0f);
        previousLine = line.line;
        mPoints.push_back(point);
    }
    return true;
}

bool ReadAutomationFile(const std::filesystem::path& path, std::vector<AutomationLine>& lines, std::string& error)
{
    const std::string shown = "automation \"" + path.string() + "\"";
    std::error_code status;
    const auto size = std::filesystem::file_size(path, status);
    if (status) {
        error = "cannot read " + shown + ": " + status.message();
        return false;
    }
    if (size > kMaximumFileSize) {
        error = "cannot read " + shown + ": larger than " + std::to_string(kMaximumFileSize >> 20) + " MB";
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    std::string text(static_cast<std::size_t>(size), '\0');
    if (!file || !file.read(text.data(), static_cast<std::streamsize>(text.size()))) {
        error = "cannot read " + shown;
        return false;
    }
    if (!ParseAutomation(text, lines, error)) {
        error = shown + ", " + error;
        return false;
    }
    return true;
}

bool Automation::Load(const std::filesystem::path& path, AudioFilter& filter, double sampleRate, std::string& error)
{
    std::vector<AutomationLine> lines;
    if (!ReadAutomationFile(path, lines, error)) {
        return false;
    }
    if (!Resolve(lines, filter, sampleRate, error)) {
        error = "automation \"" + path.string() + "\", " + error;
        return false;
    }
    return true;
}

} // namespace kelaudiofilterhost::render
