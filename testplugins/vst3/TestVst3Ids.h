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

} // namespace kafh_testplugins_vst3
