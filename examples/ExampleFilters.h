// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/services/Strings.h"

namespace kelaudiofilterhost::examples {

/// Component identifiers of the example filters.
inline const kelcore::UTF16String kGainFilterID = u"kafh.example.gain";
inline const kelcore::UTF16String kDelayFilterID = u"kafh.example.delay";

/// Announces the example filters to the factory (once); call before Initialize().
void RegisterExampleFilters();

} // namespace kelaudiofilterhost::examples
