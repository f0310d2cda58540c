// SPDX-License-Identifier: GPL-3.0-or-later
// kafh edit on a private X server: screenshots of our test editors, clicks traced and saved when the
// window is closed or Ctrl+C pressed, and the refusals without a display or an editor.
#include "tests/support/PngReader.h"
#include "tests/support/XvfbServer.h"
#include "tests/tools/KafhTestSupport.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace kafhtest {
namespace {

constexpr const char* kVst2EditorId = "2:1264993636 KafhEditor";
constexpr const char* kVst3EditorId = "3:4445664b 0 0 1";

using kelaudiofilterhost::testing::ReadPng;

class KafhEdit : public KafhTest {
protected:
    static void SetUpTestSuite() { sServer = std::make_unique<kelaudiofilterhost::testing::XvfbServer>(); }
    static void TearDownTestSuite() { sServer.reset(); }

    void SetUp() override
    {
        KafhTest::SetUp();
        if (sServer->GetDisplay().empty()) {
            GTEST_SKIP() << "no X server";
        }
        sServer->Export();
        const auto result = Kafh({"scan", "--dir", KAFH_TESTPLUGINS_VST2_DIR, "--dir", KAFH_TESTPLUGINS_VST3_DIR});
        ASSERT_EQ(result.exitCode, 0) << result.err;
    }

    /// Starts kafh ARGS in the background (signals as from a terminal); its output goes to files.
    pid_t Start(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), {KAFH_EXECUTABLE, "--config", mConfig.string()});
        const pid_t pid = fork();
        if (pid == 0) {
            signal(SIGINT, SIG_DFL);
            setenv("HOME", mFolder.c_str(), 1);
            setenv("TMPDIR", (mFolder / "tmp").c_str(), 1);
            dup2(open((mFolder / "stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
            dup2(open((mFolder / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
            std::vector<char*> argv;
            for (auto& argument : arguments) {
                argv.push_back(argument.data());
            }
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        return pid;
    }

    /// Waits until standard error holds the text; false after ten seconds.
    bool WaitForError(const std::string& text) const
    {
        for (int i = 0; i < 1000; ++i) {
            if (ReadText(mFolder / "stderr.txt").find(text) != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    /// The exit code of a kafh started in the background; -1 when it ended otherwise or after ten seconds.
    static int Finish(pid_t pid)
    {
        for (int i = 0; i < 1000; ++i) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return -1;
    }

    static std::unique_ptr<kelaudiofilterhost::testing::XvfbServer> sServer;
};

std::unique_ptr<kelaudiofilterhost::testing::XvfbServer> KafhEdit::sServer;

// The top-level window of the given name, 0 when there is none.
Window FindWindow(Display* display, const std::string& name)
{
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    Window found = 0;
    XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count);
    for (unsigned i = 0; i < count && found == 0; ++i) {
        char* title = nullptr;
        if (XFetchName(display, children[i], &title) != 0 && title != nullptr) {
            found = name == title ? children[i] : 0;
            XFree(title);
        }
    }
    XFree(children);
    return found;
}

TEST_F(KafhEdit, ScreenshotsShowWhatTheTestEditorsDraw)
{
    for (const char* id : {kVst2EditorId, kVst3EditorId}) {
        SCOPED_TRACE(id);
        const auto file = mFolder / "editor.png";
        const auto result = Kafh({"edit", id, "--screenshot", file.string()});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.err, "");
        const auto png = ReadPng(file);
        // Both ask to grow to 400 x 240 once open; the window follows.
        ASSERT_EQ(png.width, 400);
        ASSERT_EQ(png.height, 240);
        EXPECT_EQ(png.At(5, 5), 0xFF0000u);
        EXPECT_EQ(png.At(png.width / 2 - 5, png.height - 5), 0xFF0000u);
        EXPECT_EQ(png.At(png.width / 2 + 5, 5), 0x0000FFu);
        EXPECT_EQ(png.At(png.width - 5, png.height - 5), 0x0000FFu);
        EXPECT_EQ(EntryCount(mFolder), 5) << "a temporary file was left"; // config, tmp, editor.png, two outputs
    }
}

TEST_F(KafhEdit, ClicksAreTracedAndSavedWhenTheWindowClosesOrCtrlCIsPressed)
{
    Display* display = XOpenDisplay(sServer->GetDisplay().c_str());
    ASSERT_NE(display, nullptr);
    struct Case {
        const char* id;
        const char* title;
        const char* parameter;
        bool byWindowManager;
        /// The VST 3 fixture keeps no state: its preset holds no settings to read back.
        bool keepsState;
    };
    for (const auto& c : {Case{kVst2EditorId, "KafhEditor", "Clicked", true, true},
                          Case{kVst3EditorId, "Kafh Editor", "Toggle", false, false}}) {
        SCOPED_TRACE(c.id);
        const auto preset = mFolder / "edited.preset";
        const pid_t kafh = Start({"-v", "edit", c.id, "--save", preset.string()});
        ASSERT_TRUE(WaitForError("kafh: editing")) << ReadText(mFolder / "stderr.txt");
        const Window window = FindWindow(display, c.title);
        ASSERT_NE(window, 0u);
        // Clicks go to the editor's window only once it is shown: wait for its red half.
        bool shown = false;
        for (int i = 0; i < 500 && !shown; ++i) {
            if (XImage* pixel = XGetImage(display, window, 30, 30, 1, 1, AllPlanes, ZPixmap)) {
                shown = (XGetPixel(pixel, 0, 0) & 0xFFFFFF) == 0xFF0000;
                XDestroyImage(pixel);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_TRUE(shown);
        // Without a window manager the window stays at the origin.
        XTestFakeMotionEvent(display, DefaultScreen(display), 30, 30, CurrentTime);
        XTestFakeButtonEvent(display, 1, True, CurrentTime);
        XTestFakeButtonEvent(display, 1, False, CurrentTime);
        XSync(display, False);
        EXPECT_TRUE(WaitForError("kafh: parameter 0 (" + std::string(c.parameter) + ") = 1"));
        if (c.byWindowManager) {
            XEvent close{};
            close.xclient.type = ClientMessage;
            close.xclient.window = window;
            close.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
            close.xclient.format = 32;
            close.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
            close.xclient.data.l[1] = CurrentTime;
            XSendEvent(display, window, False, NoEventMask, &close);
            XSync(display, False);
        } else {
            kill(kafh, SIGINT);
        }
        ASSERT_EQ(Finish(kafh), 0) << ReadText(mFolder / "stderr.txt");
        EXPECT_NE(ReadText(mFolder / "stdout.txt").find("Saved the settings"), std::string::npos);
        EXPECT_NE(ReadText(preset).find(c.id), std::string::npos);
        if (!c.keepsState) {
            continue;
        }
        const auto loaded = Kafh({"preset", "load", c.id, preset.string()});
        EXPECT_NE(loaded.out.find(std::string(c.parameter) + " = 1"), std::string::npos) << loaded.out << loaded.err;
    }
    XCloseDisplay(display);
}

TEST_F(KafhEdit, AnEditorThatCrashesEndsTheCommandWithOneLine)
{
    const pid_t kafh = Start({"edit", kVst2EditorId});
    ASSERT_TRUE(WaitForError("kafh: editing")) << ReadText(mFolder / "stderr.txt");
    // The editor runs in kafh's child; a crash there stands for one in the plug-in's window code.
    std::istringstream children(ReadText("/proc/" + std::to_string(kafh) + "/task/" + std::to_string(kafh) + "/children"));
    pid_t child = 0;
    ASSERT_TRUE(children >> child);
    // SIGABRT rather than SIGSEGV: a sanitizer would take a segmentation fault over and abort instead.
    kill(child, SIGABRT);
    EXPECT_EQ(Finish(kafh), 1);
    const auto err = ReadText(mFolder / "stderr.txt");
    EXPECT_NE(err.find("(KafhEditor) crashed with signal 6 (Aborted) at step \"edit\""), std::string::npos) << err;
}

TEST_F(KafhEdit, RefusesWithoutADisplayAnEditorOrAFolderToSaveIn)
{
    // Refused before the editor opens, not after the work in it.
    const auto noFolder = Kafh({"edit", kVst2EditorId, "--save", (mFolder / "missing" / "x.preset").string()});
    EXPECT_EQ(noFolder.exitCode, 1);
    EXPECT_NE(noFolder.err.find("does not exist"), std::string::npos) << noFolder.err;
    const auto noEditor = Kafh({"edit", "Kafh Gain"});
    EXPECT_EQ(noEditor.exitCode, 1);
    EXPECT_EQ(noEditor.err, "kafh: error: filter \"3:4147664b 0 0 1\" (Kafh Gain) has no editor\n");
    setenv("DISPLAY", ":9999", 1);
    const auto unreachable = Kafh({"edit", kVst2EditorId});
    EXPECT_EQ(unreachable.exitCode, 1);
    EXPECT_EQ(unreachable.err, "kafh: error: cannot open the X display \":9999\"\n");
    unsetenv("DISPLAY");
    const auto unset = Kafh({"edit", kVst2EditorId});
    EXPECT_EQ(unset.exitCode, 1);
    EXPECT_EQ(unset.err, "kafh: error: kafh edit needs an X display: DISPLAY is not set\n");
    // Without a display, info still tells there is an editor (its size needs one).
    const auto info = Kafh({"info", kVst2EditorId});
    EXPECT_NE(info.out.find("editor yes, "), std::string::npos) << info.out;
    sServer->Export();
    const auto sized = Kafh({"info", kVst2EditorId});
    EXPECT_NE(sized.out.find("editor yes (320 x 200)"), std::string::npos) << sized.out;
}

} // namespace
} // namespace kafhtest
