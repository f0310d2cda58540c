// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/framework/AudioFilterFactory.h"

#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/framework/AudioFilter.h"
#include "kelaudiofilterhost/services/Trace.h"

namespace kelaudiofilterhost {

namespace {

bool sInitialized = false;

using DescriptorPtr = boost::intrusive_ptr<AudioFilterDescriptor>;

UTF16String Prefixed(std::int32_t technology, const UTF16String& id)
{
    return kelcore::NumberToString(technology) + kelcore::AsciiToUTF16(":") + id;
}

// Identifiers stored without their technology prefix still find their descriptor.
DescriptorPtr FindDescriptorWithPrefixes(const UTF16String& id)
{
    auto& manager = AudioFilterDescriptorManager::GetInstance();
    DescriptorPtr descriptor = manager.GetComponentDescriptorForID(id);
    if (!descriptor) {
        descriptor = manager.GetComponentDescriptorForID(Prefixed(4, id));
    }
    if (!descriptor) {
        descriptor = manager.GetComponentDescriptorForID(Prefixed(2, id));
    }
    return descriptor;
}

// A VST 2 identifier is "2:" + effect number + space + module file title; after the module file was
// renamed, the same effect is found by the part before the space.
DescriptorPtr FindRenamedVst2Descriptor(const UTF16String& id)
{
    if (id.empty() || id.front() != u'2') {
        return {};
    }
    const auto space = id.find(u' ');
    if (space == UTF16String::npos) {
        return {};
    }
    const auto& manager = AudioFilterDescriptorManager::GetInstance();
    for (auto it = manager.InfoBegin(); it != manager.InfoEnd(); ++it) {
        const auto candidate = (*it)->GetUniqueID();
        if (candidate.find(u' ') == space && candidate.compare(0, space, id, 0, space) == 0) {
            return *it;
        }
    }
    return {};
}

} // namespace

AudioFilterFactory& AudioFilterFactory::GetInstance()
{
    static AudioFilterFactory instance;
    return instance;
}

AudioFilterFactory::AudioFilterFactory() = default;
AudioFilterFactory::~AudioFilterFactory() = default;

void AudioFilterFactory::RegisterFactoryFunction(const kelcore::Guid& factoryGuid,
                                                 const AudioFilterCreationFunction& function)
{
    mFunctions.emplace(factoryGuid, function);
}

boost::intrusive_ptr<AudioFilter> AudioFilterFactory::CreateAudioFilter(const UTF16String& componentID)
{
    const DescriptorPtr descriptor = FindDescriptorWithPrefixes(componentID);
    if (!descriptor) {
        KAFH_TRACE("AudioFilterFactory::CreateAudioFilter", 5,
                   "no descriptor for \"" << componentID << "\"");
        return {};
    }
    const auto function = mFunctions.find(descriptor->GetFactoryGuid());
    if (function == mFunctions.end() || function->second.empty()) {
        KAFH_TRACE("AudioFilterFactory::CreateAudioFilter", 5,
                   "no creation function for factory " << descriptor->GetFactoryGuid().AsUTF8String() << " of \""
                                                        << componentID << "\"");
        return {};
    }
    auto filter = function->second(componentID);
    if (!filter) {
        KAFH_TRACE("AudioFilterFactory::CreateAudioFilter", 5,
                   "the creation function of \"" << componentID << "\" made no filter");
    }
    return filter;
}

AudioFilterRegistrar::AudioFilterRegistrar(const AudioFilterDescriptorFunction& makeDescriptor,
                                           const AudioFilterCreationFunction& makeFilter)
{
    GetFactoryVector().emplace_back(makeDescriptor, makeFilter);
}

std::vector<AudioFilterRegistrar::Registration>& AudioFilterRegistrar::GetFactoryVector()
{
    static std::vector<Registration> registrations;
    return registrations;
}

void AudioFilterRegistrar::RegisterDeferredDescriptors()
{
    for (const auto& [makeDescriptor, makeFilter] : GetFactoryVector()) {
        DescriptorPtr descriptor = makeDescriptor.empty() ? DescriptorPtr() : makeDescriptor();
        if (!descriptor) {
            KAFH_TRACE("AudioFilterRegistrar::RegisterDeferredDescriptors", 5,
                       "a registrar made no descriptor; its filter is not registered");
            continue;
        }
        AudioFilterDescriptorManager::GetInstance().AddAudioFilterDescriptor(descriptor);
        AudioFilterFactory::GetInstance().RegisterFactoryFunction(descriptor->GetFactoryGuid(), makeFilter);
    }
}

bool Initialize()
{
    if (sInitialized) {
        return true;
    }
    sInitialized = true;
    AudioFilterRegistrar::RegisterDeferredDescriptors();
    return true;
}

void Terminate()
{
    sInitialized = false;
}

namespace utility {

boost::intrusive_ptr<AudioFilter> CreateAudioFilter(const UTF16String& componentID)
{
    if (componentID.empty()) {
        return {};
    }
    DescriptorPtr descriptor = FindDescriptorWithPrefixes(componentID);
    if (!descriptor) {
        descriptor = FindRenamedVst2Descriptor(componentID);
    }
    if (!descriptor) {
        KAFH_TRACE("utility::CreateAudioFilter", 5, "unknown component \"" << componentID << "\"");
        return {};
    }
    if (!descriptor->IsEnabled()) {
        KAFH_TRACE("utility::CreateAudioFilter", 5, "component \"" << componentID << "\" is disabled");
        return {};
    }
    if (!descriptor->IsInternal() &&
        !PluginModuleInfoManager::GetInstance().IsPluginEnabled(descriptor->GetLocator(), false)) {
        KAFH_TRACE("utility::CreateAudioFilter", 5,
                   "the module of \"" << componentID << "\" is disabled in the catalogue");
        return {};
    }
    return AudioFilterFactory::GetInstance().CreateAudioFilter(descriptor->GetUniqueID());
}

} // namespace utility

} // namespace kelaudiofilterhost
