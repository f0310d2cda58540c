// SPDX-License-Identifier: GPL-3.0-or-later
// Vendor-specific interfaces exchanged with VST 3 plug-ins that know them; plug-ins that do not
// simply never ask, and answer kNoInterface when asked.
#pragma once

#include <pluginterfaces/base/funknown.h>

namespace kelaudiofilterhost::vst3 {

/// Offered by the filter to its plug-in: the application's locale and theme, and focus hand-over.
class IVST3QueloVendorSpecificHost : public Steinberg::FUnknown {
public:
    /// See PluginModule::GetLocaleCode.
    virtual Steinberg::int32 PLUGIN_API GetLocaleCode() = 0;
    /// Bytes of the theme XML including its terminator.
    virtual Steinberg::int32 PLUGIN_API GetThemeXMLSize() = 0;
    /// Copies the theme XML and its terminator into a buffer sized by GetThemeXMLSize.
    virtual void PLUGIN_API GetThemeXML(char* buffer) = 0;
    /// The plug-in hands focus back to the application; direction 1 is forward.
    virtual void PLUGIN_API ShiftFocus(Steinberg::int32 direction) = 0;

    static const Steinberg::FUID iid;
};

/// Asked of a component: a display name better than its class name, as UTF-8.
class IVST3VendorDisplayName : public Steinberg::FUnknown {
public:
    virtual Steinberg::int32 PLUGIN_API GetDisplayNameLength() = 0;
    virtual void PLUGIN_API GetDisplayName(char* buffer) = 0;

    static const Steinberg::FUID iid;
};

/// Asked of an edit controller: brightness and keyboard focus for its editor.
class IVST3VendorView : public Steinberg::FUnknown {
public:
    virtual void PLUGIN_API SetBrightness(float brightness) = 0;
    virtual void PLUGIN_API SetApplyBrightness(bool apply) = 0;
    /// Above 0 when the view took keyboard focus.
    virtual Steinberg::int32 PLUGIN_API GainFocus(bool forward) = 0;
    /// Above 0 when the view set its current focus.
    virtual Steinberg::int32 PLUGIN_API SetCurrentFocus() = 0;

    static const Steinberg::FUID iid;
};

} // namespace kelaudiofilterhost::vst3
