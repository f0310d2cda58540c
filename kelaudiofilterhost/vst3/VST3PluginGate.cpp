// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst3/VST3PluginGate.h"

#include "kelaudiofilterhost/services/PluginGuard.h"
#include "kelaudiofilterhost/services/Trace.h"

#include <string>

namespace kelaudiofilterhost::vst3 {

VST3PluginGate::VST3PluginGate(const UTF16String& modulePath, const char* category)
    : mModulePath(kelcore::InternModulePath(modulePath)), mCategory(category)
{
}

void VST3PluginGate::ReportThrow(const char* call) const
{
    // The category is the caller's, so the site is made here; a throw is rare enough for that.
    kelcore::debug::TraceSite site(mCategory, 5);
    if (site.IsEnabled()) {
        kelcore::TraceModule(site, mModulePath, std::string(call) + " threw " + kelcore::DescribeCurrentException());
    }
}

std::int32_t VST3PluginGate::ClassCountInRange(std::int32_t count, std::int32_t maximum) const
{
    if (count >= 0 && count <= maximum) {
        return count;
    }
    const std::int32_t sane = count < 0 ? 0 : maximum;
    KAFH_TRACE("VST3PluginGate::Misbehaviour", 5,
               "\"" << mModulePath << "\": countClasses " << count << " is out of range; read as " << sane);
    return sane;
}

bool VST3PluginGate::IsClassInfoTerminated(const Steinberg::PClassInfo& info, std::int32_t index) const
{
    if (IsTerminated(info.category) && IsTerminated(info.name)) {
        return true;
    }
    KAFH_TRACE("VST3PluginGate::Misbehaviour", 5,
               "\"" << mModulePath << "\": getClassInfo(" << index << ") wrote a text without its end; class skipped");
    return false;
}

bool VST3PluginGate::IsFactoryInfoTerminated(const Steinberg::PFactoryInfo& info) const
{
    if (IsTerminated(info.vendor) && IsTerminated(info.url) && IsTerminated(info.email)) {
        return true;
    }
    KAFH_TRACE("VST3PluginGate::Misbehaviour", 5,
               "\"" << mModulePath << "\": getFactoryInfo wrote a text without its end; vendor left empty");
    return false;
}

} // namespace kelaudiofilterhost::vst3
