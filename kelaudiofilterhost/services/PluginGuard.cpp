// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/PluginGuard.h"

#include <cxxabi.h>

#include <cstdlib>
#include <exception>
#include <functional>
#include <mutex>
#include <set>
#include <typeinfo>

namespace kelcore {

ThrownException GetCurrentException() noexcept
{
    ThrownException thrown;
    const std::type_info* type = ::abi::__cxa_current_exception_type();
    thrown.type = type != nullptr ? type->name() : nullptr;
    try {
        throw;
    } catch (const std::exception& error) {
        thrown.what = error.what();
    } catch (...) {
        // Not a standard exception: its type is all there is to say.
    }
    return thrown;
}

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

std::string DescribeCurrentException()
{
    const ThrownException thrown = GetCurrentException();
    std::string text = Demangle(thrown.type);
    if (thrown.what != nullptr) {
        text += ": ";
        text += thrown.what;
    }
    return text;
}

const char* InternModulePath(const UTF16String& modulePath)
{
    static std::mutex mutex;
    static std::set<std::string, std::less<>> paths; // nodes never move, so the texts stay where they are
    const std::lock_guard lock(mutex);
    return paths.insert(UTF16to8(modulePath)).first->c_str();
}

void TraceModule(debug::TraceSite& site, const char* modulePath, std::string_view message)
{
    if (site.IsEnabled()) {
        std::string line = "\"";
        line += modulePath;
        line += "\": ";
        line += message;
        site.Write(line);
    }
}

} // namespace kelcore
