// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/vst2/VstAbi.h"

namespace kelaudiofilterhost::vst {

class VSTAudioFilter;

/// The process-wide record of which filter owns which open effect. The host callback finds its filter
/// only here, never through a field the effect can write. Lookups take no lock and allocate nothing, so
/// effects may call back from the audio thread; registration is for non-audio threads.
namespace VSTEffectRegistry {

/// Records the filter as the owner of the effect until Unregister.
void Register(abi::AEffect* effect, VSTAudioFilter* filter);
/// Forgets the effect; returns once no callback still uses its filter. Must not be called from inside
/// one of that filter's callbacks.
void Unregister(abi::AEffect* effect);

struct Slot;

/// The filter that owns an effect, held for the life of this object: Unregister waits for it.
class Lease {
public:
    /// Holds nothing when the effect is unknown (not yet registered, or already closed).
    explicit Lease(abi::AEffect* effect);
    ~Lease();
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;

    VSTAudioFilter* GetFilter() const { return mFilter; }

private:
    Slot* mSlot = nullptr;
    VSTAudioFilter* mFilter = nullptr;
};

} // namespace VSTEffectRegistry

} // namespace kelaudiofilterhost::vst
