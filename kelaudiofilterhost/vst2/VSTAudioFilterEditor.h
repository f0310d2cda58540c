// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/framework/AudioFilterEditor.h"
#include "kelaudiofilterhost/vst2/VSTDispatcherBase.h"

#include <cstdint>

namespace kelaudiofilterhost::vst {

class VSTAudioFilter;

/// The effect's own editor window. While open it answers the effect's editor calls to the host
/// (window size requests, focus hand-over, edit gestures) ahead of the filter. Driven from the
/// user-interface thread; the filter outlives it.
class VSTAudioFilterEditor : public AudioFilterEditor, private VSTDispatcherBase {
public:
    /// Made by VSTAudioFilter::CreateCustomEditor, with the filter's gate into the effect.
    VSTAudioFilterEditor(const VSTDispatcherBase& gate, VSTAudioFilter& filter);
    /// Closes the editor when the application left it open, so the effect never calls a freed one.
    ~VSTAudioFilterEditor() override;

    /// Left, top, width and height of the effect's rectangle (width and height in the right and bottom
    /// fields); all zero when the effect gives none.
    kelcore::geom::RectT<long> GetContentRect() override;
    /// The parent is an X11 window id; returns the effect's answer to effEditOpen.
    int Open(void* parent) override;
    void Close() override;
    void Idle() override;
    bool GetEditorFlag() override;
    void SetBrightness(float brightness, bool apply) override;
    bool GainFocus(bool forward) override;
    bool SetCurrentFocus() override;

private:
    /// The editor's answer to a host call of the effect, registered with the filter while open; 0
    /// leaves the call to the filter.
    std::intptr_t AnswerHostCall(std::int32_t opcode, std::int32_t index, std::intptr_t value, void* ptr, float opt);
    std::int32_t CallbackKey() const;

    VSTAudioFilter* mFilter;
    bool mOpen = false;
};

} // namespace kelaudiofilterhost::vst
