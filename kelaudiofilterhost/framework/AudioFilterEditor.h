// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/services/Geometry.h"
#include "kelaudiofilterhost/services/RefCountedObject.h"

#include <boost/core/noncopyable.hpp>
#include <boost/intrusive_ptr.hpp>
#include <boost/signals2/signal.hpp>

namespace kelaudiofilterhost {

/// A filter's own editor window. The application drives it on its user-interface thread: Open into
/// a parent window, GetContentRect to size the parent, Idle repeatedly, Close, release. Back ends
/// derive from it; held through boost::intrusive_ptr.
class AudioFilterEditor : public kelcore::utility::RefCountedObject, private boost::noncopyable {
public:
    using ContentSizeChangedSignal = boost::signals2::signal<void()>;
    using AdvanceFocusSignal = boost::signals2::signal<void(bool)>;

    AudioFilterEditor();
    ~AudioFilterEditor() override;

    /// Fired by a derived editor when its window wants another size.
    ContentSizeChangedSignal& GetContentSizeChangedSignal() { return mContentSizeChangedSignal; }
    /// Fired by a derived editor when the plug-in hands keyboard focus back to the application.
    AdvanceFocusSignal& GetAdvanceFocusSignal() { return mAdvanceFocusSignal; }

    virtual kelcore::geom::RectT<long> GetContentRect() = 0;
    /// Opens inside the parent window (an X11 window id); returns the back end's result code.
    virtual int Open(void* parent) = 0;
    virtual void Close() = 0;
    /// Periodic tick while open, on the user-interface thread.
    virtual void Idle() = 0;
    virtual bool GetEditorFlag() = 0;
    virtual void SetBrightness(float brightness, bool apply);
    /// False: the editor does not take keyboard focus.
    virtual bool GainFocus(bool forward);
    virtual bool SetCurrentFocus();

private:
    ContentSizeChangedSignal mContentSizeChangedSignal;
    AdvanceFocusSignal mAdvanceFocusSignal;
};

} // namespace kelaudiofilterhost
