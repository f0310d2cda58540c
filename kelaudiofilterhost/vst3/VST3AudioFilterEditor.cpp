// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst3/VST3AudioFilterEditor.h"

#include <memory>

namespace kelaudiofilterhost::vst3 {

using namespace Steinberg;

const FUID IVST3VendorView::iid(0x3C8A2F25, 0x14114BF7, 0x851B13CB, 0x9C55AC92);

namespace {

kelcore::geom::RectT<long> ContentRect(const ViewRect& rect)
{
    return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

} // namespace

KAFH_VST3_PLUGIN_CALL VST3AudioFilterEditor::VST3AudioFilterEditor(const UTF16String& modulePath,
                                                                    Vst::IEditController* controller,
                                                                    IPlugView* view)
    : mGate(modulePath, "VST3AudioFilterEditor"),
      mController(controller),
      mView(view),
      mRunLoop(mGate, static_cast<IPlugFrame*>(this))
{
    if (mController != nullptr) {
        void* vendorView = nullptr;
        const auto found = mGate.Call("IEditController::queryInterface", [&]() KAFH_VST3_PLUGIN_CALL {
            return mController->queryInterface(IVST3VendorView::iid, &vendorView);
        }, tresult{kNoInterface});
        if (found == kResultOk) {
            mVendorView = static_cast<IVST3VendorView*>(vendorView);
        }
    }
    mGate.Run("IPlugView::addRef", [&]() KAFH_VST3_PLUGIN_CALL { mView->addRef(); });
    mGate.Call("IPlugView::setFrame", [&]() KAFH_VST3_PLUGIN_CALL { return mView->setFrame(this); },
               tresult{kInternalError});
}

KAFH_VST3_PLUGIN_CALL VST3AudioFilterEditor::~VST3AudioFilterEditor()
{
    // A view must leave its parent before it goes, even when the application forgot to close it.
    if (mAttached) {
        Close();
    }
    mGate.Call("IPlugView::setFrame", [&]() KAFH_VST3_PLUGIN_CALL { return mView->setFrame(nullptr); },
               tresult{kInternalError});
    mRunLoop.Clear();
    mGate.Run("IPlugView::release", [&]() KAFH_VST3_PLUGIN_CALL { mView->release(); });
    if (mVendorView != nullptr) {
        mGate.Run("IVST3VendorView::release", [&]() KAFH_VST3_PLUGIN_CALL { mVendorView->release(); });
    }
}

KAFH_VST3_PLUGIN_CALL kelcore::geom::RectT<long> VST3AudioFilterEditor::GetContentRect()
{
    if (mResizing) {
        return ContentRect(mRequestedRect);
    }
    ViewRect rect{0, 0, 0, 0};
    mGate.Call("IPlugView::getSize", [&]() KAFH_VST3_PLUGIN_CALL { return mView->getSize(&rect); },
               tresult{kInternalError});
    return ContentRect(rect);
}

KAFH_VST3_PLUGIN_CALL int VST3AudioFilterEditor::Open(void* parent)
{
    const auto result = mGate.Call("IPlugView::attached", [&]() KAFH_VST3_PLUGIN_CALL {
        return mView->attached(parent, kPlatformType);
    }, tresult{kInternalError});
    mAttached = result == kResultOk;
    return result;
}

KAFH_VST3_PLUGIN_CALL void VST3AudioFilterEditor::Close()
{
    if (mAttached) {
        mGate.Call("IPlugView::removed", [&]() KAFH_VST3_PLUGIN_CALL { return mView->removed(); },
                   tresult{kInternalError});
        mAttached = false;
    }
    mRunLoop.Clear();
}

void VST3AudioFilterEditor::Idle()
{
    mRunLoop.Service();
}

KAFH_VST3_PLUGIN_CALL void VST3AudioFilterEditor::SetBrightness(float brightness, bool apply)
{
    if (mVendorView == nullptr) {
        return;
    }
    mGate.Run("IVST3VendorView::SetBrightness", [&]() KAFH_VST3_PLUGIN_CALL { mVendorView->SetBrightness(brightness); });
    mGate.Run("IVST3VendorView::SetApplyBrightness",
              [&]() KAFH_VST3_PLUGIN_CALL { mVendorView->SetApplyBrightness(apply); });
}

KAFH_VST3_PLUGIN_CALL bool VST3AudioFilterEditor::GainFocus(bool forward)
{
    if (mVendorView == nullptr) {
        return false;
    }
    return mGate.Call("IVST3VendorView::GainFocus", [&]() KAFH_VST3_PLUGIN_CALL {
        return mVendorView->GainFocus(forward);
    }, int32{0}) > 0;
}

KAFH_VST3_PLUGIN_CALL bool VST3AudioFilterEditor::SetCurrentFocus()
{
    if (mVendorView == nullptr) {
        return false;
    }
    return mGate.Call("IVST3VendorView::SetCurrentFocus",
                      [&]() KAFH_VST3_PLUGIN_CALL { return mVendorView->SetCurrentFocus(); }, int32{0}) > 0;
}

KAFH_VST3_PLUGIN_CALL kelcore::geom::RectT<long> VST3AudioFilterEditor::SetContentSize(long width, long height)
{
    ViewRect rect{0, 0, static_cast<int32>(width), static_cast<int32>(height)};
    mGate.Call("IPlugView::checkSizeConstraint",
               [&]() KAFH_VST3_PLUGIN_CALL { return mView->checkSizeConstraint(&rect); }, tresult{kInternalError});
    mGate.Call("IPlugView::onSize", [&]() KAFH_VST3_PLUGIN_CALL { return mView->onSize(&rect); },
               tresult{kInternalError});
    return GetContentRect();
}

tresult PLUGIN_API VST3AudioFilterEditor::queryInterface(const TUID queried, void** object)
{
    if (object == nullptr) {
        return kInvalidArgument;
    }
    if (FUnknownPrivate::iidEqual(queried, FUnknown::iid) || FUnknownPrivate::iidEqual(queried, IPlugFrame::iid)) {
        *object = static_cast<IPlugFrame*>(this);
        return kResultOk;
    }
    if (FUnknownPrivate::iidEqual(queried, Linux::IRunLoop::iid)) {
        *object = static_cast<Linux::IRunLoop*>(&mRunLoop);
        return kResultOk;
    }
    *object = nullptr;
    return kNoInterface;
}

KAFH_VST3_PLUGIN_CALL tresult PLUGIN_API VST3AudioFilterEditor::resizeView(IPlugView* /*view*/, ViewRect* newSize)
{
    if (newSize == nullptr || newSize->getWidth() == 0 || newSize->getHeight() == 0) {
        return kResultFalse;
    }
    // Views that confirm their new size from onSize would otherwise ask again forever.
    if (mApplyingSize && newSize->getWidth() == mRequestedRect.getWidth()
        && newSize->getHeight() == mRequestedRect.getHeight()) {
        return kResultOk;
    }
    mRequestedRect = *newSize;
    {
        // Cleared even when a slot throws.
        const std::unique_ptr<bool, void (*)(bool*)> resizing(&mResizing, [](bool* flag) { *flag = false; });
        mResizing = true;
        GetContentSizeChangedSignal()();
    }
    ViewRect size = mRequestedRect;
    const bool outer = !mApplyingSize;
    mApplyingSize = true;
    mGate.Call("IPlugView::onSize", [&]() KAFH_VST3_PLUGIN_CALL { return mView->onSize(&size); },
               tresult{kInternalError});
    if (outer) {
        mApplyingSize = false;
    }
    return kResultOk;
}

} // namespace kelaudiofilterhost::vst3
