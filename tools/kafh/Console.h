// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/services/Strings.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace kafh {

/// The tool's exit codes.
enum ExitCode : int {
    kExitOk = 0,
    kExitFailure = 1,
    kExitUsage = 2,
};

/// Writes "kafh: error: <message>" to standard error and returns kExitFailure.
int Fail(std::string_view message);
/// Writes "kafh: error: <message>" to standard error and returns kExitUsage.
int FailUsage(std::string_view message);
/// Writes "kafh: warning: <message>" to standard error.
void Warn(std::string_view message);

/// Text from a plug-in or a file made safe for a terminal: control characters (C0, DEL and C1)
/// become visible escapes ("\r", "\x1b"), so no text can move the cursor or break a line.
std::string DisplayText(std::string_view text);

/// Why the path cannot be read as a file ("no such file", "it is a folder", a link loop's text, ...);
/// empty when it is a regular file.
std::string WhyNotARegularFile(const std::filesystem::path& path);

/// How many entries of a long list (programs, parameters) a display shows before "... and N more".
inline constexpr std::size_t kDisplayedListEntries = 100;

/// Text in double quotes, for naming files and filters in messages.
std::string Quoted(std::string_view text);
std::string Quoted(const kelcore::UTF16String& text);

/// Level in dBFS with one decimal ("-6.0 dBFS"); "-inf dBFS" for silence.
std::string FormatDecibels(double linear);
/// "1.25 s", "850 ms".
std::string FormatSeconds(double seconds);

/// A progress display on standard error: a bar redrawn in place on a terminal, plain lines
/// (at most one per step) otherwise. Quiet when disabled.
class Progress {
public:
    Progress(std::string title, bool enabled);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    /// Step `current` of `total` (1-based), with what is being worked on.
    void Step(int current, int total, std::string_view item);
    /// A fraction of the whole, for long single jobs; redrawn at most ten times a second.
    void Fraction(double fraction, std::string_view item);
    /// Clears the bar (on a terminal); later output starts on a clean line.
    void Finish();

private:
    void Draw(double fraction, const std::string& label);

    std::string mTitle;
    bool mEnabled;
    bool mTerminal;
    bool mDrawn = false;
    int mLastPercent = -1;
    std::chrono::steady_clock::time_point mLastDraw;
};

} // namespace kafh
