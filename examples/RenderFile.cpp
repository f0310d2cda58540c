// SPDX-License-Identifier: GPL-3.0-or-later
// Renders an audio file through the example gain filter, moved by an automation file if one is
// given ("0 Gain -12", "2.5 Gain 0 ramp", ...): render-file IN OUT [AUTOMATION]
#include "examples/ExampleFilters.h"
#include "examples/GainFilter.h"
#include "kelaudiofilterhost/render/AudioFile.h"
#include "kelaudiofilterhost/render/Renderer.h"

#include <iostream>

using namespace kelaudiofilterhost;

int main(int argc, char** argv)
{
    if (argc < 3 || argc > 4) {
        std::cerr << "usage: render-file IN OUT [AUTOMATION]\n";
        return 2;
    }
    boost::intrusive_ptr<AudioFilter> filter(new examples::GainFilter(examples::kGainFilterID));
    render::RenderOptions options;
    options.blockSize = 256;
    std::string error;
    render::AudioFileReader input; // automation times need the file's rate
    bool ok = input.Open(argv[1], error);
    if (ok && argc == 4) {
        ok = options.automation.Load(argv[3], *filter, input.GetSampleRate(), error);
    }
    render::RenderReport report;
    if (!ok || !render::RenderFile(filter, argv[1], argv[2], options, report, error)) {
        std::cerr << "render-file: " << error << "\n";
        return 1;
    }
    std::cout << report.outputFrames << " frames, peak " << report.output.peak << "\n";
    return 0;
}
