// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/Trace.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <unistd.h>

namespace kelcore::debug {

namespace {

constexpr const char* kEnvironmentVariable = "KAFH_TRACE";

struct TraceRule {
    std::string name;
    bool isPrefix = false;
    int level = INT_MAX;
};

// How closely a rule matches a category; 0 when it does not. An exact name beats "Name::..." which
// beats the longest "Pre*".
std::size_t MatchStrength(const TraceRule& rule, std::string_view category)
{
    if (rule.isPrefix) {
        return category.starts_with(rule.name) ? rule.name.size() + 1 : 0;
    }
    if (category == rule.name) {
        return SIZE_MAX;
    }
    if (category.size() > rule.name.size() + 2 && category.starts_with(rule.name)
        && category.substr(rule.name.size(), 2) == "::") {
        return SIZE_MAX - 1 - (category.size() - rule.name.size());
    }
    return 0;
}

std::string_view Trim(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// Entries that do not parse are skipped: a typo in the environment must not break the host.
std::vector<TraceRule> ParseConfiguration(std::string_view text)
{
    std::vector<TraceRule> rules;
    while (!text.empty()) {
        const auto comma = text.find(',');
        const std::string_view entry = Trim(text.substr(0, comma));
        text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);

        TraceRule rule;
        std::string_view name = entry;
        const auto equals = entry.rfind('=');
        if (equals != std::string_view::npos) {
            name = Trim(entry.substr(0, equals));
            const std::string_view number = Trim(entry.substr(equals + 1));
            int level = 0;
            const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), level);
            if (number.empty() || error != std::errc{} || end != number.data() + number.size()) {
                continue;
            }
            rule.level = level;
        }
        if (name.empty()) {
            continue;
        }
        if (name.back() == '*') {
            rule.isPrefix = true;
            name.remove_suffix(1);
        }
        rule.name = std::string(name);
        rules.push_back(std::move(rule));
    }
    return rules;
}

std::atomic<std::uint32_t> sChangeCount{0};

class TraceConfiguration {
public:
    bool IsEnabled(std::string_view category, int level, bool refresh)
    {
        std::lock_guard lock(mMutex);
        if (!mSetThroughAPI && (refresh || !mEnvironmentRead)) {
            ReadEnvironment();
        }
        const TraceRule* best = nullptr;
        std::size_t bestStrength = 0;
        for (const TraceRule& rule : mRules) {
            // ">=" lets a later rule of equal strength override an earlier one.
            const std::size_t strength = MatchStrength(rule, category);
            if (strength != 0 && strength >= bestStrength) {
                best = &rule;
                bestStrength = strength;
            }
        }
        return best != nullptr && level <= best->level;
    }

    void Set(std::string_view configuration)
    {
        std::lock_guard lock(mMutex);
        mRules = ParseConfiguration(configuration);
        mSetThroughAPI = true;
        sChangeCount.fetch_add(1, std::memory_order_acq_rel);
    }

    void Reset()
    {
        std::lock_guard lock(mMutex);
        mSetThroughAPI = false;
        mEnvironmentRead = false;
        ReadEnvironment();
        sChangeCount.fetch_add(1, std::memory_order_acq_rel);
    }

private:
    void ReadEnvironment()
    {
        const char* value = std::getenv(kEnvironmentVariable);
        std::string text = value != nullptr ? value : "";
        if (mEnvironmentRead && text == mEnvironmentText) {
            return;
        }
        mRules = ParseConfiguration(text);
        mEnvironmentText = std::move(text);
        if (mEnvironmentRead) {
            sChangeCount.fetch_add(1, std::memory_order_acq_rel);
        }
        mEnvironmentRead = true;
    }

    std::mutex mMutex;
    std::vector<TraceRule> mRules;
    std::string mEnvironmentText;
    bool mEnvironmentRead = false;
    bool mSetThroughAPI = false;
};

// Never destroyed: static objects of other files may still trace while the program exits.
TraceConfiguration& Configuration()
{
    static auto* configuration = new TraceConfiguration;
    return *configuration;
}

using Sink = std::function<void(std::string_view)>;

struct SinkHolder {
    std::mutex mutex;
    std::shared_ptr<const Sink> sink;
};

SinkHolder& Sinks()
{
    static auto* holder = new SinkHolder;
    return *holder;
}

// One write per piece of text so that lines of different threads and processes do not interleave.
void WriteToStandardError(std::string_view text)
{
    while (!text.empty()) {
        const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

void Emit(std::string_view text)
{
    std::shared_ptr<const Sink> sink;
    {
        std::lock_guard lock(Sinks().mutex);
        sink = Sinks().sink;
    }
    // Called outside the lock, so a sink may trace; the shared pointer keeps it alive meanwhile.
    if (sink) {
        (*sink)(text);
    } else {
        WriteToStandardError(text);
    }
}

} // namespace

bool TraceEnabled(std::string_view category, int level, bool refresh)
{
    return Configuration().IsEnabled(category, level, refresh);
}

std::uint32_t TraceChangeCount()
{
    return sChangeCount.load(std::memory_order_acquire);
}

void SetTraceConfiguration(std::string_view configuration)
{
    Configuration().Set(configuration);
}

void ResetTraceConfiguration()
{
    Configuration().Reset();
}

void Trace(std::string_view line)
{
    if (!line.empty() && line.back() == '\n') {
        Emit(line);
        return;
    }
    std::string whole;
    whole.reserve(line.size() + 1);
    whole.append(line);
    whole.push_back('\n');
    Emit(whole);
}

void SetTraceSink(std::function<void(std::string_view)> sink)
{
    std::shared_ptr<const Sink> replacement;
    if (sink) {
        replacement = std::make_shared<const Sink>(std::move(sink));
    }
    std::lock_guard lock(Sinks().mutex);
    Sinks().sink = std::move(replacement);
}

void DebugTrace(std::string_view text)
{
    Emit(text);
}

bool TraceSite::IsEnabled()
{
    const std::uint32_t count = TraceChangeCount();
    if (mChangeCount.load(std::memory_order_acquire) == count) {
        return mEnabled.load(std::memory_order_relaxed);
    }
    const bool enabled = TraceEnabled(mCategory, mLevel, true);
    // The flag is stored before the count it belongs to, so a reader that sees the count sees it.
    mEnabled.store(enabled, std::memory_order_relaxed);
    mChangeCount.store(count, std::memory_order_release);
    return enabled;
}

void TraceSite::Write(std::string_view message) const
{
    std::string line;
    line.reserve(message.size() + 64);
    line += '<';
    line += std::to_string(threads::GetCurrentThreadID());
    line += "> <";
    line += mCategory;
    line += "> <";
    line += std::to_string(mLevel);
    line += "> ";
    line += message;
    line += '\n';
    Emit(line);
}

} // namespace kelcore::debug

namespace kelcore::threads {

std::uint64_t GetCurrentThreadID()
{
    // Not cached: a forked child has its own id.
    return static_cast<std::uint64_t>(::gettid());
}

} // namespace kelcore::threads
