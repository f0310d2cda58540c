// SPDX-License-Identifier: GPL-3.0-or-later
// What our VST 3 test bundles are known by, shared with the tests that load them.
#pragma once

#include <cstdint>

namespace kafh_testplugins_vst3 {

// Class IDs as four 32-bit words, most significant byte first (INLINE_UID order).
struct Uid {
    std::uint32_t w1, w2, w3, w4;
};

inline constexpr Uid kMultiDelayProcessor{0x4B664D31, 0x00000001, 0, 1};
inline constexpr Uid kMultiDelayController{0x4B664D31, 0x00000001, 0, 2};
inline constexpr Uid kMultiSynth{0x4B664D31, 0x00000002, 0, 1};
inline constexpr Uid kEntryRefusesEffect{0x4B664552, 0, 0, 1};
inline constexpr Uid kMessagesProcessor{0x4B664D53, 0, 0, 1};
inline constexpr Uid kMessagesController{0x4B664D53, 0, 0, 2};
inline constexpr Uid kGainProcessor{0x4B664741, 0, 0, 1};
inline constexpr Uid kGainController{0x4B664741, 0, 0, 2};
inline constexpr Uid kSingle{0x4B665347, 0, 0, 1};
inline constexpr Uid kRecorderProcessor{0x4B665243, 0, 0, 1};
inline constexpr Uid kRecorderController{0x4B665243, 0, 0, 2};
inline constexpr Uid kSideChain{0x4B665343, 0, 0, 1};
inline constexpr Uid kLatencyProcessor{0x4B664C54, 1, 0, 1};
inline constexpr Uid kLatencyController{0x4B664C54, 1, 0, 2};
inline constexpr Uid kLatencyChangeProcessor{0x4B664C54, 2, 0, 1};
inline constexpr Uid kLatencyChangeController{0x4B664C54, 2, 0, 2};
inline constexpr Uid kMono{0x4B664D4F, 0, 0, 1};
inline constexpr Uid kMissingControllerProcessor{0x4B664654, 1, 0, 1};
inline constexpr Uid kMissingControllerUnknown{0x4B664654, 1, 0, 2}; // named by the processor, not in the factory
inline constexpr Uid kControllerRefusesProcessor{0x4B664654, 2, 0, 1};
inline constexpr Uid kControllerRefusesController{0x4B664654, 2, 0, 2};
inline constexpr Uid kRefusesEverythingProcessor{0x4B664654, 3, 0, 1};
inline constexpr Uid kRefusesEverythingController{0x4B664654, 3, 0, 2};
inline constexpr Uid kEmptyStateProcessor{0x4B664654, 4, 0, 1};
inline constexpr Uid kEmptyStateController{0x4B664654, 4, 0, 2};
inline constexpr Uid kThrowsProcessor{0x4B664654, 5, 0, 1};
inline constexpr Uid kThrowsController{0x4B664654, 5, 0, 2};
inline constexpr Uid kEditorProcessor{0x4B664544, 0, 0, 1};
inline constexpr Uid kEditorController{0x4B664544, 0, 0, 2};

// State magic numbers: the 32-bit value whose little-endian bytes spell the four letters, so that a
// saved state starts with them.
constexpr std::uint32_t Magic(const char (&letters)[5])
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(letters[0]))
        | static_cast<std::uint32_t>(static_cast<unsigned char>(letters[1])) << 8
        | static_cast<std::uint32_t>(static_cast<unsigned char>(letters[2])) << 16
        | static_cast<std::uint32_t>(static_cast<unsigned char>(letters[3])) << 24;
}

// KafhVst3Messages: what its processor sends, and what its controller last received.
inline constexpr const char* kHelloMessageID = "KafhHello";
inline constexpr const char* kResendMessageID = "KafhResend";
inline constexpr long long kHelloInt = -1234567890123;
inline constexpr double kHelloFloat = 0.375;
inline constexpr char16_t kHelloString[] = u"Kafh \u00e9t\u00e9";
inline constexpr unsigned char kHelloBinary[] = {0, 1, 2, 0xFE, 0xFF};

struct Received {
    int count; // messages with the hello ID so far
    long long intValue; // the interface's int64
    double floatValue;
    char16_t stringValue[64];
    unsigned char binaryValue[16];
    std::uint32_t binarySize;
    bool allFound; // every attribute of the last hello message was there, with its type
};

// Exported by KafhVst3Messages: copies what the controllers received and starts over.
using TakeReceivedFunction = void (*)(Received* out);
inline constexpr const char* kTakeReceivedName = "KafhVst3MessagesTakeReceived";

// KafhVst3Gain. Component state: kGainStateMagic, then gain, mode and bypass (normalized doubles);
// controller state: kGainControllerStateMagic, then the selected program index (uint32).
inline constexpr std::uint32_t kGainParam = 100; // plain 0..2 = normalized * 2, default 0.5
inline constexpr std::uint32_t kGainModeParam = 101; // 3 steps, unused by the audio
inline constexpr std::uint32_t kGainMeterParam = 102; // read-only, never written
inline constexpr std::uint32_t kGainBypassParam = 103;
inline constexpr std::uint32_t kGainProgramParam = 104; // program index = round(normalized * 3)
inline constexpr std::int32_t kGainProgramListId = 1;
inline constexpr const char* kGainProgramNames[] = {"Unity", "Half", "Double", "Mute"};
inline constexpr double kGainProgramValues[] = {0.5, 0.25, 1.0, 0.0}; // the gain parameter, normalized
inline constexpr std::uint32_t kGainStateMagic = Magic("KGan");
inline constexpr std::uint32_t kGainControllerStateMagic = Magic("KGct");

// KafhVst3Single. State (the same bytes for component and controller): kSingleStateMagic, level (double).
inline constexpr std::uint32_t kSingleLevelParam = 0;
inline constexpr std::uint32_t kSingleStateMagic = Magic("KSgl");
// Exported by KafhVst3Single: initialize and terminate calls so far, over every instance.
using SingleLifecycleFunction = void (*)(int* initializeCalls, int* terminateCalls);
inline constexpr const char* kSingleLifecycleName = "KafhVst3SingleLifecycle";

// KafhVst3Recorder: what its processor has received, which is also its component state, raw.
inline constexpr std::uint32_t kRecorderParamA = 1;
inline constexpr std::uint32_t kRecorderParamB = 2;
inline constexpr std::uint32_t kRecorderPeakParam = 200; // written each block: channel 0's input peak
inline constexpr std::uint32_t kRecorderStateMagic = Magic("KRec");
inline constexpr int kRecorderMaxPoints = 512;
inline constexpr int kRecorderMaxBlocks = 64;
inline constexpr int kRecorderMaxEvents = 64;

#pragma pack(push, 1)
struct RecorderPoint {
    std::uint32_t paramId;
    std::int32_t sampleOffset;
    double value;
    std::int64_t projectTimeSamples; // of the call's process context, 0 without one
};
struct RecorderBlock {
    std::int32_t numSamples;
    float firstSample; // input channel 0's first sample, 0 without one
    // The block's process context: project time, quarter notes, bar start, tempo (0 without one).
    std::int64_t projectTimeSamples;
    double projectTimeMusic;
    double barPositionMusic;
    double tempo;
};
struct RecorderEvent {
    std::int64_t frame; // the call's project time plus the event's sample offset
    std::int32_t type; // Event::type: 0 note on, 1 note off, ...
    std::int32_t pitch; // notes' pitch, else 0
};
struct RecorderLog {
    std::uint32_t magic; // kRecorderStateMagic
    std::uint32_t pointCount; // every input parameter change point, also those past the array
    RecorderPoint points[kRecorderMaxPoints];
    std::uint32_t processCount; // every process call, also those past the array
    RecorderBlock blocks[kRecorderMaxBlocks];
    // The last ProcessContext received, and how many calls came with one.
    std::uint32_t contextCount;
    std::uint32_t contextState;
    double tempo;
    std::int64_t projectTimeSamples;
    double contextSampleRate;
    std::int32_t timeSigNumerator;
    std::int32_t timeSigDenominator;
    // The last ProcessSetup received, and how many were.
    std::uint32_t setupCount;
    std::int32_t processMode;
    std::int32_t symbolicSampleSize;
    std::int32_t maxSamplesPerBlock;
    double setupSampleRate;
    std::uint32_t processingOn; // setProcessing(true) calls
    std::uint32_t processingOff;
    std::uint32_t activeOn; // setActive(true) calls
    std::uint32_t activeOff;
    std::uint32_t noOutputChanges; // process calls without outputParameterChanges
    std::uint32_t eventCount; // every input event, also those past the array
    RecorderEvent events[kRecorderMaxEvents];
};
#pragma pack(pop)

// KafhVst3Latency.
inline constexpr std::uint32_t kLatencySamples = 64;
inline constexpr std::uint32_t kLatencyLongSamples = 128; // "Kafh Latency Change" with Long on
inline constexpr std::uint32_t kLatencyTailSamples = 4410;
inline constexpr std::uint32_t kLatencyLongParam = 0;
inline constexpr std::uint32_t kLatencyStateMagic = Magic("KLat");

// KafhVst3Faulty: what "Kafh Throws" throws.
inline constexpr const char* kThrowsWhat = "kafh test throw";

// KafhVst3Editor: the view's size before and after its own resize request, the width of its minimum
// size, the parameter a click toggles, and what the view saw, read by the exported function.
inline constexpr int kEditorWidth = 320;
inline constexpr int kEditorHeight = 200;
inline constexpr int kEditorResizedWidth = 400;
inline constexpr int kEditorResizedHeight = 240;
inline constexpr int kEditorMinimumSize = 100;
inline constexpr std::uint32_t kEditorToggleParam = 0;
struct EditorStats {
    int timerCalls;
    int descriptorCalls;
    int onSizeWidth; // the last onSize
    int onSizeHeight;
    int runLoopRegistrations; // currently registered with the host
    float brightness; // the vendor view interface's last values
    bool applyBrightness;
};
inline constexpr const char* kEditorStatsName = "KafhVst3EditorStats";
using EditorStatsFunction = void (*)(EditorStats*);

} // namespace kafh_testplugins_vst3
