// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/framework/AudioFilter.h"

#include <string>
#include <vector>

namespace kafh {

/// One parameter as the tool shows it. Values are plain: in the parameter's own range where the
/// filter describes one (a VST 2 integer range such as 0 to 200), otherwise what GetParameter gives.
struct ParameterView {
    int index = 0;
    std::string name;
    std::string unit;
    double defaultValue = 0.0;
    double value = 0.0;
    std::string text;
    /// The plain range, when the filter describes its parameter.
    bool hasRange = false;
    double minimum = 0.0;
    double maximum = 0.0;
    int steps = 0;
};

/// The parameter's own name, or "Parameter <index>" for filters that describe no parameters.
std::string ParameterName(kelaudiofilterhost::AudioFilter& filter, int index);
/// The plain value of every parameter, in index order.
std::vector<double> ReadPlainValues(kelaudiofilterhost::AudioFilter& filter);
/// Everything about one parameter; defaultValue is given (the value read when the filter was new).
ParameterView DescribeParameter(kelaudiofilterhost::AudioFilter& filter, int index, double defaultValue);

/// Applies "NAME=VALUE" assignments in order: NAME as info shows it (exact, else letter case
/// ignored, else the index), VALUE a plain number. On failure returns kExitUsage (malformed text)
/// or kExitFailure (no such parameter, value out of range) with a message naming the parameter and
/// the filter; kExitOk otherwise.
int ApplyParameterAssignments(kelaudiofilterhost::AudioFilter& filter, const std::vector<std::string>& assignments,
                              std::string& error);

} // namespace kafh
