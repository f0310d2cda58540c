// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace kafh {

/// Where rendering reads audio from: a file or a generated signal. Non-interleaved float channels.
class AudioSource {
public:
    virtual ~AudioSource() = default;
    virtual int GetChannelCount() const = 0;
    virtual double GetSampleRate() const = 0;
    /// Frames in the whole source; -1 when not known in advance.
    virtual std::int64_t GetFrameCount() const = 0;
    /// Reads up to frameCount frames into the channels; fewer only at the end. -1 on a read error,
    /// with a message in GetError.
    virtual int Read(float* const* channels, int frameCount) = 0;
    virtual std::string GetError() const { return {}; }
};

/// Where rendering writes audio to.
class AudioSink {
public:
    virtual ~AudioSink() = default;
    /// False on a write error, with a message in GetError.
    virtual bool Write(const float* const* channels, int frameCount) = 0;
    virtual std::string GetError() const { return {}; }
};

} // namespace kafh
