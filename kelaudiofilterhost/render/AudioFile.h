// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/render/AudioStream.h"

#include <filesystem>
#include <string>
#include <vector>

struct sf_private_tag;

namespace kelaudiofilterhost::render {

/// An audio file of any format libsndfile reads, read as float channels.
class AudioFileReader : public AudioSource {
public:
    AudioFileReader() = default;
    ~AudioFileReader() override;
    AudioFileReader(const AudioFileReader&) = delete;
    AudioFileReader& operator=(const AudioFileReader&) = delete;

    /// False with a message naming the file when it cannot be opened or holds no audio.
    bool Open(const std::filesystem::path& path, std::string& error);

    int GetChannelCount() const override { return mChannels; }
    double GetSampleRate() const override { return mSampleRate; }
    std::int64_t GetFrameCount() const override { return mFrames; }
    int Read(float* const* channels, int frameCount) override;
    std::string GetError() const override { return mError; }
    /// libsndfile's format code of the file (major format and sample encoding).
    int GetFormat() const { return mFormat; }

private:
    sf_private_tag* mFile = nullptr;
    std::filesystem::path mPath;
    int mChannels = 0;
    double mSampleRate = 0.0;
    std::int64_t mFrames = -1;
    int mFormat = 0;
    std::vector<float> mInterleaved;
    std::string mError;
};

/// Writes an audio file atomically: into a temporary file in the target's folder, renamed over
/// the target by Commit. Until then, and after any failure, the target is untouched and the
/// temporary file is removed when the writer goes away.
class AtomicAudioFileWriter : public AudioSink {
public:
    AtomicAudioFileWriter() = default;
    ~AtomicAudioFileWriter() override;
    AtomicAudioFileWriter(const AtomicAudioFileWriter&) = delete;
    AtomicAudioFileWriter& operator=(const AtomicAudioFileWriter&) = delete;

    /// The format comes from the target's extension; the sample encoding of sourceFormat is kept
    /// when that format can hold it. False with a message naming the file on any failure.
    bool Open(const std::filesystem::path& target, int channels, int sampleRate, int sourceFormat,
              std::string& error);
    bool Write(const float* const* channels, int frameCount) override;
    std::string GetError() const override { return mError; }
    /// Flushes, closes and renames over the target; false with a message when any step fails.
    bool Commit(std::string& error);
    /// Drops the temporary file; the target stays as it was.
    void Abort();

private:
    void Disarm();
    std::string DescribeWriteFailure(const float* const* channels, int frameCount) const;

    sf_private_tag* mFile = nullptr;
    int mDescriptor = -1;
    std::filesystem::path mTarget;
    /// The file the save replaces: the target, or where its symbolic links lead.
    std::filesystem::path mReplaced;
    std::filesystem::path mTemporary;
    /// The temporary file's name is the one the signal handler removes.
    bool mArmed = false;
    int mChannels = 0;
    std::int64_t mFramesWritten = 0;
    std::vector<float> mInterleaved;
    std::string mError;
};

/// Lets an application remove the temporary file of a write its signal handler interrupts: arm
/// names the file (false when it cannot be tracked), disarm forgets it. Set before any writer opens.
struct TemporaryFileGuard {
    bool (*arm)(const std::filesystem::path& temporary) = nullptr;
    void (*disarm)() = nullptr;
};
void SetTemporaryFileGuard(const TemporaryFileGuard& guard);

/// The libsndfile format for a file name's extension (".wav", ".flac", ...); 0 when unknown.
int MajorFormatForExtension(const std::filesystem::path& path);
/// The extensions MajorFormatForExtension knows, for messages.
std::string KnownAudioExtensions();

} // namespace kelaudiofilterhost::render
