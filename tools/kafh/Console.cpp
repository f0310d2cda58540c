// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/kafh/Console.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <sstream>

#include <sys/ioctl.h>
#include <unistd.h>

namespace kafh {

namespace {

int TerminalWidth()
{
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col >= 40) {
        return size.ws_col;
    }
    return 80;
}

// Keeps the end of a long path, which names the module.
std::string ShortenFromLeft(std::string_view text, std::size_t width)
{
    if (text.size() <= width) {
        return std::string(text);
    }
    if (width <= 3) {
        return std::string(text.substr(text.size() - width));
    }
    return "..." + std::string(text.substr(text.size() - (width - 3)));
}

} // namespace

int Fail(std::string_view message)
{
    std::cerr << "kafh: error: " << message << '\n';
    return kExitFailure;
}

int FailUsage(std::string_view message)
{
    std::cerr << "kafh: error: " << message << "\n(see kafh --help)\n";
    return kExitUsage;
}

void Warn(std::string_view message)
{
    std::cerr << "kafh: warning: " << message << '\n';
}

namespace {

// The length of the well-formed UTF-8 sequence at the start of text; 0 when there is none.
std::size_t Utf8SequenceLength(std::string_view text)
{
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
    }
    if (length == 0 || text.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return 0;
        }
    }
    // Overlong forms, surrogates and code points above U+10FFFF.
    if ((lead == 0xE0 && byte(1) < 0xA0) || (lead == 0xED && byte(1) > 0x9F) || (lead == 0xF0 && byte(1) < 0x90) ||
        (lead == 0xF4 && byte(1) > 0x8F)) {
        return 0;
    }
    return length;
}

} // namespace

std::string WhyNotARegularFile(const std::filesystem::path& path)
{
    std::error_code status;
    const auto type = std::filesystem::status(path, status).type();
    if (type == std::filesystem::file_type::regular) {
        return {};
    }
    if (type == std::filesystem::file_type::not_found) {
        return "no such file";
    }
    if (type == std::filesystem::file_type::directory) {
        return "it is a folder";
    }
    // A link loop or an unreadable folder on the way says so; a FIFO or device is no file to read.
    return status ? status.message() : "not a regular file";
}

std::string DisplayText(std::string_view text)
{
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        // C1 controls are two bytes in UTF-8: 0xC2 0x80 to 0xC2 0x9F.
        const bool c1 = c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (c >= 0x80 && !c1) {
            // Bytes that are not UTF-8 show as escapes too, rather than as whatever the terminal makes of them.
            if (const auto length = Utf8SequenceLength(text.substr(i)); length > 0) {
                shown.append(text.substr(i, length));
                i += length - 1;
                continue;
            }
        } else if (c >= 0x20 && c != 0x7F && !c1) {
            shown += text[i];
            continue;
        }
        if (c1) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(text[++i]));
            shown += escaped;
            continue;
        }
        switch (c) {
        case '\n':
            shown += "\\n";
            break;
        case '\r':
            shown += "\\r";
            break;
        case '\t':
            shown += "\\t";
            break;
        default: {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned>(c));
            shown += escaped;
        }
        }
    }
    return shown;
}

std::string Quoted(std::string_view text)
{
    return "\"" + DisplayText(text) + "\"";
}

std::string Quoted(const kelcore::UTF16String& text)
{
    return Quoted(kelcore::UTF16to8(text));
}

std::string FormatDecibels(double linear)
{
    if (!(linear > 0.0) || !std::isfinite(linear)) {
        return linear > 0.0 ? "+inf dBFS" : "-inf dBFS";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f dBFS", 20.0 * std::log10(linear));
    return text;
}

std::string FormatSeconds(double seconds)
{
    char text[32];
    if (seconds < 1.0) {
        std::snprintf(text, sizeof text, "%.0f ms", seconds * 1000.0);
    } else {
        std::snprintf(text, sizeof text, "%.2f s", seconds);
    }
    return text;
}

Progress::Progress(std::string title, bool enabled)
    : mTitle(std::move(title)), mEnabled(enabled), mTerminal(isatty(STDERR_FILENO) == 1)
{
}

Progress::~Progress()
{
    Finish();
}

void Progress::Step(int current, int total, std::string_view item)
{
    if (!mEnabled) {
        return;
    }
    std::ostringstream label;
    label << current << "/" << total << " " << item;
    if (mTerminal) {
        Draw(total > 0 ? static_cast<double>(current - 1) / total : 0.0, label.str());
    } else {
        std::cerr << mTitle << " " << label.str() << '\n';
    }
}

void Progress::Fraction(double fraction, std::string_view item)
{
    if (!mEnabled) {
        return;
    }
    const int percent = static_cast<int>(std::floor(std::clamp(fraction, 0.0, 1.0) * 100.0));
    const auto now = std::chrono::steady_clock::now();
    if (mTerminal) {
        if (percent != mLastPercent && (!mDrawn || now - mLastDraw >= std::chrono::milliseconds(100))) {
            mLastPercent = percent;
            mLastDraw = now;
            Draw(fraction, std::to_string(percent) + "% " + std::string(item));
        }
    } else if (percent / 25 != mLastPercent / 25 || mLastPercent < 0) {
        // Off a terminal, a line per quarter is enough to show that work goes on.
        mLastPercent = percent;
        std::cerr << mTitle << " " << percent << "% " << item << '\n';
    }
}

void Progress::Draw(double fraction, const std::string& label)
{
    const int width = TerminalWidth();
    constexpr int kBarWidth = 24;
    const int filled = static_cast<int>(std::lround(std::clamp(fraction, 0.0, 1.0) * kBarWidth));
    std::string line = mTitle + " [" + std::string(static_cast<std::size_t>(filled), '#') +
                       std::string(static_cast<std::size_t>(kBarWidth - filled), ' ') + "] ";
    const auto room = static_cast<std::size_t>(std::max(width - 1 - static_cast<int>(line.size()), 8));
    line += ShortenFromLeft(label, room);
    // Clear to the end of the line so a shorter label leaves no remains of a longer one.
    std::cerr << '\r' << line << "\x1b[K" << std::flush;
    mDrawn = true;
}

void Progress::Finish()
{
    if (mEnabled && mTerminal && mDrawn) {
        std::cerr << "\r\x1b[K" << std::flush;
    }
    mDrawn = false;
}

} // namespace kafh
