// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/presets/PresetList.h"

#include "kelaudiofilterhost/services/Trace.h"

#include <iomanip>
#include <list>

namespace kelaudiofilterhost {

namespace {

bool IsParameterPreset(const PresetData* preset)
{
    return preset && preset->GetPresetType() == PresetData::ParamListPreset;
}

} // namespace

void FormatFactoryPresetList(boost::intrusive_ptr<PresetList> list)
{
    if (!list) {
        return;
    }
    std::set<UTF16String> names;
    list->GetPresetNames(names);

    // The first parameter preset sets the table's shape; presets of another shape get a placeholder.
    boost::intrusive_ptr<PresetData> reference;
    for (const UTF16String& name : names) {
        boost::intrusive_ptr<PresetData> preset = list->GetPreset(name);
        if (IsParameterPreset(preset.get())) {
            reference = preset;
            break;
        }
    }
    if (!reference) {
        return;
    }
    std::list<float> referenceValues;
    reference->GetParamList(referenceValues);
    const std::size_t paramCount = referenceValues.size();
    const float referenceVersion = reference->GetVersion();

    kelcore::oUTF8StringStream text;
    text << "const int kNumFactoryPresets = " << names.size() << ";\n"
         << "const int kNumFactoryParams = " << paramCount << ";\n"
         << "\n"
         << "struct PresetData\n"
         << "{\n"
         << "\tchar*\t\tName;\n"
         << "\tfloat\t\tParams[kNumFactoryParams];\n"
         << "};\n"
         << "\n"
         << "PresetData sPresets[kNumFactoryPresets] = {\n";
    text << std::setprecision(8);

    bool first = true;
    for (const UTF16String& name : names) {
        text << (first ? "\t  { \"" : "\t, { \"") << kelcore::UTF16to8(name) << "\", { ";
        first = false;

        boost::intrusive_ptr<PresetData> preset = list->GetPreset(name);
        std::list<float> values;
        if (preset) {
            preset->GetParamList(values);
        }
        if (!IsParameterPreset(preset.get()) || preset->GetVersion() != referenceVersion ||
            values.size() != paramCount) {
            text << " ***placeholder***}}\n";
            continue;
        }
        const char* separator = "  ";
        for (const float value : values) {
            text << separator << value << "f";
            separator = ", ";
        }
        text << "}}\n";
    }
    text << "};\n";
    kelcore::debug::DebugTrace(text.str());
}

} // namespace kelaudiofilterhost
