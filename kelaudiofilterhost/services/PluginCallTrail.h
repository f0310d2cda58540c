// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kelcore::trail {

/// Where this process is in plug-in work: the step its driver announced ("create", "process") and the
/// last call into plug-in code a back end's gate entered (module path and call name). A watching parent
/// process reads it after the child crashed or hung, so it lives in a fixed area of plain bytes that can
/// be shared memory.

/// The size of the area UseArea needs.
constexpr std::size_t kAreaSize = 1024;

/// Makes the trail live in caller-owned memory of kAreaSize bytes (a shared mapping the parent reads);
/// null returns to the process's own area. Call before plug-in work starts, on one thread.
void UseArea(void* area);

/// Announces a step of the work; non-audio threads only (copies at most 127 bytes).
void SetStep(std::string_view step);

/// Records that a call into plug-in code begins. Allocates nothing and takes no lock, so gates may call
/// it on the audio thread; each text is copied only when its pointer differs from the last call's.
/// Both strings must stay valid while the call runs (module paths of live modules, literal call names).
void EnterCall(const char* module, const char* call);
/// Records that the call returned.
void LeaveCall();

/// Tells a watching parent the work is moving on without calling plug-in code (writing a file, say).
/// Steps and calls count as progress too. Allocates nothing.
void Beat();
/// A counter that moves with every step, call entered and beat (this process's area when null): a watcher that
/// sees it stand still for long knows the work is stuck.
std::uint32_t ReadProgress(const void* area = nullptr);

/// What an area holds. inCall is true when the last call entered did not return.
struct Snapshot {
    std::string step;
    std::string module;
    std::string call;
    bool inCall = false;
};

/// Reads an area (this process's when null). Safe on memory a dead process wrote: every text is
/// bounded and read with its terminator forced.
Snapshot Read(const void* area = nullptr);

/// One line for messages: `step "create", in effOpen of "/usr/lib/vst/x.so"`; empty when nothing is known.
std::string Describe(const Snapshot& snapshot);

/// Records a plug-in call for the lifetime of the object.
class CallScope {
public:
    CallScope(const char* module, const char* call) { EnterCall(module, call); }
    ~CallScope() { LeaveCall(); }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;
};

} // namespace kelcore::trail
