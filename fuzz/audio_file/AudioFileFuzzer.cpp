// SPDX-License-Identifier: GPL-3.0-or-later
// kafh's audio-file reader on arbitrary bytes, read to the end in blocks as `kafh process` does.
// The first byte picks the extension, which libsndfile's raw formats look at.
#include "kelaudiofilterhost/render/AudioFile.h"

#include "fuzz/FuzzSupport.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const char* const kExtensions[] = {".wav", ".flac", ".aiff", ".ogg"};
    if (size == 0) {
        return 0;
    }
    const auto path = kafhfuzz::WriteInput(data + 1, size - 1, kExtensions[data[0] % 4]);
    kelaudiofilterhost::render::AudioFileReader reader;
    std::string error;
    if (!reader.Open(path, error)) {
        return 0;
    }
    constexpr int kBlock = 512;
    const auto channels = static_cast<std::size_t>(reader.GetChannelCount());
    std::vector<std::vector<float>> buffers(channels, std::vector<float>(kBlock));
    std::vector<float*> pointers;
    for (auto& buffer : buffers) {
        pointers.push_back(buffer.data());
    }
    // Bounded: a header may claim far more frames than the bytes hold.
    for (int block = 0; block < 4096 && reader.Read(pointers.data(), kBlock) > 0; ++block) {
    }
    return 0;
}
