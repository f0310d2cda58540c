// SPDX-License-Identifier: GPL-3.0-or-later
// VST 2 editors on a private X server: KafhEditor's real window opened into a window of the test,
// sized, resized at the effect's request, painted, clicked and typed into, closed and opened again.
#include "kelaudiofilterhost/services/Debug.h"
#include "kelaudiofilterhost/vst2/VSTAudioFilter.h"
#include "tests/support/Vst2TestSupport.h"
#include "tests/support/XvfbServer.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <chrono>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

namespace kelaudiofilterhost {
namespace {

using namespace kelaudiofilterhost::testing;
using Rect = kelcore::geom::RectT<long>;
namespace abi = vst::abi;

constexpr unsigned long kRed = 0xFF0000;
constexpr unsigned long kBlue = 0x0000FF;

class VSTEditor : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        sServer = std::make_unique<XvfbServer>();
        sServer->Export();
    }
    static void TearDownTestSuite() { sServer.reset(); }

    void SetUp() override
    {
        if (sServer->GetDisplay().empty() || (mDisplay = XOpenDisplay(sServer->GetDisplay().c_str())) == nullptr) {
            GTEST_SKIP() << "no X server";
        }
        // A top-level window at the screen's origin: without a window manager it stays there, so
        // window and screen coordinates agree for the clicks.
        mParent = XCreateSimpleWindow(mDisplay, DefaultRootWindow(mDisplay), 0, 0, 640, 480, 0, 0,
                                      WhitePixel(mDisplay, DefaultScreen(mDisplay)));
        XMapWindow(mDisplay, mParent);
        XSync(mDisplay, False);
        mFilter = OpenTestEffect("KafhEditor", kafhtest::kEditorId);
        ASSERT_TRUE(mFilter);
        mEditor = mFilter->CreateCustomEditor();
        ASSERT_TRUE(mEditor);
    }
    void TearDown() override
    {
        mEditor.reset();
        mFilter.reset();
        if (mDisplay != nullptr) {
            XDestroyWindow(mDisplay, mParent);
            XCloseDisplay(mDisplay);
        }
    }

    std::intptr_t CanDoSizeWindow()
    {
        return mFilter->AudioMasterCallback(abi::audioMasterCanDo, 0, 0, const_cast<char*>("sizeWindow"), 0.0f);
    }

    unsigned long PixelAt(int x, int y)
    {
        XImage* image = XGetImage(mDisplay, mParent, x, y, 1, 1, AllPlanes, ZPixmap);
        if (image == nullptr) {
            return ~0ul;
        }
        const unsigned long pixel = XGetPixel(image, 0, 0) & 0xFFFFFF;
        XDestroyImage(image);
        return pixel;
    }

    /// Idles the editor until done() holds; false after the timeout.
    template <class Done> bool IdleUntil(Done done)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            mEditor->Idle();
            if (done()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    /// The editor painted at its grown size: red on the left half, blue on the right.
    bool PaintedGrown()
    {
        return PixelAt(10, 120) == kRed && PixelAt(190, 230) == kRed && PixelAt(210, 10) == kBlue &&
               PixelAt(390, 230) == kBlue && PixelAt(410, 120) == 0xFFFFFF;
    }

    static std::unique_ptr<XvfbServer> sServer;
    Display* mDisplay = nullptr;
    Window mParent = 0;
    boost::intrusive_ptr<vst::VSTAudioFilter> mFilter;
    boost::intrusive_ptr<AudioFilterEditor> mEditor;
};

std::unique_ptr<XvfbServer> VSTEditor::sServer;

TEST_F(VSTEditor, OpensSizesResizesPaintsClosesAndOpensAgain)
{
    EXPECT_TRUE(mFilter->HasCustomEditor());
    std::vector<Rect> sizes;
    mEditor->GetContentSizeChangedSignal().connect([&] { sizes.push_back(mEditor->GetContentRect()); });
    for (std::size_t round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        EXPECT_EQ(CanDoSizeWindow(), 0);
        EXPECT_EQ(mEditor->Open(reinterpret_cast<void*>(mParent)), 1);
        EXPECT_EQ(mEditor->GetContentRect(), Rect(0, 0, kafhtest::kEditorWidth, kafhtest::kEditorHeight));
        EXPECT_EQ(CanDoSizeWindow(), 1);
        // The effect asks to grow on its first idle and paints what the server exposes.
        EXPECT_TRUE(IdleUntil([&] { return sizes.size() == round && PaintedGrown(); }));
        ASSERT_EQ(sizes.size(), round);
        EXPECT_EQ(sizes.back(), Rect(0, 0, kafhtest::kEditorGrownWidth, kafhtest::kEditorGrownHeight));
        mEditor->Close();
        XSync(mDisplay, False);
        EXPECT_EQ(PixelAt(10, 120), 0xFFFFFFu); // the effect's window is gone
    }
    EXPECT_EQ(CanDoSizeWindow(), 0);
}

TEST_F(VSTEditor, ClicksChangeTheParameterAndTabHandsFocusBack)
{
    std::vector<std::pair<int, float>> automated;
    std::vector<std::pair<int, bool>> editing;
    std::vector<bool> focus;
    mFilter->GetAutomatedParameterChangeSignal().connect([&](int i, float v) { automated.emplace_back(i, v); });
    mFilter->GetEditingStateChangeSignal().connect([&](int i, bool on) { editing.emplace_back(i, on); });
    mEditor->GetAdvanceFocusSignal().connect([&](bool forward) { focus.push_back(forward); });
    ASSERT_EQ(mEditor->Open(reinterpret_cast<void*>(mParent)), 1);
    ASSERT_TRUE(IdleUntil([&] { return PaintedGrown(); }));

    XTestFakeMotionEvent(mDisplay, DefaultScreen(mDisplay), 300, 100, CurrentTime);
    XTestFakeButtonEvent(mDisplay, 1, True, CurrentTime);
    XTestFakeButtonEvent(mDisplay, 1, False, CurrentTime);
    XFlush(mDisplay);
    EXPECT_TRUE(IdleUntil([&] { return !automated.empty(); }));
    EXPECT_EQ(automated, (std::vector<std::pair<int, float>>{{0, 1.0f}}));
    EXPECT_EQ(editing, (std::vector<std::pair<int, bool>>{{0, true}, {0, false}}));
    EXPECT_EQ(mFilter->GetParameter(0), 1.0f);

    EXPECT_TRUE(mEditor->GainFocus(true));
    const KeyCode tab = XKeysymToKeycode(mDisplay, XK_Tab);
    XTestFakeKeyEvent(mDisplay, tab, True, CurrentTime);
    XTestFakeKeyEvent(mDisplay, tab, False, CurrentTime);
    XFlush(mDisplay);
    EXPECT_TRUE(IdleUntil([&] { return !focus.empty(); }));
    EXPECT_EQ(focus, std::vector<bool>{true});
    mEditor->Close();
}

TEST(VSTEditorSwitch, OnlyTheAlphabeticTrueHidesEditorsAndNoneAreMadeWithoutTheFlag)
{
    auto& database = kelcore::debug::DebugDatabase::Instance();
    const auto filter = OpenTestEffect("KafhEditor", kafhtest::kEditorId);
    ASSERT_TRUE(filter);
    database.SetEntry("DisableVSTCustomUI", "true");
    EXPECT_FALSE(filter->HasCustomEditor());
    EXPECT_TRUE(filter->CreateCustomEditor()); // the switch hides editors, it does not refuse them
    database.SetEntry("DisableVSTCustomUI", "1");
    EXPECT_TRUE(filter->HasCustomEditor());
    database.RemoveEntry("DisableVSTCustomUI");
    EXPECT_TRUE(filter->HasCustomEditor());

    const auto gain = OpenTestEffect("KafhGain", kafhtest::kGainId);
    ASSERT_TRUE(gain);
    EXPECT_FALSE(gain->HasCustomEditor());
    EXPECT_FALSE(gain->CreateCustomEditor());
}

} // namespace
} // namespace kelaudiofilterhost
