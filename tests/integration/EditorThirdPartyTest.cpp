// SPDX-License-Identifier: GPL-3.0-or-later
// The editors of the zam plug-ins (VST 2 and VST 3) under a private X server with software OpenGL:
// each one told with a size by kafh info, opened by kafh edit --screenshot in a process of its own,
// drawn (not one flat colour) and closed cleanly.
#include "ThirdPartyCase.h"

#include "tests/support/PngReader.h"
#include "tests/support/XvfbServer.h"

#include <nlohmann/json.hpp>

#include <fstream>

namespace kelaudiofilterhost {
namespace {

using namespace integration;

// Software OpenGL keeps allocations until the process ends, which leak checkers report; the
// sanitizer builds have their own editor tests on our plug-ins.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

struct KafhRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string Quote(const std::string& text)
{
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

std::string ReadAll(const std::filesystem::path& path)
{
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

class ZamEditors : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (kSanitized) {
            GTEST_SKIP() << "software OpenGL leaks at exit";
        }
#ifndef KAFH_EXECUTABLE
        GTEST_SKIP() << "kafh is not built";
#endif
        auto pattern = ::testing::TempDir() + "kafh-editors-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        mFolder = pattern;
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(mFolder, ignored);
    }

#ifdef KAFH_EXECUTABLE
    KafhRun Kafh(const std::string& arguments) const
    {
        const auto command = "timeout -s KILL 60 " + Quote(KAFH_EXECUTABLE) + " --config " +
                             Quote((mFolder / "config").string()) + " " + arguments + " </dev/null >" +
                             Quote((mFolder / "out").string()) + " 2>" + Quote((mFolder / "err").string());
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(mFolder / "out"), ReadAll(mFolder / "err")};
    }
#else
    KafhRun Kafh(const std::string& /*arguments*/) const { return {}; }
#endif

    std::filesystem::path mFolder;
};

TEST_F(ZamEditors, OpenDrawAndCloseUnderXvfb)
{
    auto known = KnownPackageFiles("zam-plugins", ".so");
    known.merge(KnownPackageFiles("zam-plugins", ".vst3"));
    if (known.empty()) {
        GTEST_SKIP() << "zam-plugins is not installed";
    }
    // Large enough for the largest editor: a capture needs the whole window on the screen.
    testing::XvfbServer server("1600x1200x24");
    ASSERT_FALSE(server.GetDisplay().empty());
    server.Export();
    const auto scan = Kafh("scan --dir /usr/lib/vst --dir /usr/lib/vst3");
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    const auto list = Kafh("list --json");
    ASSERT_EQ(list.exitCode, 0) << list.err;

    int opened = 0;
    for (const auto& filter : nlohmann::json::parse(list.out)) {
        const auto locator = filter.value("locator", std::string());
        if (locator.empty() || !known.contains(Canonical(locator))) {
            continue;
        }
        const auto id = filter.value("id", std::string());
        SCOPED_TRACE(id);
        const auto info = Kafh("info --json " + Quote(id));
        ASSERT_EQ(info.exitCode, 0) << info.err;
        const auto described = nlohmann::json::parse(info.out);
        if (!described.value("editor", false)) {
            continue;
        }
        ++opened;
        ASSERT_TRUE(described.contains("editor_size")) << info.out;
        const int width = described["editor_size"].value("width", 0);
        const int height = described["editor_size"].value("height", 0);
        EXPECT_GT(width, 0);
        EXPECT_GT(height, 0);

        const auto shot = mFolder / "editor.png";
        std::filesystem::remove(shot);
        const auto edit = Kafh("edit " + Quote(id) + " --screenshot " + Quote(shot.string()));
        EXPECT_EQ(edit.exitCode, 0) << edit.err;
        EXPECT_EQ(edit.err.find("warning"), std::string::npos) << edit.err;
        const auto png = testing::ReadPng(shot);
        EXPECT_EQ(png.width, width);
        EXPECT_EQ(png.height, height);
        EXPECT_FALSE(png.rgb.empty() || png.IsOneColour()) << "the editor drew nothing";
    }
    EXPECT_GT(opened, 0);
    std::cout << "[ NOTE     ] " << opened << " zam editors opened, drawn and closed\n";
}

} // namespace
} // namespace kelaudiofilterhost
