// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelaudiofilterhost::render {

/// Where rendering reads audio from: a file, a buffer or a generated signal. Non-interleaved float channels.
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

/// Audio held in memory, one vector per channel (all of the same length).
using AudioBuffer = std::vector<std::vector<float>>;

/// Reads a buffer the caller keeps alive.
class BufferSource : public AudioSource {
public:
    BufferSource(const AudioBuffer& buffer, double sampleRate) : mBuffer(buffer), mSampleRate(sampleRate) {}
    int GetChannelCount() const override { return static_cast<int>(mBuffer.size()); }
    double GetSampleRate() const override { return mSampleRate; }
    std::int64_t GetFrameCount() const override
    {
        return mBuffer.empty() ? 0 : static_cast<std::int64_t>(mBuffer.front().size());
    }
    int Read(float* const* channels, int frameCount) override;

private:
    const AudioBuffer& mBuffer;
    double mSampleRate;
    std::size_t mPosition = 0;
};

/// Silence of a set length: what an instrument plays over.
class SilenceSource : public AudioSource {
public:
    SilenceSource(int channels, double sampleRate, std::int64_t frames)
        : mChannels(channels), mSampleRate(sampleRate), mFrames(frames)
    {
    }
    int GetChannelCount() const override { return mChannels; }
    double GetSampleRate() const override { return mSampleRate; }
    std::int64_t GetFrameCount() const override { return mFrames; }
    int Read(float* const* channels, int frameCount) override;

private:
    int mChannels;
    double mSampleRate;
    std::int64_t mFrames;
    std::int64_t mPosition = 0;
};

/// Appends to a buffer of as many channels as it was made with.
class BufferSink : public AudioSink {
public:
    explicit BufferSink(int channels) : mBuffer(static_cast<std::size_t>(channels > 0 ? channels : 0)) {}
    bool Write(const float* const* channels, int frameCount) override;
    AudioBuffer& GetBuffer() { return mBuffer; }

private:
    AudioBuffer mBuffer;
};

} // namespace kelaudiofilterhost::render
