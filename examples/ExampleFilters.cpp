// SPDX-License-Identifier: GPL-3.0-or-later
#include "examples/ExampleFilters.h"

#include "examples/DelayFilter.h"
#include "examples/GainFilter.h"
#include "kelaudiofilterhost/framework/AudioFilterFactory.h"

namespace kelaudiofilterhost::examples {

namespace {

const kelcore::Guid kGainFactory(0x6B61F001, 0x0001, 0x4A10, 0x8B, 0x61, 0x69, 0x6E, 0x67, 0x61, 0x69, 0x6E);
const kelcore::Guid kDelayFactory(0x6B61F001, 0x0002, 0x4A10, 0x8B, 0x64, 0x65, 0x6C, 0x61, 0x79, 0x00, 0x01);

template <typename Filter> AudioFilterCreationFunction MakeCreator()
{
    return [](const UTF16String& id) -> boost::intrusive_ptr<AudioFilter> { return new Filter(id); };
}

} // namespace

void RegisterExampleFilters()
{
    // Static registrars, as an application declares them; the function makes them exist once.
    static AudioFilterRegistrar gain(
        [] {
            return boost::intrusive_ptr<AudioFilterDescriptor>(
                new AudioFilterDescriptor(u"Gain", 1, Effect, kGainFilterID, kGainFactory, false));
        },
        MakeCreator<GainFilter>());
    static AudioFilterRegistrar delay(
        [] {
            return boost::intrusive_ptr<AudioFilterDescriptor>(
                new AudioFilterDescriptor(u"Delay", 1, Effect, kDelayFilterID, kDelayFactory, false));
        },
        MakeCreator<DelayFilter>());
}

} // namespace kelaudiofilterhost::examples
