// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/catalogue/PluginModule.h"
#include "kelaudiofilterhost/vst2/VstAbi.h"

#include <boost/intrusive_ptr.hpp>

#include <cstdint>
#include <vector>

namespace kelaudiofilterhost::vst {

class VSTAudioFilter;

/// One VST 2 library file: finds its entry point, instantiates its effects and describes them,
/// including shell modules that hold several effects.
class VSTPluginModule : public PluginModule {
public:
    explicit VSTPluginModule(const UTF16String& path);
    ~VSTPluginModule() override;

    /// False when already loaded, when the library cannot be loaded or exports no entry point
    /// ("VSTPluginMain", else "main"); the library is then released again.
    bool Load() override;
    void Unload() override;
    /// The effect of the identifier's unique ID (shell modules pick it through audioMasterCurrentId).
    boost::intrusive_ptr<AudioFilter> CreateAudioFilter(UTF16String componentID) override;
    /// Null (and no identifiers) when the module cannot be described or is banned statically.
    boost::intrusive_ptr<PluginModuleInfo> GetPluginInfo(std::vector<UTF16String>& componentIDs) override;

    bool IsShell() const { return mIsShell; }
    /// An instrument the catalogue keeps without a filter: the module's own effect for unique ID 0,
    /// else (in a shell) the effect of that ID. Its component identifier names the effect's unique ID.
    boost::intrusive_ptr<AudioFilter> CreateInstrument(std::uint32_t uniqueID);

    /// Calls the entry point with the host callback after setting the current shell ID; null when the
    /// module has no entry point or the call fails.
    abi::AEffect* Instantiate(std::uint32_t shellID);

private:
    abi::PluginEntryProc mEntryPoint = nullptr;
    // The exported name mEntryPoint was found under, for traces and the call trail.
    const char* mEntryName = "VSTPluginMain";
    bool mIsShell = false;
    // The instance GetPluginInfo opened to describe a single-effect module, handed out by the next
    // CreateAudioFilter of that effect: a scan then opens each effect once instead of twice, which
    // matters for effects that take long to open. Released by Unload.
    boost::intrusive_ptr<VSTAudioFilter> mDescribingFilter;
};

/// A module from the process-wide cache, loaded; null when it cannot be loaded.
boost::intrusive_ptr<VSTPluginModule> GetOrLoadModule(const UTF16String& path);

/// The answer to audioMasterCurrentId: set immediately before every entry-point call.
std::uint32_t GetCurrentShellID();
void SetCurrentShellID(std::uint32_t id);

/// "2:" + unique ID (unsigned decimal) + " " + the module file's title.
UTF16String MakeComponentID(std::uint32_t uniqueID, const UTF16String& modulePath);
/// The unique ID of a component identifier (a leading "x:" is skipped); 0 when none can be read.
std::uint32_t ParseUniqueID(const UTF16String& componentID);

} // namespace kelaudiofilterhost::vst
