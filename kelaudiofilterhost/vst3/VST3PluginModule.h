// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/catalogue/AudioFilterDescriptor.h"
#include "kelaudiofilterhost/catalogue/PluginModule.h"

#include <pluginterfaces/base/ipluginbase.h>

#include <boost/intrusive_ptr.hpp>

#include <vector>

namespace kelaudiofilterhost::vst3 {

class VST3AudioFilter;

/// One VST 3 module (a bundle directory or a plain library file): starts the library, holds its
/// plug-in factory and lists the audio classes it offers. Once loaded, the library stays mapped for
/// the life of the process, and so does its start: ModuleEntry runs once per library and process,
/// ModuleExit never (many plug-in frameworks cannot start again after it).
class VST3PluginModule : public PluginModule {
public:
    /// modulePath is the catalogue's path: the bundle directory for a bundle.
    explicit VST3PluginModule(const UTF16String& modulePath);
    ~VST3PluginModule() override;

    /// False when already loaded; when the bundle's library cannot be found or loaded; when
    /// ModuleEntry refuses or throws, GetPluginFactory is missing or gives no factory (the library
    /// is then released, without ModuleExit). ModuleEntry is skipped when it already succeeded for
    /// the same library in this process.
    bool Load() override;
    /// Releases the factory and ends the module's use; ModuleExit is not called. Nothing when not loaded.
    void Unload() override;
    /// A new filter of the class the component ID names; null when the ID is unreadable, the class is
    /// unknown or not an audio class, or its component cannot be made.
    boost::intrusive_ptr<AudioFilter> CreateAudioFilter(UTF16String componentID) override;
    /// The descriptor of the class the component ID names, from a filter made only to be described
    /// (see VST3AudioFilter); null where CreateAudioFilter gives no filter or the filter did not
    /// initialise.
    boost::intrusive_ptr<AudioFilterDescriptor> DescribeAudioFilter(const UTF16String& componentID,
                                                                    const PluginLocator& locator,
                                                                    bool applicationPlugin);
    /// The module's record and the component IDs of its "Audio Module Class" classes; null (and no
    /// IDs) without a factory, without classes or when banned statically.
    boost::intrusive_ptr<PluginModuleInfo> GetPluginInfo(std::vector<UTF16String>& componentIDs) override;

    /// The factory, one reference held by the module; null while not loaded.
    Steinberg::IPluginFactory* GetFactory() const { return mFactory; }

private:
    boost::intrusive_ptr<VST3AudioFilter> MakeFilter(const UTF16String& componentID, bool describeOnly);

    Steinberg::IPluginFactory* mFactory = nullptr;
};

/// Runs the library's ModuleEntry with its handle; true when it does not export one. False when it
/// refuses or throws. modulePath names the module in traces and the call trail.
bool InitPluginModule(kelcore::ModuleHandle library, const UTF16String& modulePath);
/// Runs the library's ModuleExit when exported; its answer is not used. Unload does not call it.
void TerminatePluginModule(kelcore::ModuleHandle library, const UTF16String& modulePath);

/// A module from the process-wide cache, loaded; null when it cannot be loaded (a later call tries
/// again). Cached modules are never unloaded.
boost::intrusive_ptr<VST3PluginModule> GetOrLoadModule(const UTF16String& modulePath);

} // namespace kelaudiofilterhost::vst3
