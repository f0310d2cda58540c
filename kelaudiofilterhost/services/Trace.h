// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/services/Strings.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string_view>

namespace kelcore::debug {

/// Whether trace lines of the category at the level are enabled. Categories and levels come from
/// the KAFH_TRACE environment variable ("Category=5,Other=3" or "*=5"; a category is enabled at
/// every level up to its number) or from SetTraceConfiguration. A rule "Name" also covers the
/// categories "Name::..."; "Pre*" covers every category starting with "Pre" ("*" all of them); a
/// rule without "=number" enables every level; the most specific matching rule decides.
/// refresh re-reads the environment (unless SetTraceConfiguration rules) and raises the change
/// count when it changed.
bool TraceEnabled(std::string_view category, int level, bool refresh);
/// Raised whenever the trace configuration changes; trace sites cache their decision until it moves.
std::uint32_t TraceChangeCount();
/// Replaces the configuration (same syntax as KAFH_TRACE; the environment is then ignored) and
/// raises the change count.
void SetTraceConfiguration(std::string_view configuration);
/// Returns to the configuration of the KAFH_TRACE environment variable; raises the change count.
void ResetTraceConfiguration();
/// Writes one finished line to the sink (standard error unless replaced); adds the end of line
/// when missing, so the sink always gets whole lines.
void Trace(std::string_view line);
/// Replaces where trace lines go; an empty function restores standard error. For tests and embedding.
void SetTraceSink(std::function<void(std::string_view)> sink);
/// Writes text unconditionally to the debug output (standard error or the sink).
void DebugTrace(std::string_view text);

/// One place in the code that traces: caches whether it is enabled until the change count moves.
class TraceSite {
public:
    constexpr TraceSite(const char* category, int level) : mCategory(category), mLevel(level) {}
    bool IsEnabled();
    /// Writes "<thread> <category> <level> message" and an end of line, whether enabled or not.
    void Write(std::string_view message) const;
    const char* GetCategory() const { return mCategory; }
    int GetLevel() const { return mLevel; }

private:
    const char* mCategory;
    int mLevel;
    std::atomic<std::uint32_t> mChangeCount{~0u};
    std::atomic<bool> mEnabled{false};
};

} // namespace kelcore::debug

namespace kelcore::threads {
/// A number naming the calling thread (the kernel's thread id).
std::uint64_t GetCurrentThreadID();
}

/// Traces a message built with stream insertion: KAFH_TRACE("VSTModule::Load", 5, "\"" << path << "\": no entry").
/// Costs one cached check when the category is disabled.
#define KAFH_TRACE(category, level, message)                                                       \
    do {                                                                                           \
        static ::kelcore::debug::TraceSite kafhTraceSite_(category, level);                        \
        if (kafhTraceSite_.IsEnabled()) {                                                          \
            ::kelcore::oUTF8StringStream kafhTraceStream_;                                         \
            kafhTraceStream_ << message;                                                           \
            kafhTraceSite_.Write(kafhTraceStream_.str());                                          \
        }                                                                                          \
    } while (false)
