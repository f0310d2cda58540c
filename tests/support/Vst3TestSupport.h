// SPDX-License-Identifier: GPL-3.0-or-later
// Our own VST 3 test bundles: their paths, class IDs, filters and the functions they export for tests.
#pragma once

#include "kelaudiofilterhost/services/Strings.h"
#include "kelaudiofilterhost/vst3/VST3AudioFilter.h"
#include "kelaudiofilterhost/vst3/VST3ClassID.h"
#include "kelaudiofilterhost/vst3/VST3PluginModule.h"
#include "testplugins/vst3/TestVst3Ids.h"

#include <boost/intrusive_ptr.hpp>

#include <dlfcn.h>

#include <string>

namespace kelaudiofilterhost::testing {

/// Full path of one of our VST 3 test bundles ("KafhVst3Gain").
inline UTF16String TestBundle(const std::string& name)
{
    return kelcore::UTF8to16(std::string(KAFH_TESTPLUGINS_VST3_DIR) + "/" + name + ".vst3");
}

/// The class ID of a fixture's Uid: each word most significant byte first, as INLINE_UID lays it out.
inline vst3::VST3ClassID ClassID(const kafh_testplugins_vst3::Uid& uid)
{
    const std::uint32_t words[] = {uid.w1, uid.w2, uid.w3, uid.w4};
    vst3::VST3ClassID id{};
    for (std::size_t i = 0; i < id.size(); ++i) {
        id[i] = static_cast<std::uint8_t>(words[i / 4] >> (24 - 8 * (i % 4)));
    }
    return id;
}

/// A filter of the bundle's class made by its module, without the catalogue; null when either is missing.
inline boost::intrusive_ptr<vst3::VST3AudioFilter> OpenTestBundle(const std::string& bundle,
                                                                  const kafh_testplugins_vst3::Uid& uid)
{
    const auto module = vst3::GetOrLoadModule(TestBundle(bundle));
    const auto filter = module ? module->CreateAudioFilter(vst3::MakeVST3ComponentID(ClassID(uid))) : nullptr;
    return boost::intrusive_ptr<vst3::VST3AudioFilter>(dynamic_cast<vst3::VST3AudioFilter*>(filter.get()));
}

/// A function a loaded test bundle exports for tests; null when the bundle is not loaded.
template <class Function> Function BundleFunction(const std::string& bundle, const char* symbol)
{
    const std::string library = std::string(KAFH_TESTPLUGINS_VST3_DIR) + "/" + bundle + ".vst3/Contents/" +
                                KAFH_TESTPLUGINS_VST3_ARCH + "/" + bundle + ".so";
    void* handle = dlopen(library.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle == nullptr) {
        return nullptr;
    }
    const auto function = reinterpret_cast<Function>(dlsym(handle, symbol));
    dlclose(handle); // the module keeps the library loaded
    return function;
}

} // namespace kelaudiofilterhost::testing
