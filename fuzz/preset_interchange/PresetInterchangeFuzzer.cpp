// SPDX-License-Identifier: GPL-3.0-or-later
// Preset files of other hosts: every reader takes the same bytes. Whatever a reader accepts, our
// writer must write so that the reader gives the same thing back.
#include "kelaudiofilterhost/interchange/FxFormat.h"
#include "kelaudiofilterhost/interchange/VstPresetFormat.h"

#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <bit>
#include <span>
#include <string>

using namespace kelaudiofilterhost::interchange;

namespace {

bool Same(const FxProgram& a, const FxProgram& b)
{
    // Names are cut to what the field holds; NaN parameters compare by their bits.
    const bool sameParameters = std::equal(a.parameters.begin(), a.parameters.end(), b.parameters.begin(),
                                           b.parameters.end(), [](float x, float y) {
                                               return std::bit_cast<std::uint32_t>(x) == std::bit_cast<std::uint32_t>(y);
                                           });
    return a.pluginID == b.pluginID && a.pluginVersion == b.pluginVersion && a.isChunk == b.isChunk
        && a.chunk == b.chunk && sameParameters && a.name.substr(0, 27) == b.name;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    std::string error;

    FxProgram program;
    if (ParseFxProgram(bytes, program, error)) {
        FxProgram again;
        if (!ParseFxProgram(WriteFxProgram(program), again, error) || !Same(program, again)) {
            std::abort();
        }
    }
    FxBank bank;
    if (ParseFxBank(bytes, bank, error)) {
        FxBank again;
        if (!ParseFxBank(WriteFxBank(bank), again, error) || again.isChunk != bank.isChunk || again.chunk != bank.chunk
            || again.programs.size() != bank.programs.size()) {
            std::abort();
        }
    }
    VstPreset preset;
    if (ParseVstPreset(bytes, preset, error)) {
        VstPreset again;
        if (!ParseVstPreset(WriteVstPreset(preset), again, error) || again.classID != preset.classID
            || again.componentState != preset.componentState || again.controllerState != preset.controllerState) {
            std::abort();
        }
    }
    return 0;
}
