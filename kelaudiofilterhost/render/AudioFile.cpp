// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/render/AudioFile.h"

#include "kelaudiofilterhost/services/File.h"

#include <sndfile.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#include <unistd.h>

namespace kelaudiofilterhost::render {

namespace {

struct ExtensionFormat {
    const char* extension;
    int major;
    // The encoding for formats that have only compressed ones; 0 picks from the source.
    int subtype;
};

constexpr ExtensionFormat kFormats[] = {
    {".wav", SF_FORMAT_WAV, 0},   {".w64", SF_FORMAT_W64, 0},          {".rf64", SF_FORMAT_RF64, 0},
    {".aif", SF_FORMAT_AIFF, 0},  {".aiff", SF_FORMAT_AIFF, 0},        {".aifc", SF_FORMAT_AIFF, 0},
    {".caf", SF_FORMAT_CAF, 0},   {".au", SF_FORMAT_AU, 0},            {".snd", SF_FORMAT_AU, 0},
    {".flac", SF_FORMAT_FLAC, 0}, {".ogg", SF_FORMAT_OGG, SF_FORMAT_VORBIS}, {".oga", SF_FORMAT_OGG, SF_FORMAT_VORBIS},
    {".opus", SF_FORMAT_OGG, SF_FORMAT_OPUS},
};

std::string LowerExtension(const std::filesystem::path& path)
{
    auto extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

const ExtensionFormat* FindFormat(const std::filesystem::path& path)
{
    const auto extension = LowerExtension(path);
    for (const auto& format : kFormats) {
        if (extension == format.extension) {
            return &format;
        }
    }
    return nullptr;
}

bool IsIntegerEncoding(int subtype)
{
    return subtype == SF_FORMAT_PCM_S8 || subtype == SF_FORMAT_PCM_U8 || subtype == SF_FORMAT_PCM_16 ||
           subtype == SF_FORMAT_PCM_24 || subtype == SF_FORMAT_PCM_32;
}

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

std::string FileText(const std::filesystem::path& path)
{
    return Quoted(path.string());
}

TemporaryFileGuard gTemporaryFileGuard;

} // namespace

void SetTemporaryFileGuard(const TemporaryFileGuard& guard)
{
    gTemporaryFileGuard = guard;
}

int MajorFormatForExtension(const std::filesystem::path& path)
{
    const auto* format = FindFormat(path);
    return format != nullptr ? format->major : 0;
}

std::string KnownAudioExtensions()
{
    std::string list;
    for (const auto& format : kFormats) {
        list += (list.empty() ? "" : ", ") + std::string(format.extension);
    }
    return list;
}

AudioFileReader::~AudioFileReader()
{
    if (mFile != nullptr) {
        sf_close(mFile);
    }
}

bool AudioFileReader::Open(const std::filesystem::path& path, std::string& error)
{
    mPath = path;
    std::error_code status;
    if (!std::filesystem::exists(path, status)) {
        // A link loop or an unreadable folder on the way says so rather than "no such file".
        error = "cannot read " + FileText(path) + ": " + (status ? status.message() : "no such file");
        return false;
    }
    if (std::filesystem::is_directory(path, status)) {
        error = "cannot read " + FileText(path) + ": it is a folder";
        return false;
    }
    SF_INFO info{};
    mFile = sf_open(path.c_str(), SFM_READ, &info);
    if (mFile == nullptr) {
        error = "cannot read " + FileText(path) + ": " + sf_strerror(nullptr);
        return false;
    }
    if (info.channels <= 0 || info.samplerate <= 0) {
        error = "cannot read " + FileText(path) + ": no audio channels or no sample rate";
        return false;
    }
    mChannels = info.channels;
    mSampleRate = info.samplerate;
    mFormat = info.format;
    // Streams that cannot tell their length report a huge count.
    mFrames = info.frames >= 0 && info.frames < (sf_count_t(1) << 40) ? static_cast<std::int64_t>(info.frames) : -1;
    return true;
}

int AudioFileReader::Read(float* const* channels, int frameCount)
{
    if (mFile == nullptr || frameCount <= 0) {
        return 0;
    }
    mInterleaved.resize(static_cast<std::size_t>(frameCount) * static_cast<std::size_t>(mChannels));
    const auto read = sf_readf_float(mFile, mInterleaved.data(), frameCount);
    if (read < 0 || (read < frameCount && sf_error(mFile) != SF_ERR_NO_ERROR)) {
        mError = "reading " + FileText(mPath) + " failed: " + sf_strerror(mFile);
        return -1;
    }
    const auto frames = static_cast<int>(read);
    for (int c = 0; c < mChannels; ++c) {
        float* channel = channels[c];
        for (int i = 0; i < frames; ++i) {
            channel[i] = mInterleaved[static_cast<std::size_t>(i) * static_cast<std::size_t>(mChannels) +
                                      static_cast<std::size_t>(c)];
        }
    }
    return frames;
}

AtomicAudioFileWriter::~AtomicAudioFileWriter()
{
    Abort();
}

bool AtomicAudioFileWriter::Open(const std::filesystem::path& target, int channels, int sampleRate,
                                 int sourceFormat, std::string& error)
{
    mTarget = target;
    mChannels = channels;
    const auto* format = FindFormat(target);
    if (format == nullptr) {
        error = "cannot write " + FileText(target) + ": unknown audio file type " +
                Quoted(target.extension().string()) + " (known: " + KnownAudioExtensions() + ")";
        return false;
    }
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = sampleRate;
    std::vector<int> candidates{format->subtype};
    if (format->subtype == 0) {
        candidates = {sourceFormat & SF_FORMAT_SUBMASK, SF_FORMAT_FLOAT, SF_FORMAT_PCM_24, SF_FORMAT_PCM_16};
    }
    info.format = 0;
    for (const int subtype : candidates) {
        SF_INFO check = info;
        check.format = format->major | subtype;
        if (subtype != 0 && sf_format_check(&check) != 0) {
            info.format = check.format;
            break;
        }
    }
    if (info.format == 0) {
        error = "cannot write " + FileText(target) + ": this build of libsndfile cannot write " +
                std::to_string(channels) + " channels at " + std::to_string(sampleRate) + " Hz as " +
                Quoted(target.extension().string());
        return false;
    }

    auto folder = target.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    std::error_code status;
    if (!std::filesystem::is_directory(folder, status)) {
        error = "cannot write " + FileText(target) + ": the folder " + FileText(folder) + " does not exist";
        return false;
    }
    mDescriptor = kelcore::filesupport::BeginAtomicSave(target, mReplaced, mTemporary);
    if (mDescriptor < 0) {
        error = "cannot write " + FileText(target) + ": " + std::strerror(errno);
        return false;
    }
    // From here a terminating signal removes the temporary file; one in the moment before arming
    // leaves it to the next save of this target, as a killed save does.
    mArmed = gTemporaryFileGuard.arm != nullptr && gTemporaryFileGuard.arm(mTemporary);

    mFile = sf_open_fd(mDescriptor, SFM_WRITE, &info, SF_FALSE);
    if (mFile == nullptr) {
        error = "cannot write " + FileText(target) + ": " + sf_strerror(nullptr);
        Abort();
        return false;
    }
    if (IsIntegerEncoding(info.format & SF_FORMAT_SUBMASK)) {
        // Levels above full scale are clipped instead of wrapping around.
        sf_command(mFile, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    }
    return true;
}

bool AtomicAudioFileWriter::Write(const float* const* channels, int frameCount)
{
    if (mFile == nullptr) {
        mError = "writing " + FileText(mTarget) + " failed: the file is not open";
        return false;
    }
    if (frameCount <= 0) {
        return true;
    }
    mInterleaved.resize(static_cast<std::size_t>(frameCount) * static_cast<std::size_t>(mChannels));
    for (int c = 0; c < mChannels; ++c) {
        for (int i = 0; i < frameCount; ++i) {
            mInterleaved[static_cast<std::size_t>(i) * static_cast<std::size_t>(mChannels) +
                         static_cast<std::size_t>(c)] = channels[c][i];
        }
    }
    if (sf_writef_float(mFile, mInterleaved.data(), frameCount) != frameCount) {
        mError = "writing " + FileText(mTarget) + " failed: " + DescribeWriteFailure(channels, frameCount);
        return false;
    }
    mFramesWritten += frameCount;
    return true;
}

// Some encoders refuse samples without setting an error ("No Error"): name what they refused.
std::string AtomicAudioFileWriter::DescribeWriteFailure(const float* const* channels, int frameCount) const
{
    if (sf_error(mFile) != SF_ERR_NO_ERROR) {
        return sf_strerror(mFile);
    }
    for (int i = 0; i < frameCount; ++i) {
        for (int c = 0; c < mChannels; ++c) {
            if (!std::isfinite(channels[c][i])) {
                const std::string kind = std::isnan(channels[c][i]) ? "NaN" : "infinity";
                return "the audio holds a non-finite sample (" + kind + ") on channel " + std::to_string(c) +
                       " at frame " + std::to_string(mFramesWritten + i) + ", which this file type cannot store";
            }
        }
    }
    return "the encoder refused the samples without saying why";
}

bool AtomicAudioFileWriter::Commit(std::string& error)
{
    if (mFile == nullptr) {
        error = "writing " + FileText(mTarget) + " failed: the file is not open";
        return false;
    }
    sf_write_sync(mFile);
    const int closed = sf_close(mFile);
    mFile = nullptr;
    if (closed != 0) {
        error = "writing " + FileText(mTarget) + " failed: " + sf_error_number(closed);
        Abort();
        return false;
    }
    const int descriptor = std::exchange(mDescriptor, -1);
    if (!kelcore::filesupport::CommitTemporaryFile(descriptor, mTemporary, mReplaced)) {
        error = "cannot replace " + FileText(mTarget) + ": " + std::strerror(errno);
        mTemporary.clear();
        Abort();
        return false;
    }
    mTemporary.clear();
    Disarm();
    return true;
}

void AtomicAudioFileWriter::Disarm()
{
    if (mArmed) {
        if (gTemporaryFileGuard.disarm != nullptr) {
            gTemporaryFileGuard.disarm();
        }
        mArmed = false;
    }
}

void AtomicAudioFileWriter::Abort()
{
    if (mFile != nullptr) {
        sf_close(mFile);
        mFile = nullptr;
    }
    if (mDescriptor >= 0) {
        close(mDescriptor);
        mDescriptor = -1;
    }
    if (!mTemporary.empty()) {
        std::error_code ignored;
        std::filesystem::remove(mTemporary, ignored);
        mTemporary.clear();
    }
    Disarm();
}

} // namespace kelaudiofilterhost::render
