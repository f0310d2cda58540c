// SPDX-License-Identifier: GPL-3.0-or-later
// KafhVst3Editor: a pass-through processor whose controller has a real Xlib editor. The view embeds
// a child window in the host's X11 parent, paints its left half red and its right half blue from a
// timer, reads its X events from a descriptor handler (both on the host's run loop), asks the host
// once for a larger size when attached, and toggles parameter 0 when clicked. It follows the
// vendor view interface for brightness and focus. The exported KafhVst3EditorStats reports what it saw.
#include "testplugins/vst3/TestVst3.h"

#include "pluginterfaces/gui/iplugview.h"

#include <X11/Xlib.h>

#include <cstdint>

using namespace kafh_testplugins_vst3;

namespace {

EditorStats gStats{};

class IVendorView : public FUnknown {
public:
    virtual void PLUGIN_API SetBrightness(float brightness) = 0;
    virtual void PLUGIN_API SetApplyBrightness(bool apply) = 0;
    virtual int32 PLUGIN_API GainFocus(bool forward) = 0;
    virtual int32 PLUGIN_API SetCurrentFocus() = 0;
    static const FUID iid;
};
const FUID IVendorView::iid(0x3C8A2F25, 0x14114BF7, 0x851B13CB, 0x9C55AC92);

const ParamDef kParams[] = {
    {kEditorToggleParam, "Toggle", "", 1, 0.0, Vst::ParameterInfo::kCanAutomate},
};

class Controller;

class View final : public Object<IPlugView, Linux::IEventHandler, Linux::ITimerHandler> {
public:
    explicit View(Controller* controller);
    ~View() override;

    tresult PLUGIN_API isPlatformTypeSupported(FIDString type) override
    {
        return std::strcmp(type, kPlatformTypeX11EmbedWindowID) == 0 ? kResultTrue : kResultFalse;
    }
    tresult PLUGIN_API attached(void* parent, FIDString type) override
    {
        if (isPlatformTypeSupported(type) != kResultTrue || mFrame == nullptr || mDisplay != nullptr) {
            return kResultFalse;
        }
        mDisplay = XOpenDisplay(nullptr);
        if (mDisplay == nullptr) {
            return kResultFalse;
        }
        mWindow = XCreateSimpleWindow(mDisplay, static_cast<Window>(reinterpret_cast<std::uintptr_t>(parent)), 0, 0,
                                      static_cast<unsigned>(mSize.getWidth()), static_cast<unsigned>(mSize.getHeight()), 0, 0, 0);
        XSelectInput(mDisplay, mWindow, ExposureMask | ButtonPressMask);
        XMapWindow(mDisplay, mWindow);
        mGc = XCreateGC(mDisplay, mWindow, 0, nullptr);
        XFlush(mDisplay);
        void* loop = nullptr;
        if (mFrame->queryInterface(Linux::IRunLoop::iid, &loop) == kResultOk) {
            mRunLoop = static_cast<Linux::IRunLoop*>(loop);
            gStats.runLoopRegistrations += mRunLoop->registerEventHandler(this, ConnectionNumber(mDisplay)) == kResultOk;
            gStats.runLoopRegistrations += mRunLoop->registerTimer(this, 10) == kResultOk;
        }
        mDirty = true;
        if (!mAskedToResize) {
            mAskedToResize = true;
            ViewRect wanted(0, 0, kEditorResizedWidth, kEditorResizedHeight);
            mFrame->resizeView(this, &wanted);
        }
        return kResultOk;
    }
    tresult PLUGIN_API removed() override
    {
        if (mDisplay == nullptr) {
            return kResultFalse;
        }
        if (mRunLoop != nullptr) {
            gStats.runLoopRegistrations -= mRunLoop->unregisterEventHandler(this) == kResultOk;
            gStats.runLoopRegistrations -= mRunLoop->unregisterTimer(this) == kResultOk;
            mRunLoop->release();
            mRunLoop = nullptr;
        }
        XFreeGC(mDisplay, mGc);
        XDestroyWindow(mDisplay, mWindow);
        XCloseDisplay(mDisplay);
        mDisplay = nullptr;
        return kResultOk;
    }
    tresult PLUGIN_API onWheel(float) override { return kResultFalse; }
    tresult PLUGIN_API onKeyDown(char16, int16, int16) override { return kResultFalse; }
    tresult PLUGIN_API onKeyUp(char16, int16, int16) override { return kResultFalse; }
    tresult PLUGIN_API getSize(ViewRect* size) override
    {
        if (size == nullptr) {
            return kInvalidArgument;
        }
        *size = mSize;
        return kResultOk;
    }
    // The window follows only here, as a Linux view must.
    tresult PLUGIN_API onSize(ViewRect* size) override
    {
        if (size == nullptr) {
            return kInvalidArgument;
        }
        mSize = *size;
        gStats.onSizeWidth = mSize.getWidth();
        gStats.onSizeHeight = mSize.getHeight();
        if (mDisplay != nullptr) {
            XResizeWindow(mDisplay, mWindow, static_cast<unsigned>(mSize.getWidth()), static_cast<unsigned>(mSize.getHeight()));
            XFlush(mDisplay);
            mDirty = true;
        }
        return kResultOk;
    }
    tresult PLUGIN_API onFocus(TBool) override { return kResultOk; }
    tresult PLUGIN_API setFrame(IPlugFrame* frame) override
    {
        mFrame = frame;
        return kResultOk;
    }
    tresult PLUGIN_API canResize() override { return kResultTrue; }
    tresult PLUGIN_API checkSizeConstraint(ViewRect* rect) override
    {
        if (rect == nullptr) {
            return kInvalidArgument;
        }
        rect->right = rect->left + std::max(rect->getWidth(), kEditorMinimumSize);
        rect->bottom = rect->top + std::max(rect->getHeight(), kEditorMinimumSize);
        return kResultTrue;
    }

    void PLUGIN_API onFDIsSet(Linux::FileDescriptor) override;
    void PLUGIN_API onTimer() override
    {
        ++gStats.timerCalls;
        if (!mDirty || mDisplay == nullptr) {
            return;
        }
        const int half = mSize.getWidth() / 2;
        XSetForeground(mDisplay, mGc, 0xFF0000);
        XFillRectangle(mDisplay, mWindow, mGc, 0, 0, static_cast<unsigned>(half), static_cast<unsigned>(mSize.getHeight()));
        XSetForeground(mDisplay, mGc, 0x0000FF);
        XFillRectangle(mDisplay, mWindow, mGc, half, 0, static_cast<unsigned>(mSize.getWidth() - half),
                       static_cast<unsigned>(mSize.getHeight()));
        XFlush(mDisplay);
        mDirty = false;
    }

private:
    Controller* mController;
    IPlugFrame* mFrame = nullptr;
    Linux::IRunLoop* mRunLoop = nullptr;
    ViewRect mSize{0, 0, kEditorWidth, kEditorHeight};
    Display* mDisplay = nullptr;
    Window mWindow = 0;
    GC mGc = nullptr;
    bool mDirty = false;
    bool mAskedToResize = false;
};

class Controller final : public TableController<IVendorView> {
public:
    Controller() : TableController(kParams) {}

    IPlugView* PLUGIN_API createView(FIDString name) override
    {
        return name != nullptr && std::strcmp(name, Vst::ViewType::kEditor) == 0 ? new View(this) : nullptr;
    }
    // An edit made in the editor, reported to the host as the user's.
    void Toggle()
    {
        const double value = Value(kEditorToggleParam) >= 0.5 ? 0.0 : 1.0;
        SetValue(kEditorToggleParam, value);
        if (Vst::IComponentHandler* handler = Handler()) {
            handler->beginEdit(kEditorToggleParam);
            handler->performEdit(kEditorToggleParam, value);
            handler->endEdit(kEditorToggleParam);
        }
    }

    void PLUGIN_API SetBrightness(float brightness) override { gStats.brightness = brightness; }
    void PLUGIN_API SetApplyBrightness(bool apply) override { gStats.applyBrightness = apply; }
    int32 PLUGIN_API GainFocus(bool forward) override { return forward ? 1 : 0; }
    int32 PLUGIN_API SetCurrentFocus() override { return 1; }
};

View::View(Controller* controller) : mController(controller)
{
    mController->addRef();
}

View::~View()
{
    mController->release();
}

void PLUGIN_API View::onFDIsSet(Linux::FileDescriptor)
{
    ++gStats.descriptorCalls;
    while (mDisplay != nullptr && XPending(mDisplay) > 0) {
        XEvent event;
        XNextEvent(mDisplay, &event);
        if (event.type == Expose) {
            mDirty = true;
        } else if (event.type == ButtonPress) {
            mController->Toggle();
        }
    }
}

class Processor final : public BasicProcessor<> {
public:
    Processor() : BasicProcessor(&kEditorController) {}
};

const ClassEntry kClasses[] = {
    {&kEditorProcessor, kVstAudioEffectClass, "Kafh Editor", "Fx", &Create<Processor>},
    {&kEditorController, kVstComponentControllerClass, "Kafh Editor Controller", "", &Create<Controller>},
};

} // namespace

KAFH_VST3_DEFAULT_ENTRY_EXIT
KAFH_VST3_FACTORY(kClasses)

KAFH_VST3_EXPORT void KafhVst3EditorStats(EditorStats* stats)
{
    *stats = gStats;
}
