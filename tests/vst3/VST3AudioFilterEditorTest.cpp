// SPDX-License-Identifier: GPL-3.0-or-later
// The VST 3 editor: its run loop on fake handlers, and a real Xlib view (KafhVst3Editor) embedded in
// a window of a private X server, resized, painted, clicked, closed and reopened.
#include "kelaudiofilterhost/vst3/VST3AudioFilter.h"
#include "kelaudiofilterhost/vst3/VST3AudioFilterEditor.h"
#include "kelaudiofilterhost/vst3/VST3PluginModule.h"
#include "kelaudiofilterhost/vst3/VST3RunLoop.h"
#include "tests/support/Vst3TestSupport.h"
#include "tests/support/XvfbServer.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace kelaudiofilterhost::vst3 {
namespace {

using namespace Steinberg;
namespace fixture = kafh_testplugins_vst3;

// One object that is both kinds of handler, counting its calls and references; onCall runs inside
// each callback.
class FakeHandler : public Linux::IEventHandler, public Linux::ITimerHandler {
public:
    tresult PLUGIN_API queryInterface(const TUID, void** object) override
    {
        *object = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return static_cast<uint32>(++references); }
    uint32 PLUGIN_API release() override { return static_cast<uint32>(--references); }
    void PLUGIN_API onFDIsSet(Linux::FileDescriptor) override
    {
        ++descriptorCalls;
        if (onCall) {
            onCall();
        }
    }
    void PLUGIN_API onTimer() override
    {
        ++timerCalls;
        if (onCall) {
            onCall();
        }
    }

    int references = 1;
    int descriptorCalls = 0;
    int timerCalls = 0;
    std::function<void()> onCall;
};

class Pipe {
public:
    Pipe() { EXPECT_EQ(pipe(mFds), 0); }
    ~Pipe()
    {
        close(mFds[0]);
        close(mFds[1]);
    }
    int ReadEnd() const { return mFds[0]; }
    void Signal() const { EXPECT_EQ(write(mFds[1], "x", 1), 1); }

private:
    int mFds[2] = {-1, -1};
};

VST3PluginGate TestGate()
{
    return VST3PluginGate(u"run loop test", "VST3RunLoopTest");
}

TEST(VST3RunLoop, FiresReadyDescriptorsAndDueTimersAndReleasesWhatIsLeft)
{
    VST3RunLoop loop(TestGate(), nullptr);
    FakeHandler handler;
    Pipe pipe;
    EXPECT_EQ(loop.registerEventHandler(&handler, pipe.ReadEnd()), kResultOk);
    EXPECT_EQ(loop.registerTimer(&handler, 5), kResultOk);
    EXPECT_EQ(loop.registerTimer(&handler, 0), kInvalidArgument);
    EXPECT_EQ(loop.registerEventHandler(nullptr, pipe.ReadEnd()), kInvalidArgument);
    EXPECT_EQ(handler.references, 3);

    loop.Service(); // nothing readable, the timer not yet due
    EXPECT_EQ(handler.descriptorCalls, 0);
    EXPECT_EQ(handler.timerCalls, 0);
    pipe.Signal();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    loop.Service();
    EXPECT_EQ(handler.descriptorCalls, 1);
    EXPECT_EQ(handler.timerCalls, 1);
    loop.Service(); // the timer waits a whole interval again
    EXPECT_EQ(handler.timerCalls, 1);

    void* object = nullptr;
    EXPECT_EQ(loop.queryInterface(Linux::IRunLoop::iid, &object), kResultOk);
    EXPECT_EQ(object, static_cast<Linux::IRunLoop*>(&loop));

    loop.Clear();
    EXPECT_EQ(loop.GetEventHandlerCount() + loop.GetTimerCount(), 0u);
    EXPECT_EQ(handler.references, 1);
    EXPECT_EQ(loop.unregisterTimer(&handler), kResultFalse);
}

TEST(VST3RunLoop, HandlersMayUnregisterThemselvesAndOthersFromTheirCallbacks)
{
    VST3RunLoop loop(TestGate(), nullptr);
    FakeHandler first;
    FakeHandler second;
    Pipe pipe;
    pipe.Signal();
    // Each takes both itself and the other off the loop on its first call: the other is not called.
    first.onCall = [&] {
        EXPECT_EQ(first.references, 3); // still alive while its own callback runs
        loop.unregisterEventHandler(&first);
        loop.unregisterTimer(&first);
        loop.unregisterEventHandler(&second);
        loop.unregisterTimer(&second);
        EXPECT_GT(first.references, 1);
    };
    second.onCall = first.onCall;
    loop.registerEventHandler(&first, pipe.ReadEnd());
    loop.registerEventHandler(&second, pipe.ReadEnd());
    loop.registerTimer(&first, 1);
    loop.registerTimer(&second, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    loop.Service();
    EXPECT_EQ(first.descriptorCalls + second.descriptorCalls + first.timerCalls + second.timerCalls, 1);
    EXPECT_EQ(first.references, 1);
    EXPECT_EQ(second.references, 1);
    EXPECT_EQ(loop.GetEventHandlerCount() + loop.GetTimerCount(), 0u);
}

// The editor test plug-in in a top-level window of a private X server.
class VST3AudioFilterEditorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(mServer.GetDisplay().empty()) << "Xvfb did not start";
        mServer.Export();
        mDisplay = XOpenDisplay(mServer.GetDisplay().c_str());
        ASSERT_NE(mDisplay, nullptr);
        mParent = XCreateSimpleWindow(mDisplay, DefaultRootWindow(mDisplay), 10, 10, 640, 480, 0, 0, 0);
        XMapWindow(mDisplay, mParent);
        XSync(mDisplay, False);
        mFilter = testing::OpenTestBundle("KafhVst3Editor", fixture::kEditorProcessor);
        ASSERT_NE(mFilter, nullptr);
        mStats = testing::BundleFunction<fixture::EditorStatsFunction>("KafhVst3Editor", fixture::kEditorStatsName);
        ASSERT_NE(mStats, nullptr);
    }
    void TearDown() override
    {
        mFilter.reset();
        if (mDisplay != nullptr) {
            XCloseDisplay(mDisplay);
        }
    }

    void Click(int x, int y)
    {
        int rootX = 0;
        int rootY = 0;
        Window child = 0;
        XTranslateCoordinates(mDisplay, mParent, DefaultRootWindow(mDisplay), x, y, &rootX, &rootY, &child);
        XTestFakeMotionEvent(mDisplay, -1, rootX, rootY, CurrentTime);
        XTestFakeButtonEvent(mDisplay, 1, True, CurrentTime);
        XTestFakeButtonEvent(mDisplay, 1, False, CurrentTime);
        XFlush(mDisplay);
    }

    fixture::EditorStats Stats() const
    {
        fixture::EditorStats stats{};
        mStats(&stats);
        return stats;
    }
    // Idles the editor until done() holds, for at most five seconds.
    bool IdleUntil(AudioFilterEditor& editor, const std::function<bool()>& done)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < end) {
            editor.Idle();
            if (done()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    unsigned long Pixel(int x, int y)
    {
        XImage* image = XGetImage(mDisplay, mParent, x, y, 1, 1, AllPlanes, ZPixmap);
        if (image == nullptr) {
            return ~0ul;
        }
        const unsigned long pixel = XGetPixel(image, 0, 0) & 0xFFFFFF;
        XDestroyImage(image);
        return pixel;
    }

    testing::XvfbServer mServer;
    Display* mDisplay = nullptr;
    Window mParent = 0;
    boost::intrusive_ptr<VST3AudioFilter> mFilter;
    fixture::EditorStatsFunction mStats = nullptr;
};

TEST_F(VST3AudioFilterEditorTest, OpensResizesPaintsTakesClicksAndClosesAgainAndAgain)
{
    auto& filter = mFilter;
    ASSERT_TRUE(filter->HasCustomEditor());
    const auto base = filter->CreateCustomEditor();
    auto* editor = dynamic_cast<VST3AudioFilterEditor*>(base.get());
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(base->GetContentRect(), kelcore::geom::RectT<long>(0, 0, fixture::kEditorWidth, fixture::kEditorHeight));

    // The application answers the view's resize request by resizing its window.
    std::vector<kelcore::geom::RectT<long>> requested;
    base->GetContentSizeChangedSignal().connect([&] {
        requested.push_back(base->GetContentRect());
        XResizeWindow(mDisplay, mParent, static_cast<unsigned>(requested.back().right),
                      static_cast<unsigned>(requested.back().bottom));
    });
    std::vector<std::pair<int, float>> edits;
    filter->GetAutomatedParameterChangeSignal().connect([&](int index, float value) { edits.emplace_back(index, value); });

    ASSERT_EQ(base->Open(reinterpret_cast<void*>(mParent)), kResultOk);
    const kelcore::geom::RectT<long> resized(0, 0, fixture::kEditorResizedWidth, fixture::kEditorResizedHeight);
    ASSERT_EQ(requested.size(), 1u);
    EXPECT_EQ(requested[0], resized);
    EXPECT_EQ(Stats().onSizeWidth, fixture::kEditorResizedWidth); // the view resizes on onSize only
    EXPECT_EQ(Stats().onSizeHeight, fixture::kEditorResizedHeight);
    EXPECT_EQ(base->GetContentRect(), resized);
    EXPECT_EQ(editor->GetRunLoop().GetEventHandlerCount(), 1u);
    EXPECT_EQ(editor->GetRunLoop().GetTimerCount(), 1u);

    // Painted from the view's timer: left half red, right half blue.
    EXPECT_TRUE(IdleUntil(*base, [&] { return Pixel(100, 120) == 0xFF0000 && Pixel(300, 120) == 0x0000FF; }))
        << std::hex << Pixel(100, 120) << " " << Pixel(300, 120);
    EXPECT_GT(Stats().timerCalls, 0);

    // A click reaches the view through its descriptor handler; the edit reaches the filter's signal.
    Click(50, 50);
    EXPECT_TRUE(IdleUntil(*base, [&] { return !edits.empty(); }));
    ASSERT_EQ(edits.size(), 1u);
    EXPECT_EQ(edits[0], std::make_pair(0, 1.0f));
    EXPECT_GT(Stats().descriptorCalls, 0);
    EXPECT_FLOAT_EQ(filter->GetParameter(0), 1.0f);

    // Empty requests are refused; an application resize goes through the view's constraint.
    ViewRect empty(0, 0, 0, 300);
    EXPECT_EQ(editor->resizeView(nullptr, &empty), kResultFalse);
    EXPECT_EQ(editor->resizeView(nullptr, nullptr), kResultFalse);
    EXPECT_EQ(requested.size(), 1u);
    const kelcore::geom::RectT<long> minimum(0, 0, fixture::kEditorMinimumSize, fixture::kEditorMinimumSize);
    EXPECT_EQ(editor->SetContentSize(50, 60), minimum);
    EXPECT_EQ(Stats().onSizeWidth, fixture::kEditorMinimumSize);

    // The controller's vendor view interface, and focus handed back through the filter.
    base->SetBrightness(0.25f, true);
    EXPECT_FLOAT_EQ(Stats().brightness, 0.25f);
    EXPECT_TRUE(Stats().applyBrightness);
    EXPECT_TRUE(base->GainFocus(true));
    EXPECT_FALSE(base->GainFocus(false));
    EXPECT_TRUE(base->SetCurrentFocus());
    std::vector<bool> handOvers;
    base->GetAdvanceFocusSignal().connect([&](bool forward) { handOvers.push_back(forward); });
    filter->ShiftFocus(1);
    filter->ShiftFocus(-1);
    EXPECT_EQ(handOvers, (std::vector<bool>{true, false}));

    void* runLoop = nullptr;
    EXPECT_EQ(editor->queryInterface(Linux::IRunLoop::iid, &runLoop), kResultOk);
    void* frame = nullptr;
    EXPECT_EQ(static_cast<Linux::IRunLoop*>(runLoop)->queryInterface(IPlugFrame::iid, &frame), kResultOk);
    EXPECT_EQ(frame, static_cast<IPlugFrame*>(editor));

    base->Close();
    EXPECT_FALSE(editor->IsAttached());
    EXPECT_EQ(editor->GetRunLoop().GetEventHandlerCount() + editor->GetRunLoop().GetTimerCount(), 0u);
    EXPECT_EQ(Stats().runLoopRegistrations, 0);

    // Reopened, it paints again at the size it has kept.
    ASSERT_EQ(base->Open(reinterpret_cast<void*>(mParent)), kResultOk);
    EXPECT_EQ(requested.size(), 1u);
    EXPECT_EQ(Stats().runLoopRegistrations, 2);
    EXPECT_TRUE(IdleUntil(*base, [&] { return Pixel(20, 20) == 0xFF0000 && Pixel(80, 20) == 0x0000FF; }));
    base->Close();
    EXPECT_EQ(Stats().runLoopRegistrations, 0);
}

// The editor lives on the user-interface thread while audio runs on its own: edits made in it reach
// the processor through the lock-free queue, and neither thread waits for or disturbs the other.
TEST_F(VST3AudioFilterEditorTest, ProcessingGoesOnWhileTheEditorIsOpenIdledAndClicked)
{
    auto& filter = mFilter;
    const auto editor = filter->CreateCustomEditor();
    ASSERT_NE(editor, nullptr);
    constexpr int kFrames = 256;
    filter->SetSampleRate(48000.0f);
    filter->SetBlockSize(kFrames);
    filter->Resume();
    std::atomic<bool> stop{false};
    std::atomic<int> blocks{0};
    bool finite = true;
    std::thread audio([&] {
        std::vector<float> left(kFrames, 0.5f), right(kFrames, -0.5f), outLeft(kFrames), outRight(kFrames);
        float* in[] = {left.data(), right.data()};
        float* out[] = {outLeft.data(), outRight.data()};
        while (!stop.load()) {
            filter->Process(in, out, kFrames);
            for (int i = 0; i < kFrames; ++i) {
                finite = finite && std::isfinite(outLeft[static_cast<std::size_t>(i)]) &&
                         std::isfinite(outRight[static_cast<std::size_t>(i)]);
            }
            blocks.fetch_add(1);
        }
    });
    ASSERT_EQ(editor->Open(reinterpret_cast<void*>(mParent)), kResultOk);
    // Clicks go to the view's window only once it is shown.
    ASSERT_TRUE(IdleUntil(*editor, [&] { return Pixel(50, 50) == 0xFF0000; }));
    int edits = 0;
    filter->GetAutomatedParameterChangeSignal().connect([&](int, float) { ++edits; });
    for (int click = 1; click <= 4; ++click) {
        Click(50, 50);
        EXPECT_TRUE(IdleUntil(*editor, [&] { return edits == click; }));
    }
    editor->Close();
    stop.store(true);
    audio.join();
    filter->Suspend();
    EXPECT_GT(blocks.load(), 0);
    EXPECT_TRUE(finite);
    EXPECT_FLOAT_EQ(filter->GetParameter(0), 0.0f); // toggled four times
}

} // namespace
} // namespace kelaudiofilterhost::vst3
