// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/services/Strings.h"
#include "kelaudiofilterhost/services/Trace.h"

#include <string>
#include <string_view>

// What the back ends' plug-in gates share: telling what a plug-in threw and naming its module in traces.
namespace kelcore {

/// The exception being handled: its mangled type name and, for a standard exception, what() (null
/// otherwise). Both stay valid while the handler runs. Allocates nothing; only inside a catch handler.
struct ThrownException {
    const char* type = nullptr;
    const char* what = nullptr;
};
ThrownException GetCurrentException() noexcept;

/// A mangled type name made readable; "an exception" for null.
std::string Demangle(const char* name);

/// What was thrown: "std::runtime_error: text". Only inside a catch handler.
std::string DescribeCurrentException();

/// A stable UTF-8 copy of a module path, kept for the life of the process (modules stay mapped that long,
/// so plug-ins may call in and the call trail may point at it until then).
const char* InternModulePath(const UTF16String& modulePath);

/// Traces `"<module path>": message` when the site is enabled.
void TraceModule(debug::TraceSite& site, const char* modulePath, std::string_view message);

} // namespace kelcore
