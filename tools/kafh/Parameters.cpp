// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/kafh/Parameters.h"

#include "kelaudiofilterhost/render/Automation.h"
#include "tools/kafh/Console.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <sstream>

namespace kafh {

namespace {

using kelaudiofilterhost::AudioFilter;

std::string Trim(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

bool ParseNumber(const std::string& text, double& value)
{
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(begin, end, value);
    return result.ec == std::errc() && result.ptr == end && std::isfinite(value);
}

int FindParameter(AudioFilter& filter, const std::string& name, bool& ambiguous)
{
    return kelaudiofilterhost::render::FindParameter(filter, name, ambiguous);
}

std::string FormatValue(double value)
{
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << value;
    return text.str();
}

} // namespace

std::string ParameterName(AudioFilter& filter, int index)
{
    return kelaudiofilterhost::render::ParameterName(filter, index);
}

std::vector<double> ReadPlainValues(AudioFilter& filter)
{
    std::vector<double> values;
    const int count = filter.GetParameterCount();
    for (int i = 0; i < count; ++i) {
        const float value = filter.GetParameter(i);
        const auto info = filter.GetParameterInfo(i);
        values.push_back(info ? static_cast<double>(info->NormalizedToPlain(value)) : static_cast<double>(value));
    }
    return values;
}

ParameterView DescribeParameter(AudioFilter& filter, int index, double defaultValue)
{
    ParameterView view;
    view.index = index;
    view.name = ParameterName(filter, index);
    view.defaultValue = defaultValue;
    view.text = Trim(kelcore::UTF16to8(filter.GetParameterString(index)));
    const float value = filter.GetParameter(index);
    view.value = value;
    if (const auto info = filter.GetParameterInfo(index)) {
        view.unit = Trim(kelcore::UTF16to8(info->GetLabel()));
        view.value = info->NormalizedToPlain(value);
        view.hasRange = true;
        view.minimum = info->NormalizedToPlain(0.0f);
        view.maximum = info->NormalizedToPlain(1.0f);
        view.steps = info->GetStepCount();
    }
    return view;
}

int ApplyParameterAssignments(AudioFilter& filter, const std::vector<std::string>& assignments, std::string& error)
{
    const auto filterName = Quoted(filter.GetComponentID());
    for (const auto& assignment : assignments) {
        // A plain number never holds '=', a parameter name may: split at the last one.
        const auto equals = assignment.rfind('=');
        if (equals == std::string::npos) {
            error = "--param " + Quoted(assignment) + ": expected NAME=VALUE";
            return kExitUsage;
        }
        const auto name = Trim(std::string_view(assignment).substr(0, equals));
        const auto valueText = Trim(std::string_view(assignment).substr(equals + 1));
        double value = 0.0;
        if (name.empty() || !ParseNumber(valueText, value)) {
            error = "--param " + Quoted(assignment) + ": expected NAME=VALUE with a plain number as VALUE";
            return kExitUsage;
        }
        bool ambiguous = false;
        const int index = FindParameter(filter, name, ambiguous);
        if (index < 0) {
            error = (ambiguous ? "several parameters of filter " : "filter ") + filterName +
                    (ambiguous ? " are named " + Quoted(name) + "; give its index instead"
                               : " has no parameter " + Quoted(name) + " (kafh info shows its parameters)");
            return kExitFailure;
        }
        const auto info = filter.GetParameterInfo(index);
        if (info) {
            const double low = info->NormalizedToPlain(0.0f);
            const double high = info->NormalizedToPlain(1.0f);
            const double normalized = info->PlainToNormalized(static_cast<float>(value));
            if (!(normalized >= -1e-6 && normalized <= 1.0 + 1e-6)) {
                error = "value " + FormatValue(value) + " of parameter " + Quoted(name) + " of filter " + filterName +
                        " is out of range (" + FormatValue(std::min(low, high)) + " to " +
                        FormatValue(std::max(low, high)) + ")";
                return kExitFailure;
            }
            filter.SetParameter(index, std::clamp(static_cast<float>(normalized), 0.0f, 1.0f));
            continue;
        }
        // A filter that describes no range keeps values in its range; reading back tells whether
        // the value was taken.
        filter.SetParameter(index, static_cast<float>(value));
        const double back = filter.GetParameter(index);
        if (std::fabs(back - value) > 1e-4 * std::max(1.0, std::fabs(value))) {
            error = "value " + FormatValue(value) + " of parameter " + Quoted(name) + " of filter " + filterName +
                    " is out of range (the filter keeps " + FormatValue(back) + ")";
            return kExitFailure;
        }
    }
    return kExitOk;
}

} // namespace kafh
