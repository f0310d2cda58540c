// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst3/VST3StateChunk.h"

namespace kelaudiofilterhost::vst3 {

namespace {

void PutLength(std::vector<std::uint8_t>& out, std::uint64_t value)
{
    for (int i = 0; i < 8; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

std::uint64_t GetLength(const std::uint8_t* bytes)
{
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

} // namespace

std::vector<std::uint8_t> VST3StateChunk::Make(std::span<const std::uint8_t> component,
                                               std::span<const std::uint8_t> controller)
{
    std::vector<std::uint8_t> out;
    out.reserve(kHeaderSize + component.size() + controller.size());
    PutLength(out, component.size());
    PutLength(out, controller.size());
    out.insert(out.end(), component.begin(), component.end());
    out.insert(out.end(), controller.begin(), controller.end());
    return out;
}

bool VST3StateChunk::Parse(std::span<const std::uint8_t> chunk, VST3StateChunk& parts)
{
    parts = VST3StateChunk{};
    if (chunk.size() < kHeaderSize) {
        return false;
    }
    parts.componentLength = GetLength(chunk.data());
    parts.controllerLength = GetLength(chunk.data() + 8);
    std::span<const std::uint8_t> rest = chunk.subspan(kHeaderSize);
    // Lengths are compared with what is left, never added, so absurd values cannot wrap.
    if (parts.componentLength <= rest.size()) {
        parts.component = rest.first(static_cast<std::size_t>(parts.componentLength));
        rest = rest.subspan(static_cast<std::size_t>(parts.componentLength));
    } else {
        parts.componentTruncated = true;
        rest = {};
    }
    if (parts.controllerLength <= rest.size()) {
        parts.controller = rest.first(static_cast<std::size_t>(parts.controllerLength));
    } else {
        parts.controllerTruncated = true;
    }
    return true;
}

} // namespace kelaudiofilterhost::vst3
