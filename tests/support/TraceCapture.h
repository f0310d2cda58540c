// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/services/Trace.h"

#include <algorithm>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace kelaudiofilterhost::testing {

/// Collects trace and debug output while alive, with the given trace configuration.
class TraceCapture {
public:
    explicit TraceCapture(std::string_view configuration = "*=5")
    {
        kelcore::debug::SetTraceConfiguration(configuration);
        kelcore::debug::SetTraceSink([this](std::string_view text) { mTexts.emplace_back(text); });
    }
    ~TraceCapture()
    {
        kelcore::debug::SetTraceSink({});
        kelcore::debug::ResetTraceConfiguration();
    }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    /// Lines holding every part.
    std::size_t Count(std::initializer_list<std::string_view> parts) const
    {
        return static_cast<std::size_t>(std::count_if(mTexts.begin(), mTexts.end(), [parts](const std::string& text) {
            return std::all_of(parts.begin(), parts.end(),
                               [&text](std::string_view part) { return text.find(part) != std::string::npos; });
        }));
    }
    std::size_t Count(std::string_view part) const { return Count({part}); }
    bool Contains(std::initializer_list<std::string_view> parts) const { return Count(parts) > 0; }
    bool Contains(std::string_view part) const { return Count({part}) > 0; }
    /// Everything captured, a line each, for failure messages.
    std::string Text() const
    {
        std::string text;
        for (const auto& line : mTexts) {
            text += line + "\n";
        }
        return text;
    }

private:
    std::vector<std::string> mTexts;
};

} // namespace kelaudiofilterhost::testing
