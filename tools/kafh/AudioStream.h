// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Sources and sinks of audio belong to the library's render subsystem.
#include "kelaudiofilterhost/render/AudioStream.h"

namespace kafh {

using kelaudiofilterhost::render::AudioSink;
using kelaudiofilterhost::render::AudioSource;

} // namespace kafh
