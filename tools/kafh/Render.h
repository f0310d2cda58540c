// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Rendering lives in the library; kafh's commands name its parts as their own.
#include "kelaudiofilterhost/render/Renderer.h"

namespace kafh {

using kelaudiofilterhost::render::AudioSink;
using kelaudiofilterhost::render::AudioSource;
using kelaudiofilterhost::render::RenderOptions;
using kelaudiofilterhost::render::Renderer;
using kelaudiofilterhost::render::RenderReport;
using kelaudiofilterhost::render::RequestChannelLayout;
using kelaudiofilterhost::render::SignalStats;
using kelaudiofilterhost::render::TailMode;

} // namespace kafh
