// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

namespace kelaudiofilterhost {

/// Tempo and time signature as the host reports them.
struct HostTempoRecord {
    std::int32_t first = 0;
    double tempo = 0.0;
    std::int32_t denominator = 0;
    std::int32_t numerator = 0;
    std::uint8_t last[8] = {};
};

/// Implemented by the embedding application and handed to filters; the library never implements
/// or deletes it.
class IAudioFilterHost {
public:
    IAudioFilterHost() = default;
    IAudioFilterHost(const IAudioFilterHost&) {}
    IAudioFilterHost& operator=(const IAudioFilterHost&) { return *this; }

    /// True when the host filled the record. Callers set the integers to -1, 0, 0 and zero the record first.
    virtual bool GetTempoAndTimeSignature(int* a, int* b, int* c, HostTempoRecord* record) = 0;
    /// True when the three flags (playing, recording, looping) are valid.
    virtual bool GetTransportState(bool* playing, bool* recording, bool* looping) = 0;
    /// The application's own; the library never calls it.
    virtual void HostSpecific() = 0;

protected:
    virtual ~IAudioFilterHost() = default;
};

} // namespace kelaudiofilterhost
