// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/interchange/FxFormat.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace kelaudiofilterhost::interchange {

namespace {

constexpr std::int32_t kChunkMagic = FourCC("CcnK");
constexpr std::int32_t kProgramParameters = FourCC("FxCk");
constexpr std::int32_t kProgramChunk = FourCC("FPCh");
constexpr std::int32_t kBankParameters = FourCC("FxBk");
constexpr std::int32_t kBankChunk = FourCC("FBCh");
constexpr std::size_t kProgramNameSize = 28;
constexpr std::size_t kProgramHeaderSize = 7 * 4 + kProgramNameSize;
// Nothing a plug-in keeps comes near these; larger counts are damage.
constexpr std::uint32_t kMaximumParameters = 1 << 20;
constexpr std::uint32_t kMaximumPrograms = 1 << 16;

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : mBytes(bytes) {}
    bool Int(std::int32_t& value)
    {
        if (Left() < 4) {
            return false;
        }
        std::uint32_t raw = 0;
        for (int i = 0; i < 4; ++i) {
            raw = raw << 8 | mBytes[mPosition++];
        }
        value = static_cast<std::int32_t>(raw);
        return true;
    }
    bool Float(float& value)
    {
        std::int32_t raw = 0;
        if (!Int(raw)) {
            return false;
        }
        value = std::bit_cast<float>(raw);
        return true;
    }
    bool Bytes(std::size_t count, std::span<const std::uint8_t>& out)
    {
        if (Left() < count) {
            return false;
        }
        out = mBytes.subspan(mPosition, count);
        mPosition += count;
        return true;
    }
    std::size_t Left() const { return mBytes.size() - mPosition; }

private:
    std::span<const std::uint8_t> mBytes;
    std::size_t mPosition = 0;
};

void PutInt(std::vector<std::uint8_t>& out, std::int32_t value)
{
    const auto raw = static_cast<std::uint32_t>(value);
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(raw >> shift));
    }
}

// Writes the byte size (everything after the size field) once the rest is in place.
void PatchSize(std::vector<std::uint8_t>& out, std::size_t start)
{
    const auto size = static_cast<std::uint32_t>(out.size() - start - 8);
    for (int i = 0; i < 4; ++i) {
        out[start + 4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(size >> (24 - 8 * i));
    }
}

bool ReadProgramBody(Reader& reader, FxProgram& program, std::string& error)
{
    std::int32_t magic = 0;
    std::int32_t size = 0;
    std::int32_t fxMagic = 0;
    std::int32_t version = 0;
    std::int32_t count = 0;
    std::span<const std::uint8_t> name;
    if (!reader.Int(magic) || !reader.Int(size) || !reader.Int(fxMagic) || !reader.Int(version)
        || !reader.Int(program.pluginID) || !reader.Int(program.pluginVersion) || !reader.Int(count)
        || !reader.Bytes(kProgramNameSize, name)) {
        error = "the program header is cut short";
        return false;
    }
    if (magic != kChunkMagic || (fxMagic != kProgramParameters && fxMagic != kProgramChunk)) {
        error = "not a VST 2 program (no CcnK/FxCk or FPCh header)";
        return false;
    }
    const auto nameEnd = std::find(name.begin(), name.end(), std::uint8_t{0});
    program.name.assign(name.begin(), nameEnd);
    program.isChunk = fxMagic == kProgramChunk;
    if (program.isChunk) {
        std::int32_t chunkSize = 0;
        std::span<const std::uint8_t> chunk;
        if (!reader.Int(chunkSize) || chunkSize < 0 || !reader.Bytes(static_cast<std::size_t>(chunkSize), chunk)) {
            error = "the program chunk is longer than the file";
            return false;
        }
        program.chunk.assign(chunk.begin(), chunk.end());
        return true;
    }
    if (count < 0 || static_cast<std::uint32_t>(count) > kMaximumParameters
        || reader.Left() < static_cast<std::size_t>(count) * 4) {
        error = "the program claims " + std::to_string(count) + " parameters, more than the file holds";
        return false;
    }
    program.parameters.resize(static_cast<std::size_t>(count));
    for (float& value : program.parameters) {
        reader.Float(value);
    }
    return true;
}

void WriteProgramBody(std::vector<std::uint8_t>& out, const FxProgram& program)
{
    const std::size_t start = out.size();
    PutInt(out, kChunkMagic);
    PutInt(out, 0);
    PutInt(out, program.isChunk ? kProgramChunk : kProgramParameters);
    PutInt(out, 1);
    PutInt(out, program.pluginID);
    PutInt(out, program.pluginVersion);
    PutInt(out, static_cast<std::int32_t>(program.parameters.size()));
    std::uint8_t name[kProgramNameSize] = {};
    std::memcpy(name, program.name.data(), std::min(program.name.size(), kProgramNameSize - 1));
    out.insert(out.end(), std::begin(name), std::end(name));
    if (program.isChunk) {
        PutInt(out, static_cast<std::int32_t>(program.chunk.size()));
        out.insert(out.end(), program.chunk.begin(), program.chunk.end());
    } else {
        for (const float value : program.parameters) {
            PutInt(out, std::bit_cast<std::int32_t>(value));
        }
    }
    PatchSize(out, start);
}

} // namespace

bool ParseFxProgram(std::span<const std::uint8_t> bytes, FxProgram& program, std::string& error)
{
    program = FxProgram{};
    Reader reader(bytes);
    return ReadProgramBody(reader, program, error);
}

std::vector<std::uint8_t> WriteFxProgram(const FxProgram& program)
{
    std::vector<std::uint8_t> out;
    out.reserve(kProgramHeaderSize + 4 + program.chunk.size() + 4 * program.parameters.size());
    WriteProgramBody(out, program);
    return out;
}

bool ParseFxBank(std::span<const std::uint8_t> bytes, FxBank& bank, std::string& error)
{
    bank = FxBank{};
    Reader reader(bytes);
    std::int32_t magic = 0;
    std::int32_t size = 0;
    std::int32_t fxMagic = 0;
    std::int32_t version = 0;
    std::int32_t count = 0;
    std::span<const std::uint8_t> future;
    if (!reader.Int(magic) || !reader.Int(size) || !reader.Int(fxMagic) || !reader.Int(version)
        || !reader.Int(bank.pluginID) || !reader.Int(bank.pluginVersion) || !reader.Int(count)
        || !reader.Bytes(128, future)) {
        error = "the bank header is cut short";
        return false;
    }
    if (magic != kChunkMagic || (fxMagic != kBankParameters && fxMagic != kBankChunk)) {
        error = "not a VST 2 bank (no CcnK/FxBk or FBCh header)";
        return false;
    }
    if (version >= 2) {
        bank.currentProgram = static_cast<std::int32_t>(static_cast<std::uint32_t>(future[0]) << 24
                                                        | static_cast<std::uint32_t>(future[1]) << 16
                                                        | static_cast<std::uint32_t>(future[2]) << 8 | future[3]);
    }
    bank.isChunk = fxMagic == kBankChunk;
    if (bank.isChunk) {
        bank.chunkProgramCount = count;
        std::int32_t chunkSize = 0;
        std::span<const std::uint8_t> chunk;
        if (!reader.Int(chunkSize) || chunkSize < 0 || !reader.Bytes(static_cast<std::size_t>(chunkSize), chunk)) {
            error = "the bank chunk is longer than the file";
            return false;
        }
        bank.chunk.assign(chunk.begin(), chunk.end());
        return true;
    }
    if (count < 0 || static_cast<std::uint32_t>(count) > kMaximumPrograms
        || reader.Left() < static_cast<std::size_t>(count) * kProgramHeaderSize) {
        error = "the bank claims " + std::to_string(count) + " programs, more than the file holds";
        return false;
    }
    bank.programs.resize(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < bank.programs.size(); ++i) {
        if (!ReadProgramBody(reader, bank.programs[i], error)) {
            error = "program " + std::to_string(i) + " of the bank: " + error;
            return false;
        }
    }
    return true;
}

std::vector<std::uint8_t> WriteFxBank(const FxBank& bank)
{
    std::vector<std::uint8_t> out;
    PutInt(out, kChunkMagic);
    PutInt(out, 0);
    PutInt(out, bank.isChunk ? kBankChunk : kBankParameters);
    PutInt(out, 2);
    PutInt(out, bank.pluginID);
    PutInt(out, bank.pluginVersion);
    PutInt(out, bank.isChunk ? bank.chunkProgramCount : static_cast<std::int32_t>(bank.programs.size()));
    PutInt(out, bank.currentProgram);
    out.insert(out.end(), 124, std::uint8_t{0});
    if (bank.isChunk) {
        PutInt(out, static_cast<std::int32_t>(bank.chunk.size()));
        out.insert(out.end(), bank.chunk.begin(), bank.chunk.end());
    } else {
        for (const FxProgram& program : bank.programs) {
            WriteProgramBody(out, program);
        }
    }
    PatchSize(out, 0);
    return out;
}

} // namespace kelaudiofilterhost::interchange
