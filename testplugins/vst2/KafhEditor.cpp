// SPDX-License-Identifier: GPL-3.0-or-later
// KafhEditor: an effect with a real X11 editor. The editor is a child window of the host's parent,
// on the effect's own display connection, serviced in effEditIdle. It paints its left half red and
// its right half blue, starts at kEditorWidth x kEditorHeight and on its first idle asks the host to
// grow it to kEditorGrownWidth x kEditorGrownHeight. A click toggles its one parameter as a user
// gesture; Tab (Shift+Tab) hands keyboard focus back to the host forward (backward).
#include "testplugins/vst2/TestEffect.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

namespace {

using namespace kafhtest;

// The editor's side of the vendor-specific protocol: the host asks it to take focus, it hands focus back.
constexpr std::int32_t kTakeFocusForward = static_cast<std::int32_t>(0x8000000Au);
constexpr std::int32_t kTakeFocusBackward = static_cast<std::int32_t>(0x8000000Bu);
constexpr std::int32_t kHandFocusForward = 0x70400003;
constexpr std::int32_t kHandFocusBackward = 0x70400004;

class KafhEditor final : public TestEffect
{
public:
    explicit KafhEditor(abi::AudioMasterCallback host)
        : TestEffect(host, {.name = "Kafh Editor",
                            .uniqueId = kEditorId,
                            .numParams = 1,
                            .flags = abi::effFlagsCanReplacing | abi::effFlagsHasEditor})
    {
    }
    ~KafhEditor() override { CloseEditor(); }

    std::intptr_t Dispatch(std::int32_t opcode, std::int32_t index, std::intptr_t value, void* ptr, float opt) override
    {
        switch (opcode)
        {
        case abi::effEditGetRect:
            if (ptr == nullptr)
            {
                return 0;
            }
            *static_cast<abi::ERect**>(ptr) = &mRect;
            return 1;
        case abi::effEditOpen:
            return OpenEditor(reinterpret_cast<Window>(ptr)) ? 1 : 0;
        case abi::effEditClose:
            CloseEditor();
            return 1;
        case abi::effEditIdle:
            ServiceEditor();
            return 1;
        default:
            return TestEffect::Dispatch(opcode, index, value, ptr, opt);
        }
    }

protected:
    void ProcessReplacing(float** inputs, float** outputs, std::int32_t frames) override
    {
        for (std::size_t c = 0; c < 2; ++c)
        {
            std::copy(inputs[c], inputs[c] + frames, outputs[c]);
        }
    }

    std::string_view ParameterName(std::int32_t /*index*/) override { return "Clicked"; }

    std::intptr_t VendorSpecific(std::int32_t index, std::intptr_t /*value*/, void* /*ptr*/, float /*opt*/) override
    {
        if ((index != kTakeFocusForward && index != kTakeFocusBackward) || mDisplay == nullptr)
        {
            return 0;
        }
        XSetInputFocus(mDisplay, mWindow, RevertToParent, CurrentTime);
        // Synchronous, so keys the host sends from now on reach this window.
        XSync(mDisplay, False);
        return 1;
    }

private:
    bool OpenEditor(Window parent)
    {
        CloseEditor();
        mDisplay = XOpenDisplay(nullptr);
        if (mDisplay == nullptr)
        {
            return false;
        }
        mRect = {0, 0, kEditorHeight, kEditorWidth};
        const int screen = DefaultScreen(mDisplay);
        mWindow = XCreateSimpleWindow(mDisplay, parent, 0, 0, kEditorWidth, kEditorHeight, 0, 0,
                                      BlackPixel(mDisplay, screen));
        XSelectInput(mDisplay, mWindow, ExposureMask | ButtonPressMask | KeyPressMask);
        mGc = XCreateGC(mDisplay, mWindow, 0, nullptr);
        mRed = Pixel(0xFFFF, 0, 0);
        mBlue = Pixel(0, 0, 0xFFFF);
        XMapWindow(mDisplay, mWindow);
        XFlush(mDisplay);
        mResizeAsked = false;
        return true;
    }

    void CloseEditor()
    {
        if (mDisplay == nullptr)
        {
            return;
        }
        XFreeGC(mDisplay, mGc);
        XDestroyWindow(mDisplay, mWindow);
        XCloseDisplay(mDisplay);
        mDisplay = nullptr;
    }

    unsigned long Pixel(unsigned short red, unsigned short green, unsigned short blue)
    {
        XColor color{};
        color.red = red;
        color.green = green;
        color.blue = blue;
        XAllocColor(mDisplay, DefaultColormap(mDisplay, DefaultScreen(mDisplay)), &color);
        return color.pixel;
    }

    void ServiceEditor()
    {
        if (mDisplay == nullptr)
        {
            return;
        }
        if (!mResizeAsked)
        {
            mResizeAsked = true;
            // The host reads the new size back while it is asked, so it is in place first.
            const abi::ERect previous = mRect;
            mRect = {0, 0, kEditorGrownHeight, kEditorGrownWidth};
            if (CallHost(abi::audioMasterSizeWindow, kEditorGrownWidth, kEditorGrownHeight) != 0)
            {
                XResizeWindow(mDisplay, mWindow, kEditorGrownWidth, kEditorGrownHeight);
            }
            else
            {
                mRect = previous;
            }
        }
        while (XPending(mDisplay) > 0)
        {
            XEvent event;
            XNextEvent(mDisplay, &event);
            if (event.type == Expose && event.xexpose.count == 0)
            {
                Draw();
            }
            else if (event.type == ButtonPress)
            {
                ToggleParameter();
            }
            else if (event.type == KeyPress && XLookupKeysym(&event.xkey, 0) == XK_Tab)
            {
                CallHost(abi::audioMasterVendorSpecific,
                         (event.xkey.state & ShiftMask) != 0 ? kHandFocusBackward : kHandFocusForward);
            }
        }
    }

    void Draw()
    {
        const int width = mRect.right - mRect.left;
        const int height = mRect.bottom - mRect.top;
        XSetForeground(mDisplay, mGc, mRed);
        XFillRectangle(mDisplay, mWindow, mGc, 0, 0, static_cast<unsigned>(width / 2), static_cast<unsigned>(height));
        XSetForeground(mDisplay, mGc, mBlue);
        XFillRectangle(mDisplay, mWindow, mGc, width / 2, 0, static_cast<unsigned>(width - width / 2),
                       static_cast<unsigned>(height));
        XFlush(mDisplay);
    }

    void ToggleParameter()
    {
        CallHost(abi::audioMasterBeginEdit, 0);
        SetParameter(0, mParams[0] >= 0.5f ? 0.0f : 1.0f);
        CallHost(abi::audioMasterAutomate, 0, 0, nullptr, mParams[0]);
        CallHost(abi::audioMasterEndEdit, 0);
    }

    abi::ERect mRect{0, 0, kEditorHeight, kEditorWidth};
    Display* mDisplay = nullptr;
    Window mWindow = 0;
    GC mGc = nullptr;
    unsigned long mRed = 0;
    unsigned long mBlue = 0;
    bool mResizeAsked = false;
};

} // namespace

KAFH_VST2_EXPORT abi::AEffect* VSTPluginMain(abi::AudioMasterCallback host)
{
    return CreateEffect<KafhEditor>(host);
}
