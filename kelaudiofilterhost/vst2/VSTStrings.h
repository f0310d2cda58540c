// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/services/Strings.h"
#include "kelaudiofilterhost/vst2/VstAbi.h"

#include <cstddef>
#include <cstdint>

namespace kelaudiofilterhost::vst {

using kelcore::UTF16String;

/// Lengths the host reads of the strings effects write.
inline constexpr std::size_t kEffectStringLength = 256;
inline constexpr std::size_t kParameterStringLength = 128;
inline constexpr std::size_t kProgramNameLength = 72;
/// Effects often write past the lengths they were given; every buffer handed to them is this large.
inline constexpr std::size_t kStringBufferSize = 1024;

/// The bytes up to the first zero or maxLength, as UTF-8.
UTF16String TextFromBuffer(const char* buffer, std::size_t maxLength);

} // namespace kelaudiofilterhost::vst
