// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/kafh/Commands.h"
#include "tools/kafh/Console.h"
#include "tools/kafh/Parameters.h"
#include "tools/kafh/PresetFile.h"

namespace kafh {

int ApplyFilterSettings(kelaudiofilterhost::AudioFilter& filter, const FilterSettingsOptions& options,
                        std::string& error)
{
    if (!options.presetFile.empty() && !LoadPresetFile(filter, options.presetFile, error)) {
        return kExitFailure;
    }
    return ApplyParameterAssignments(filter, options.parameters, error);
}

} // namespace kafh
