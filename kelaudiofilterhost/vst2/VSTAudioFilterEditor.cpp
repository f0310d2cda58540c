// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst2/VSTAudioFilterEditor.h"

#include "kelaudiofilterhost/vst2/VSTAudioFilter.h"

#include <cstring>

namespace kelaudiofilterhost::vst {

namespace {

// The vendor-specific protocol of editors: brightness and focus requests to the effect, focus
// hand-over from it.
constexpr std::int32_t kVendorBrightness = static_cast<std::int32_t>(0x80000009u);
constexpr std::int32_t kVendorGainFocusForward = static_cast<std::int32_t>(0x8000000Au);
constexpr std::int32_t kVendorGainFocusBackward = static_cast<std::int32_t>(0x8000000Bu);
constexpr std::int32_t kVendorSetCurrentFocus = static_cast<std::int32_t>(0x8000000Cu);
constexpr std::int32_t kVendorAdvanceFocusForward = 0x70400003;
constexpr std::int32_t kVendorAdvanceFocusBackward = 0x70400004;

} // namespace

VSTAudioFilterEditor::VSTAudioFilterEditor(const VSTDispatcherBase& gate, VSTAudioFilter& filter)
    : VSTDispatcherBase(gate, SameEffect{}), mFilter(&filter)
{
}

VSTAudioFilterEditor::~VSTAudioFilterEditor()
{
    if (mOpen) {
        Close();
    }
}

kelcore::geom::RectT<long> VSTAudioFilterEditor::GetContentRect()
{
    kelcore::geom::RectT<long> rect;
    abi::ERect* effectRect = nullptr;
    Dispatch(abi::effEditGetRect, 0, 0, &effectRect);
    if (effectRect != nullptr) {
        const abi::ERect r = *effectRect;
        rect = {r.left, r.top, static_cast<long>(r.right) - r.left, static_cast<long>(r.bottom) - r.top};
    }
    return rect;
}

int VSTAudioFilterEditor::Open(void* parent)
{
    // Registered first: effects ask for their size or hand over focus while opening.
    mFilter->AddExtraCallback(CallbackKey(), [this](std::int32_t opcode, std::int32_t index, std::intptr_t value,
                                                    void* ptr, float opt) {
        return AnswerHostCall(opcode, index, value, ptr, opt);
    });
    mOpen = true;
    return static_cast<int>(Dispatch(abi::effEditOpen, 0, 0, parent));
}

void VSTAudioFilterEditor::Close()
{
    Dispatch(abi::effEditClose);
    mFilter->RemoveExtraCallback(CallbackKey());
    mOpen = false;
}

void VSTAudioFilterEditor::Idle()
{
    Dispatch(abi::effEditIdle);
}

bool VSTAudioFilterEditor::GetEditorFlag()
{
    return true;
}

void VSTAudioFilterEditor::SetBrightness(float brightness, bool apply)
{
    Dispatch(abi::effVendorSpecific, kVendorBrightness, apply ? 1 : 0, nullptr, brightness);
}

bool VSTAudioFilterEditor::GainFocus(bool forward)
{
    return Dispatch(abi::effVendorSpecific, forward ? kVendorGainFocusForward : kVendorGainFocusBackward) != 0;
}

bool VSTAudioFilterEditor::SetCurrentFocus()
{
    return Dispatch(abi::effVendorSpecific, kVendorSetCurrentFocus) != 0;
}

std::intptr_t VSTAudioFilterEditor::AnswerHostCall(std::int32_t opcode, std::int32_t index, std::intptr_t /*value*/,
                                                   void* ptr, float /*opt*/)
{
    switch (opcode) {
    case abi::audioMasterSizeWindow:
        // The application reads the new size back through GetContentRect.
        GetContentSizeChangedSignal()();
        return 1;
    case abi::audioMasterVendorSpecific:
        // Every vendor-specific call is taken while an editor is open.
        if (index == kVendorAdvanceFocusForward || index == kVendorAdvanceFocusBackward) {
            GetAdvanceFocusSignal()(index == kVendorAdvanceFocusForward);
        }
        return 1;
    case abi::audioMasterCanDo:
        return ptr != nullptr && std::strcmp(static_cast<const char*>(ptr), "sizeWindow") == 0 ? 1 : 0;
    case abi::audioMasterBeginEdit:
        mFilter->BeginEditing(index);
        return 1;
    case abi::audioMasterEndEdit:
        mFilter->EndEditing(index);
        return 1;
    default:
        return 0;
    }
}

std::int32_t VSTAudioFilterEditor::CallbackKey() const
{
    // Keyed by the editor's address, cut to the key's width.
    return static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(this));
}

} // namespace kelaudiofilterhost::vst
