// SPDX-License-Identifier: GPL-3.0-or-later
// Automation text: parsed, then resolved against the example gain filter at a rate from the first
// byte; what resolves must be in time order, inside the parameter's range and name real lines.
#include "examples/ExampleFilters.h"
#include "examples/GainFilter.h"
#include "kelaudiofilterhost/render/Automation.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kelaudiofilterhost;
    if (size == 0) {
        return 0;
    }
    const double rate = 8000.0 * (1 + data[0] % 24);
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    std::vector<render::AutomationLine> lines;
    std::string error;
    if (!render::ParseAutomation(text, lines, error)) {
        return 0;
    }
    static const boost::intrusive_ptr<AudioFilter> filter(new examples::GainFilter(examples::kGainFilterID));
    render::Automation automation;
    if (!automation.Resolve(lines, *filter, rate, error)) {
        return 0;
    }
    const auto& points = automation.GetPoints();
    for (std::size_t i = 0; i < points.size(); ++i) {
        const auto& point = points[i];
        if ((i > 0 && point.frame < points[i - 1].frame) || point.frame < 0 || point.normalized < 0.0f ||
            point.normalized > 1.0f || point.parameter != 0 || point.line < 1) {
            std::abort();
        }
    }
    return 0;
}
