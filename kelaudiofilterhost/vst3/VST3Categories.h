// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/catalogue/AudioFilterDescriptor.h"

#include <string_view>

namespace kelaudiofilterhost::vst3 {

/// Where a VST 3 class is filed in the catalogue, and whether it is an instrument.
struct VST3Category {
    kelaudiofilterhost::ComponentCategory category = kelaudiofilterhost::Uncategorized;
    bool synth = false;

    friend bool operator==(const VST3Category&, const VST3Category&) = default;
};

/// Files a class by its sub-category text ("Fx|Delay", "Instrument|Synth"): the first row of a fixed
/// table found anywhere in the text decides, so the table's order wins over the text's order.
/// Uncategorized when no row matches. Stored catalogues depend on the table: keep its order.
VST3Category CategoryFromSubCategories(std::string_view subCategories);

} // namespace kelaudiofilterhost::vst3
