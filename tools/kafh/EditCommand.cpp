// SPDX-License-Identifier: GPL-3.0-or-later
// kafh edit: a filter's own editor in a top-level X11 window, idled about 30 times a second, until the
// window is closed or a signal asks to stop; optionally a screenshot of its first drawing.
#include "kelaudiofilterhost/services/PluginCallTrail.h"
#include "kelaudiofilterhost/vst3/VST3AudioFilterEditor.h"
#include "tools/kafh/Commands.h"
#include "tools/kafh/Console.h"
#include "tools/kafh/FilterLookup.h"
#include "tools/kafh/Parameters.h"
#include "tools/kafh/PngFile.h"
#include "tools/kafh/PresetFile.h"
#include "tools/kafh/Settings.h"
#include "tools/kafh/Signals.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>

#include <poll.h>

namespace kafh {

namespace {

using namespace kelaudiofilterhost;
using Clock = std::chrono::steady_clock;

constexpr auto kIdlePeriod = std::chrono::milliseconds(33);
// Captures in a row that must agree before a drawing counts as finished.
constexpr int kStableCaptures = 5;
// A window needs some size before the editor tells its own.
constexpr unsigned kFallbackWidth = 400;
constexpr unsigned kFallbackHeight = 300;
constexpr unsigned long kBackground = 0x202020;

// Xlib's default handler ends the process on any error; a plug-in's or a capture's error is not fatal
// (a capture that fails shows as an empty image).
int IgnoreXError(Display* /*display*/, XErrorEvent* /*event*/)
{
    return 0;
}

// Bits of a pixel value, for one colour mask of the visual, as 8 bits.
std::uint8_t Channel(unsigned long pixel, unsigned long mask)
{
    if (mask == 0) {
        return 0;
    }
    int shift = 0;
    while (((mask >> shift) & 1) == 0) {
        ++shift;
    }
    const unsigned long bits = mask >> shift;
    return static_cast<std::uint8_t>(((pixel >> shift) & bits) * 255 / bits);
}

class EditorWindow {
public:
    explicit EditorWindow(Display* display) : mDisplay(display) {}
    ~EditorWindow()
    {
        if (mWindow != 0) {
            XDestroyWindow(mDisplay, mWindow);
        }
    }
    EditorWindow(const EditorWindow&) = delete;
    EditorWindow& operator=(const EditorWindow&) = delete;

    void Create(const std::string& title, unsigned width, unsigned height)
    {
        const int screen = DefaultScreen(mDisplay);
        mWindow = XCreateSimpleWindow(mDisplay, RootWindow(mDisplay, screen), 0, 0, width, height, 0, 0, kBackground);
        XSelectInput(mDisplay, mWindow, ExposureMask | StructureNotifyMask);
        XStoreName(mDisplay, mWindow, title.c_str());
        XChangeProperty(mDisplay, mWindow, XInternAtom(mDisplay, "_NET_WM_NAME", False),
                        XInternAtom(mDisplay, "UTF8_STRING", False), 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
        mDeleteWindow = XInternAtom(mDisplay, "WM_DELETE_WINDOW", False);
        XSetWMProtocols(mDisplay, mWindow, &mDeleteWindow, 1);
        FixSize(width, height);
        XMapWindow(mDisplay, mWindow);
        XSync(mDisplay, False);
    }

    Window GetId() const { return mWindow; }

    /// The editor's size is its own: a window manager is told not to offer another.
    void Resize(unsigned width, unsigned height)
    {
        FixSize(width, height);
        XResizeWindow(mDisplay, mWindow, width, height);
        XSync(mDisplay, False);
    }

    /// Handles what the server sent; false once the window manager asked to close the window.
    bool HandleEvents()
    {
        while (XPending(mDisplay) > 0) {
            XEvent event;
            XNextEvent(mDisplay, &event);
            if (event.type == Expose || event.type == MapNotify) {
                mShown = true;
            } else if (event.type == ClientMessage && event.xclient.window == mWindow &&
                       static_cast<Atom>(event.xclient.data.l[0]) == mDeleteWindow) {
                mCloseAsked = true;
            }
        }
        return !mCloseAsked;
    }

    /// Waits for the next event or the time, whichever comes first.
    void WaitUntil(Clock::time_point when)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now()).count();
        if (left > 0 && XPending(mDisplay) == 0) {
            pollfd connection{ConnectionNumber(mDisplay), POLLIN, 0};
            poll(&connection, 1, static_cast<int>(left));
        }
    }

    bool IsShown() const { return mShown; }

    /// What the window shows on the screen (its part on the screen); empty when it shows nothing.
    RgbImage Capture()
    {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(mDisplay, mWindow, &attributes) == 0 || attributes.map_state != IsViewable) {
            return {};
        }
        int x = 0;
        int y = 0;
        Window child = 0;
        XTranslateCoordinates(mDisplay, mWindow, attributes.root, 0, 0, &x, &y, &child);
        const int width = std::min(attributes.width, WidthOfScreen(attributes.screen) - std::max(x, 0));
        const int height = std::min(attributes.height, HeightOfScreen(attributes.screen) - std::max(y, 0));
        if (width <= 0 || height <= 0) {
            return {};
        }
        // From the root: the plug-in's windows inside ours may have another visual than ours.
        XImage* shot = XGetImage(mDisplay, attributes.root, std::max(x, 0), std::max(y, 0),
                                 static_cast<unsigned>(width), static_cast<unsigned>(height), AllPlanes, ZPixmap);
        if (shot == nullptr) {
            return {};
        }
        const Visual* visual = DefaultVisualOfScreen(attributes.screen);
        RgbImage image{width, height, {}};
        image.pixels.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
        for (int row = 0; row < height; ++row) {
            for (int column = 0; column < width; ++column) {
                const unsigned long pixel = XGetPixel(shot, column, row);
                image.pixels.push_back(Channel(pixel, visual->red_mask));
                image.pixels.push_back(Channel(pixel, visual->green_mask));
                image.pixels.push_back(Channel(pixel, visual->blue_mask));
            }
        }
        XDestroyImage(shot);
        return image;
    }

private:
    void FixSize(unsigned width, unsigned height)
    {
        XSizeHints* hints = XAllocSizeHints();
        if (hints == nullptr) {
            return;
        }
        hints->flags = PMinSize | PMaxSize;
        hints->min_width = hints->max_width = static_cast<int>(width);
        hints->min_height = hints->max_height = static_cast<int>(height);
        XSetWMNormalHints(mDisplay, mWindow, hints);
        XFree(hints);
    }

    Display* mDisplay;
    Window mWindow = 0;
    Atom mDeleteWindow = 0;
    bool mShown = false;
    bool mCloseAsked = false;
};

bool IsFlat(const RgbImage& image)
{
    for (std::size_t i = 3; i < image.pixels.size(); ++i) {
        if (image.pixels[i] != image.pixels[i % 3]) {
            return false;
        }
    }
    return true;
}

// Waits for the editor's first drawing: a capture that differs from what the window showed before
// the editor drew (our background, then the editor's empty windows) and stays the same for a while.
class DrawingWatch {
public:
    /// What the window showed before the editor drew. An image of one colour only: editors that
    /// draw while opening are drawn already.
    void AddBlank(RgbImage image, bool onlyFlat)
    {
        if (!onlyFlat || IsFlat(image)) {
            mBlanks.push_back(std::move(image));
        }
    }

    /// Takes the newest capture; true once the drawing is finished.
    bool Take(RgbImage capture)
    {
        if (capture.pixels.empty() || std::find(mBlanks.begin(), mBlanks.end(), capture) != mBlanks.end()) {
            mStable = 0;
            mLast = std::move(capture);
            return false;
        }
        mSeenDrawing = true;
        mStable = capture == mLast ? mStable + 1 : 1;
        mLast = std::move(capture);
        return mStable >= kStableCaptures;
    }

    const RgbImage& GetLast() const { return mLast; }
    /// Whether any capture showed a drawing (one that keeps changing, say a meter, never settles).
    bool HasSeenDrawing() const { return mSeenDrawing; }

private:
    std::vector<RgbImage> mBlanks;
    RgbImage mLast;
    int mStable = 0;
    bool mSeenDrawing = false;
};

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};

} // namespace

bool CanReachXDisplay()
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return false;
    }
    XCloseDisplay(display);
    return true;
}

int RunEditCommand(Settings& settings, const EditOptions& options)
{
    // Before any editing: work done in the window must not be lost to a file that cannot be written.
    for (const auto& output : {options.saveFile, options.screenshotFile}) {
        std::error_code status;
        const auto folder = output.parent_path().empty() ? std::filesystem::path(".") : output.parent_path();
        if (!output.empty() && !std::filesystem::is_directory(folder, status)) {
            return Fail("cannot write " + Quoted(output.string()) + ": the folder " + Quoted(folder.string()) +
                        " does not exist");
        }
    }
    const char* displayName = std::getenv("DISPLAY");
    if (displayName == nullptr || *displayName == '\0') {
        return Fail("kafh edit needs an X display: DISPLAY is not set");
    }
    // Our own connection: the plug-in opens its own ones, and its errors land in our handler too.
    std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
    if (!display) {
        return Fail("cannot open the X display " + Quoted(displayName));
    }
    XSetErrorHandler(&IgnoreXError);

    std::string error;
    if (!settings.Load(error)) {
        return Fail(error);
    }
    kelcore::trail::SetStep("create");
    FilterPtr filter = CreateFilter(options.id, error);
    if (!filter) {
        return Fail(error);
    }
    kelcore::trail::SetStep("configure");
    if (const int status = ApplyFilterSettings(*filter, options.settings, error); status != kExitOk) {
        return status == kExitUsage ? FailUsage(error) : Fail(error);
    }
    const auto name = kelcore::UTF16to8(filter->GetDisplayName());
    kelcore::trail::SetStep("create editor");
    const auto editor = filter->HasCustomEditor() ? filter->CreateCustomEditor() : nullptr;
    if (!editor) {
        return Fail("filter " + Quoted(filter->GetComponentID()) + " (" + DisplayText(name) + ") has no editor");
    }

    boost::signals2::scoped_connection parameterTrace;
    if (options.verbose) {
        parameterTrace = filter->GetAutomatedParameterChangeSignal().connect([&](int index, float value) {
            std::cerr << "kafh: parameter " << index << " (" << DisplayText(ParameterName(*filter, index))
                      << ") = " << value << std::endl;
        });
    }

    EditorWindow window(display.get());
    kelcore::trail::SetStep("editor size");
    auto rect = editor->GetContentRect();
    window.Create(name.empty() ? "kafh" : name, rect.right > 0 ? static_cast<unsigned>(rect.right) : kFallbackWidth,
                  rect.bottom > 0 ? static_cast<unsigned>(rect.bottom) : kFallbackHeight);
    // The content rectangle holds left, top, width and height.
    auto follow = [&] {
        const auto wanted = editor->GetContentRect();
        if (wanted.right > 0 && wanted.bottom > 0) {
            window.Resize(static_cast<unsigned>(wanted.right), static_cast<unsigned>(wanted.bottom));
        }
    };
    boost::signals2::scoped_connection resizes = editor->GetContentSizeChangedSignal().connect(follow);

    const bool screenshot = !options.screenshotFile.empty();
    DrawingWatch watch;
    if (screenshot) {
        watch.AddBlank(window.Capture(), false);
    }
    kelcore::trail::SetStep("open editor");
    const int opened = editor->Open(reinterpret_cast<void*>(window.GetId()));
    // A VST 3 view says whether it took the window; VST 2 answers mean nothing alike.
    if (const auto* view = dynamic_cast<const vst3::VST3AudioFilterEditor*>(editor.get()); view && !view->IsAttached()) {
        return Fail("the editor of " + DisplayText(name) + " did not open in the window (result " +
                    std::to_string(opened) + ")");
    }
    // Some editors know their size only once open.
    follow();
    XSync(display.get(), False);
    if (screenshot) {
        watch.AddBlank(window.Capture(), true);
    }
    if (!screenshot) {
        std::cerr << "kafh: editing " << DisplayText(name) << "; close its window or press Ctrl+C to end" << std::endl;
    }

    kelcore::trail::SetStep("edit");
    const auto deadline = Clock::now() + std::chrono::milliseconds(static_cast<long>(options.waitSeconds * 1000.0));
    bool drawn = false;
    for (auto next = Clock::now(); window.HandleEvents() && !IsStopRequested();) {
        editor->Idle();
        kelcore::trail::Beat();
        if (screenshot && window.IsShown()) {
            drawn = watch.Take(window.Capture());
            if (drawn || Clock::now() >= deadline) {
                break;
            }
        }
        next += kIdlePeriod;
        window.WaitUntil(next);
    }

    RgbImage image;
    if (screenshot) {
        image = watch.GetLast().pixels.empty() ? window.Capture() : watch.GetLast();
    }
    kelcore::trail::SetStep("close editor");
    editor->Close();
    resizes.disconnect();
    int status = kExitOk;
    if (screenshot) {
        kelcore::trail::SetStep("write screenshot");
        if (!drawn) {
            Warn("the editor of " + DisplayText(name) +
                 (watch.HasSeenDrawing() ? " kept changing for " : " drew nothing within ") +
                 FormatSeconds(options.waitSeconds) + "; the screenshot shows what the window held last");
        }
        if (!WritePngFile(image, options.screenshotFile, error)) {
            status = Fail(error);
        } else {
            std::cout << "Wrote a " << image.width << " x " << image.height << " screenshot of " << DisplayText(name)
                      << " to " << options.screenshotFile.string() << ".\n";
        }
    }
    if (!options.saveFile.empty()) {
        kelcore::trail::SetStep("save preset");
        if (!SavePresetFile(*filter, options.saveFile, error)) {
            status = Fail(error);
        } else {
            std::cout << "Saved the settings of " << Quoted(filter->GetComponentID()) << " to "
                      << options.saveFile.string() << ".\n";
        }
    }
    return status;
}

} // namespace kafh
