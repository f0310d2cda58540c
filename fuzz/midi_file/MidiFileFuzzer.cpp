// SPDX-License-Identifier: GPL-3.0-or-later
// MIDI files: parsed, placed on a second sample grid, and the transport asked for across the file;
// merged events must come out in time order on both grids.
#include "kelaudiofilterhost/render/MidiFile.h"

#include <algorithm>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kelaudiofilterhost;
    MidiFile midi;
    std::string error;
    if (!midi.Parse({data, size}, 44100.0, error)) {
        if (error.empty() || error.find('\n') != std::string::npos) {
            std::abort();
        }
        return 0;
    }
    for (double rate : {44100.0, 7.0}) {
        midi.SetSampleRate(rate);
        const auto& events = midi.GetEvents();
        for (std::size_t i = 1; i < events.size(); ++i) {
            if (events[i].tick < events[i - 1].tick || events[i].sample < events[i - 1].sample ||
                events[i].seconds < events[i - 1].seconds) {
                std::abort();
            }
        }
        const std::int64_t length = midi.GetLengthInSamples();
        const auto positions = midi.GetTempoMap().MakeTempoMap(rate);
        for (std::int64_t step = 0; step <= 8; ++step) {
            const auto position = positions->At(length / 8 * step);
            if (position.barStart > position.quarters + 1e-6 * std::max(1.0, position.quarters) ||
                position.denominator <= 0) {
                std::abort();
            }
        }
        for (const auto& event : events) {
            (void)event.GetBytes();
        }
    }
    return 0;
}
