// SPDX-License-Identifier: GPL-3.0-or-later
// The test instruments' sound: one sine per held note, 440 x 2^((note - 69) / 12) Hz, starting with
// phase 0 at its note-on's frame and silent from its note-off's frame, so a test can compute every
// sample it should hear: amplitude x sin(2 pi f k / rate) at k samples after the note-on.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace kafhtest {

struct NoteEvent {
    std::int32_t frame = 0;
    bool on = false;
    /// -1 with `on` false: every note off.
    int note = 0;
    float amplitude = 0.0f;
};

class NoteSines {
public:
    void SetSampleRate(double rate) { mSampleRate = rate > 0.0 ? rate : 44100.0; }

    void Reset()
    {
        for (Voice& voice : mVoices) {
            voice.note = -1;
        }
        mQueued = 0;
    }

    /// Queues an event of the next block. Events of one frame take effect in the order queued.
    void Queue(const NoteEvent& event)
    {
        if (mQueued == mEvents.size()) {
            return;
        }
        // Insertion by frame keeps equal frames in arrival order and allocates nothing.
        std::size_t at = mQueued++;
        for (; at > 0 && mEvents[at - 1].frame > event.frame; --at) {
            mEvents[at] = mEvents[at - 1];
        }
        mEvents[at] = event;
    }

    /// Overwrites the block with the held notes, applying the queued events at their frames. Events
    /// at or past the block's end take effect at its end.
    void Render(float* const* outputs, int channels, std::int32_t frames)
    {
        for (int c = 0; c < channels; ++c) {
            std::fill_n(outputs[c], frames, 0.0f);
        }
        std::size_t next = 0;
        for (std::int32_t position = 0; position < frames;) {
            while (next < mQueued && mEvents[next].frame <= position) {
                Apply(mEvents[next++]);
            }
            const std::int32_t end = next < mQueued ? std::min(mEvents[next].frame, frames) : frames;
            for (Voice& voice : mVoices) {
                for (std::int32_t i = position; voice.note >= 0 && i < end; ++i) {
                    const auto sample = static_cast<float>(voice.amplitude * std::sin(voice.step * voice.age++));
                    for (int c = 0; c < channels; ++c) {
                        outputs[c][i] += sample;
                    }
                }
            }
            position = end;
        }
        while (next < mQueued) {
            Apply(mEvents[next++]);
        }
        mQueued = 0;
    }

private:
    struct Voice {
        int note = -1;
        double step = 0.0;
        double amplitude = 0.0;
        double age = 0.0;
    };

    void Apply(const NoteEvent& event)
    {
        if (!event.on) {
            for (Voice& voice : mVoices) {
                if (event.note < 0 || voice.note == event.note) {
                    voice.note = -1;
                }
            }
            return;
        }
        Voice* voice = &mVoices[0];
        for (Voice& candidate : mVoices) {
            if (candidate.note < 0) {
                voice = &candidate;
                break;
            }
        }
        const double frequency = 440.0 * std::exp2((event.note - 69) / 12.0);
        *voice = {event.note, 2.0 * std::numbers::pi * frequency / mSampleRate, event.amplitude, 0.0};
    }

    double mSampleRate = 44100.0;
    std::array<Voice, 16> mVoices{};
    std::array<NoteEvent, 512> mEvents{};
    std::size_t mQueued = 0;
};

} // namespace kafhtest
