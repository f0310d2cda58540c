// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/framework/AudioFilterEditor.h"

namespace kelaudiofilterhost {

AudioFilterEditor::AudioFilterEditor() = default;

AudioFilterEditor::~AudioFilterEditor()
{
    mContentSizeChangedSignal.disconnect_all_slots();
    mAdvanceFocusSignal.disconnect_all_slots();
}

void AudioFilterEditor::SetBrightness(float /*brightness*/, bool /*apply*/)
{
}

bool AudioFilterEditor::GainFocus(bool /*forward*/)
{
    return false;
}

bool AudioFilterEditor::SetCurrentFocus()
{
    return false;
}

} // namespace kelaudiofilterhost
