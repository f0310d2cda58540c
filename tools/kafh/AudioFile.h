// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Audio files are read and written by the library's render subsystem.
#include "kelaudiofilterhost/render/AudioFile.h"

namespace kafh {

using kelaudiofilterhost::render::AtomicAudioFileWriter;
using kelaudiofilterhost::render::AudioFileReader;
using kelaudiofilterhost::render::AudioSink;
using kelaudiofilterhost::render::AudioSource;
using kelaudiofilterhost::render::KnownAudioExtensions;
using kelaudiofilterhost::render::MajorFormatForExtension;

} // namespace kafh
