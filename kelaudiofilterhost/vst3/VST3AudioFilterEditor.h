// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/framework/AudioFilterEditor.h"
#include "kelaudiofilterhost/vst3/VST3PluginGate.h"
#include "kelaudiofilterhost/vst3/VST3RunLoop.h"
#include "kelaudiofilterhost/vst3/VST3VendorInterfaces.h"

#include <pluginterfaces/gui/iplugview.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>

namespace kelaudiofilterhost::vst3 {

/// The editor of a VST 3 filter over the plug-in's view: attaches it to an X11 parent window, answers
/// its resize requests as its frame and services its run loop from Idle. Made by the filter at
/// construction, which outlives it. Every operation runs on the user-interface thread.
class VST3AudioFilterEditor : public AudioFilterEditor, public Steinberg::IPlugFrame {
public:
    /// The platform type handed to the view's attached: the parent is an X11 window id.
    static constexpr const char* kPlatformType = "X11EmbedWindowID";

    /// Takes its own reference to the view and becomes its frame.
    VST3AudioFilterEditor(const UTF16String& modulePath, Steinberg::Vst::IEditController* controller,
                          Steinberg::IPlugView* view);
    ~VST3AudioFilterEditor() override;

    /// left, top, width and height of the view (of the requested size while a resize is answered).
    kelcore::geom::RectT<long> GetContentRect() override;
    /// parent is the X11 window id; the view's result code (kResultOk is 0).
    int Open(void* parent) override;
    /// Removes the view and releases every run-loop handler it left registered.
    void Close() override;
    /// Calls the view's descriptor handlers and timers that are due.
    void Idle() override;
    bool GetEditorFlag() override { return true; }
    void SetBrightness(float brightness, bool apply) override;
    bool GainFocus(bool forward) override;
    bool SetCurrentFocus() override;

    /// The application resizes the editor: the view may adjust the size (checkSizeConstraint), then
    /// takes it (onSize). Returns the content rectangle afterwards.
    kelcore::geom::RectT<long> SetContentSize(long width, long height);

    bool IsAttached() const { return mAttached; }
    const VST3RunLoop& GetRunLoop() const { return mRunLoop; }

    // IPlugFrame. addRef and release do nothing; queryInterface also answers Linux::IRunLoop.
    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID queried, void** object) override;
    Steinberg::uint32 PLUGIN_API addRef() override { return 1; }
    Steinberg::uint32 PLUGIN_API release() override { return 1; }
    /// Refuses a missing or empty size; otherwise fires the content-size-changed signal (the
    /// application resizes its window) and then hands the size to the view's onSize, which Linux
    /// views wait for before resizing their own window.
    Steinberg::tresult PLUGIN_API resizeView(Steinberg::IPlugView* view, Steinberg::ViewRect* newSize) override;

private:
    VST3PluginGate mGate;
    Steinberg::Vst::IEditController* mController;
    IVST3VendorView* mVendorView = nullptr;
    Steinberg::IPlugView* mView;
    Steinberg::ViewRect mRequestedRect{0, 0, 0, 0};
    bool mResizing = false;
    bool mApplyingSize = false; // inside the view's onSize called by resizeView
    bool mAttached = false;
    VST3RunLoop mRunLoop;
};

} // namespace kelaudiofilterhost::vst3
