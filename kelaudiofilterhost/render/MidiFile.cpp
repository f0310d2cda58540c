// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/render/MidiFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>

namespace kelaudiofilterhost {

namespace {

// Far beyond any real song; keeps a wrong path (a disk image, say) from being read into memory.
constexpr std::uintmax_t kMaxFileBytes = 64u << 20;

class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : mBytes(bytes) {}

    std::size_t GetOffset() const { return mOffset; }
    std::size_t GetRemaining() const { return mBytes.size() - mOffset; }
    bool AtEnd() const { return mOffset == mBytes.size(); }

    std::optional<std::uint8_t> Peek() const
    {
        return AtEnd() ? std::nullopt : std::optional<std::uint8_t>(mBytes[mOffset]);
    }
    std::optional<std::uint32_t> ReadBigEndian(int size)
    {
        if (GetRemaining() < static_cast<std::size_t>(size)) {
            return std::nullopt;
        }
        std::uint32_t value = 0;
        for (int i = 0; i < size; ++i) {
            value = (value << 8) | mBytes[mOffset++];
        }
        return value;
    }
    /// A variable-length quantity: at most four bytes, seven bits each, so at most 0x0FFFFFFF.
    /// `tooLong` is set when a fourth byte still asks for more.
    std::optional<std::uint32_t> ReadVariableLength(bool& tooLong)
    {
        tooLong = false;
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            if (AtEnd()) {
                return std::nullopt;
            }
            const std::uint8_t byte = mBytes[mOffset++];
            value = (value << 7) | (byte & 0x7Fu);
            if ((byte & 0x80u) == 0) {
                return value;
            }
        }
        tooLong = true;
        return std::nullopt;
    }
    std::span<const std::uint8_t> Take(std::size_t size)
    {
        const auto part = mBytes.subspan(mOffset, size);
        mOffset += size;
        return part;
    }

private:
    std::span<const std::uint8_t> mBytes;
    std::size_t mOffset = 0;
};

struct MetaEvent {
    std::int64_t tick = 0;
    bool isTempo = true;
    std::uint32_t microsecondsPerQuarter = 0;
    int numerator = 0;
    int denominator = 0;
};

struct TrackContents {
    std::vector<MidiFileEvent> events;
    std::vector<MetaEvent> metas;
    std::int64_t endTick = 0;
};

std::string Hex(unsigned value)
{
    static const char digits[] = "0123456789ABCDEF";
    return std::string("0x") + digits[(value >> 4) & 0xF] + digits[value & 0xF];
}

MidiFileEvent::Type ChannelMessageType(std::uint8_t status, std::uint8_t velocity)
{
    switch (status & 0xF0) {
    case 0x80: return MidiFileEvent::Type::NoteOff;
    case 0x90: return velocity == 0 ? MidiFileEvent::Type::NoteOff : MidiFileEvent::Type::NoteOn;
    case 0xA0: return MidiFileEvent::Type::PolyPressure;
    case 0xB0: return MidiFileEvent::Type::Controller;
    case 0xC0: return MidiFileEvent::Type::ProgramChange;
    case 0xD0: return MidiFileEvent::Type::ChannelPressure;
    default: return MidiFileEvent::Type::PitchBend;
    }
}

/// Reads one track chunk's events. False with the reason in `error`.
bool ParseTrack(std::span<const std::uint8_t> chunk, int track, TrackContents& out, std::string& error)
{
    const std::string where = "track " + std::to_string(track + 1);
    ByteReader reader(chunk);
    std::int64_t tick = 0;
    std::uint8_t runningStatus = 0;
    while (!reader.AtEnd()) {
        bool tooLong = false;
        const auto delta = reader.ReadVariableLength(tooLong);
        if (!delta) {
            error = where + (tooLong ? ": a delta time longer than four bytes" : ": the last event is cut short");
            return false;
        }
        tick += *delta;
        const std::size_t eventOffset = reader.GetOffset();
        const auto first = reader.Peek();
        if (!first) {
            error = where + ": the last event is cut short";
            return false;
        }
        std::uint8_t status = *first;
        if (status & 0x80) {
            reader.Take(1);
        } else if (runningStatus != 0) {
            status = runningStatus;
        } else {
            error = where + ": data byte without a status at byte " + std::to_string(eventOffset);
            return false;
        }

        if (status < 0xF0) {
            // Meta events and system exclusive messages leave running status alone: files that
            // rely on it either way are both found in the wild, and keeping it reads both.
            runningStatus = status;
            const std::uint8_t kind = status & 0xF0;
            const std::size_t size = kind == 0xC0 || kind == 0xD0 ? 1 : 2;
            if (reader.GetRemaining() < size) {
                error = where + ": the last event is cut short";
                return false;
            }
            const auto data = reader.Take(size);
            if ((data[0] & 0x80) || (size == 2 && (data[1] & 0x80))) {
                error = where + ": a status byte inside a message at byte " + std::to_string(eventOffset);
                return false;
            }
            MidiFileEvent event;
            event.tick = tick;
            event.track = track;
            event.channel = status & 0x0F;
            event.data1 = data[0];
            event.data2 = size == 2 ? data[1] : 0;
            event.type = ChannelMessageType(status, event.data2);
            out.events.push_back(event);
            continue;
        }

        if (status != 0xFF && status != 0xF0 && status != 0xF7) {
            error = where + ": unexpected status byte " + Hex(status) + " at byte " + std::to_string(eventOffset);
            return false;
        }
        std::optional<std::uint32_t> metaType;
        if (status == 0xFF && !(metaType = reader.ReadBigEndian(1))) {
            error = where + ": the last event is cut short";
            return false;
        }
        const auto length = reader.ReadVariableLength(tooLong);
        if (!length || reader.GetRemaining() < *length) {
            error = where + (tooLong ? ": a length longer than four bytes" : ": the last event is cut short");
            return false;
        }
        const auto body = reader.Take(*length);
        if (!metaType) {
            continue; // system exclusive: nothing for an offline render to send
        }
        if (*metaType == 0x2F) {
            out.endTick = tick;
            return true; // whatever follows the end of the track is not part of it
        }
        if (*metaType == 0x51 && body.size() >= 3) {
            out.metas.push_back({tick, true, (std::uint32_t{body[0]} << 16) | (body[1] << 8) | body[2], 0, 0});
        } else if (*metaType == 0x58 && body.size() >= 2 && body[0] > 0 && body[1] <= 7) {
            out.metas.push_back({tick, false, 0, body[0], 1 << body[1]});
        }
    }
    out.endTick = tick;
    return true;
}

} // namespace

std::array<std::uint8_t, 3> MidiFileEvent::GetBytes() const
{
    static constexpr std::uint8_t kStatus[] = {0x80, 0x90, 0xA0, 0xB0, 0xC0, 0xD0, 0xE0};
    return {static_cast<std::uint8_t>(kStatus[static_cast<int>(type)] | channel), data1,
            GetSize() == 3 ? data2 : std::uint8_t{0}};
}

int MidiFileEvent::GetSize() const
{
    return type == Type::ProgramChange || type == Type::ChannelPressure ? 2 : 3;
}

void MidiFile::Clear()
{
    mFormat = 0;
    mTrackCount = 0;
    mEvents.clear();
    mTempoMap = MidiTempoMap();
    mLengthTicks = 0;
    mLengthSeconds = 0.0;
}

bool MidiFile::Read(const std::filesystem::path& path, double sampleRate, std::string& error)
{
    Clear();
    std::error_code status;
    const auto size = std::filesystem::file_size(path, status);
    if (status) {
        error = "cannot read the file: " + status.message();
        return false;
    }
    if (size > kMaxFileBytes) {
        error = "not a MIDI file (" + std::to_string(size) + " bytes is far too large)";
        return false;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    std::ifstream file(path, std::ios::binary);
    if (!file || !file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) {
        error = std::string("cannot read the file: ") + std::strerror(errno);
        return false;
    }
    return Parse(bytes, sampleRate, error);
}

bool MidiFile::Parse(std::span<const std::uint8_t> bytes, double sampleRate, std::string& error)
{
    Clear();
    mSampleRate = sampleRate;
    ByteReader reader(bytes);
    if (bytes.size() < 4 || std::memcmp(bytes.data(), "MThd", 4) != 0) {
        error = "not a MIDI file (no MThd header)";
        return false;
    }
    reader.Take(4);
    const auto headerSize = reader.ReadBigEndian(4);
    if (!headerSize || *headerSize < 6 || reader.GetRemaining() < *headerSize) {
        error = headerSize && *headerSize < 6 ? "the MIDI header is too small" : "the MIDI header is cut short";
        return false;
    }
    auto header = ByteReader(reader.Take(*headerSize));
    const int format = static_cast<int>(*header.ReadBigEndian(2));
    const int trackCount = static_cast<int>(*header.ReadBigEndian(2));
    const std::uint32_t division = *header.ReadBigEndian(2);
    if (format == 2) {
        error = "format 2 MIDI files (independent patterns) are not supported";
        return false;
    }
    if (format > 2) {
        error = "unknown MIDI file format " + std::to_string(format);
        return false;
    }
    if (trackCount == 0) {
        error = "the MIDI file has no tracks";
        return false;
    }
    if (division & 0x8000) {
        // SMPTE: the high byte is minus the frame rate, the low byte the ticks per frame.
        const int frames = 256 - static_cast<int>(division >> 8);
        const int ticksPerFrame = static_cast<int>(division & 0xFF);
        if ((frames != 24 && frames != 25 && frames != 29 && frames != 30) || ticksPerFrame == 0) {
            error = "unknown SMPTE time division " + std::to_string(frames) + " x " + std::to_string(ticksPerFrame);
            return false;
        }
        mTempoMap = MidiTempoMap(frames == 29 ? 30000.0 / 1001.0 : frames, ticksPerFrame);
    } else if (division == 0) {
        error = "the MIDI file has zero ticks per quarter note";
        return false;
    } else {
        mTempoMap = MidiTempoMap(static_cast<int>(division));
    }

    std::vector<MetaEvent> metas;
    for (int track = 0; track < trackCount;) {
        if (reader.GetRemaining() < 8) {
            error = "the MIDI file is cut short: it has " + std::to_string(track) + " of its " +
                    std::to_string(trackCount) + " tracks";
            Clear();
            return false;
        }
        const auto id = reader.Take(4);
        const std::uint32_t size = *reader.ReadBigEndian(4);
        if (reader.GetRemaining() < size) {
            error = "track " + std::to_string(track + 1) + " is cut short (" + std::to_string(size) +
                    " bytes announced, " + std::to_string(reader.GetRemaining()) + " there)";
            Clear();
            return false;
        }
        const auto chunk = reader.Take(size);
        if (std::memcmp(id.data(), "MTrk", 4) != 0) {
            continue; // chunks of unknown kinds are there to be skipped
        }
        TrackContents contents;
        if (!ParseTrack(chunk, track, contents, error)) {
            Clear();
            return false;
        }
        mEvents.insert(mEvents.end(), contents.events.begin(), contents.events.end());
        metas.insert(metas.end(), contents.metas.begin(), contents.metas.end());
        mLengthTicks = std::max(mLengthTicks, contents.endTick);
        ++track;
    }
    mFormat = format;
    mTrackCount = trackCount;

    // Stable sorts of lists gathered track by track: equal times stay in track order, then file order.
    const auto byTick = [](const auto& a, const auto& b) { return a.tick < b.tick; };
    std::stable_sort(mEvents.begin(), mEvents.end(), byTick);
    std::stable_sort(metas.begin(), metas.end(), byTick);
    for (const MetaEvent& meta : metas) {
        if (meta.isTempo) {
            mTempoMap.AddTempo(meta.tick, meta.microsecondsPerQuarter);
        } else {
            mTempoMap.AddTimeSignature(meta.tick, meta.numerator, meta.denominator);
        }
    }
    for (MidiFileEvent& event : mEvents) {
        event.seconds = mTempoMap.TicksToSeconds(event.tick);
    }
    mLengthSeconds = mTempoMap.TicksToSeconds(mLengthTicks);
    SetSampleRate(sampleRate);
    return true;
}

void MidiFile::SetSampleRate(double sampleRate)
{
    mSampleRate = sampleRate;
    for (MidiFileEvent& event : mEvents) {
        event.sample = MidiTempoMap::SecondsToSample(event.seconds, sampleRate);
    }
}

} // namespace kelaudiofilterhost
