// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/catalogue/AudioFilterDescriptor.h"
#include "kelaudiofilterhost/services/Guid.h"
#include "kelaudiofilterhost/services/Strings.h"

#include <boost/function.hpp>
#include <boost/intrusive_ptr.hpp>

#include <map>
#include <utility>
#include <vector>

namespace kelaudiofilterhost {

class AudioFilter;

/// Makes a filter for a component identifier; an empty pointer when it cannot.
using AudioFilterCreationFunction = boost::function<boost::intrusive_ptr<AudioFilter>(const UTF16String&)>;
/// Makes the descriptor of an internal filter class.
using AudioFilterDescriptorFunction = boost::function<boost::intrusive_ptr<AudioFilterDescriptor>()>;

/// Process-wide map from a factory GUID to the function that creates filters of that factory.
/// Not locked: registrations happen at start-up, before any creation.
class AudioFilterFactory {
public:
    static AudioFilterFactory& GetInstance();
    ~AudioFilterFactory();

    /// Adds the function unless the GUID is registered already (the first function stays).
    void RegisterFactoryFunction(const kelcore::Guid& factoryGuid, const AudioFilterCreationFunction& function);
    /// Finds the descriptor (also under the "4:" and "2:" prefixes) and calls its factory's function
    /// with the identifier as given. Empty when either is missing or the function fails.
    boost::intrusive_ptr<AudioFilter> CreateAudioFilter(const UTF16String& componentID);

private:
    AudioFilterFactory();

    std::map<kelcore::Guid, AudioFilterCreationFunction> mFunctions;
};

/// Static instances in the application announce internal filters; Initialize registers them.
class AudioFilterRegistrar {
public:
    AudioFilterRegistrar(const AudioFilterDescriptorFunction& makeDescriptor,
                         const AudioFilterCreationFunction& makeFilter);

    /// Turns every announced pair into a descriptor and a factory entry, in announcement order.
    static void RegisterDeferredDescriptors();

private:
    using Registration = std::pair<AudioFilterDescriptorFunction, AudioFilterCreationFunction>;
    static std::vector<Registration>& GetFactoryVector();
};

/// Registers the announced internal filters once per initialised period; true.
bool Initialize();
/// Clears the initialised flag; registrations and descriptors stay.
void Terminate();

namespace utility {
/// The public creation entry: finds the descriptor (with prefixes, and a renamed VST 2 module by its
/// effect number), refuses disabled descriptors and modules, and creates the filter through the factory
/// with the descriptor's own identifier. Empty on any failure; what a creation function throws passes through.
boost::intrusive_ptr<AudioFilter> CreateAudioFilter(const UTF16String& componentID);
} // namespace utility

} // namespace kelaudiofilterhost
