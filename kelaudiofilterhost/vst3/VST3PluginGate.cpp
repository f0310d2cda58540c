// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst3/VST3PluginGate.h"

#include "kelaudiofilterhost/services/Trace.h"

#include <cxxabi.h>

#include <cstdlib>
#include <exception>
#include <mutex>
#include <set>
#include <string>
#include <typeinfo>

namespace kelaudiofilterhost::vst3 {

namespace {

std::string Demangle(const char* name)
{
    if (name == nullptr) {
        return "an exception";
    }
    int status = 0;
    char* readable = ::abi::__cxa_demangle(name, nullptr, nullptr, &status);
    std::string text = status == 0 && readable != nullptr ? readable : name;
    std::free(readable);
    return text;
}

/// What was thrown: "std::runtime_error: text". Only inside a catch handler.
std::string DescribeCurrentException()
{
    const std::type_info* type = ::abi::__cxa_current_exception_type();
    std::string text = Demangle(type != nullptr ? type->name() : nullptr);
    try {
        throw;
    } catch (const std::exception& error) {
        text += ": ";
        text += error.what();
    } catch (...) {
        // Not a standard exception: its type is all there is to say.
    }
    return text;
}

} // namespace

VST3PluginGate::VST3PluginGate(const UTF16String& modulePath, const char* category)
    : mModulePath(InternModulePath(modulePath)), mCategory(category)
{
}

const char* VST3PluginGate::InternModulePath(const UTF16String& modulePath)
{
    static std::mutex mutex;
    static std::set<std::string, std::less<>> paths; // nodes never move, so the texts stay where they are
    const std::lock_guard lock(mutex);
    return paths.insert(kelcore::UTF16to8(modulePath)).first->c_str();
}

void VST3PluginGate::ReportThrow(const char* call) const
{
    // The category is the caller's, so the site is made here; a throw is rare enough for that.
    kelcore::debug::TraceSite site(mCategory, 5);
    if (site.IsEnabled()) {
        site.Write("\"" + std::string(mModulePath) + "\": " + call + " threw " + DescribeCurrentException());
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
