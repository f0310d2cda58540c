// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/services/PluginCallTrail.h"
#include "kelaudiofilterhost/services/Strings.h"

#include <pluginterfaces/base/ipluginbase.h>

#include <cstddef>
#include <cstdint>
#include <utility>

/// Marks functions (and lambdas, after their parameter list) that call methods of plug-in objects. A
/// plug-in's type information is its own and hidden, so the sanitizer's vptr check cannot find it and
/// would report every such call.
#if defined(__GNUC__) || defined(__clang__)
#define KAFH_VST3_PLUGIN_CALL __attribute__((no_sanitize("vptr")))
#else
#define KAFH_VST3_PLUGIN_CALL
#endif

namespace kelaudiofilterhost::vst3 {

using kelcore::UTF16String;

/// The one way into a VST 3 module's code. Every call is recorded in the plug-in call trail under
/// the module path and the call's name; whatever the plug-in throws is caught, traced as
/// `"<module path>": <call> threw <what>` under the gate's category, and read as the call's
/// failure value. What a plug-in hands back is read through named checks that trace misbehaviour.
class VST3PluginGate {
public:
    /// category names the traces of calls made through this gate ("VST3PluginModule::Load").
    VST3PluginGate(const UTF16String& modulePath, const char* category);

    /// f() as the named call; failure when it throws. call must be a literal (the trail keeps it).
    template <typename Function, typename Result>
    Result Call(const char* call, Function&& function, Result failure) const
    {
        try {
            const kelcore::trail::CallScope scope(mModulePath, call);
            return std::forward<Function>(function)();
        } catch (...) {
            ReportThrow(call);
        }
        return failure;
    }
    /// For calls without a result: false when the plug-in threw.
    template <typename Function>
    bool Run(const char* call, Function&& function) const
    {
        try {
            const kelcore::trail::CallScope scope(mModulePath, call);
            std::forward<Function>(function)();
            return true;
        } catch (...) {
            ReportThrow(call);
        }
        return false;
    }

    // Misbehaviour checks: each returns the sane reading (or whether it is sane) and traces when the
    // plug-in's answer was not.
    /// countClasses clamped to 0...maximum.
    std::int32_t ClassCountInRange(std::int32_t count, std::int32_t maximum) const;
    /// The texts of a class info (category, name) end inside their fields.
    bool IsClassInfoTerminated(const Steinberg::PClassInfo& info, std::int32_t index) const;
    /// The texts of a factory info (vendor, url, email) end inside their fields.
    bool IsFactoryInfoTerminated(const Steinberg::PFactoryInfo& info) const;

    /// The module path as UTF-8, valid for the life of the process.
    const char* GetModulePath() const { return mModulePath; }
    const char* GetCategory() const { return mCategory; }

private:
    /// Traces the exception being handled; only inside a catch handler.
    void ReportThrow(const char* call) const;

    const char* mModulePath;
    const char* mCategory;
};

/// Whether a fixed-size text field ends with a terminator inside its size.
template <std::size_t N> bool IsTerminated(const char (&field)[N])
{
    for (std::size_t i = 0; i < N; ++i) {
        if (field[i] == '\0') {
            return true;
        }
    }
    return false;
}

} // namespace kelaudiofilterhost::vst3
