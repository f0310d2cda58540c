// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/vst3/VST3PluginGate.h"

#include <pluginterfaces/gui/iplugview.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelaudiofilterhost::vst3 {

/// The run loop a Linux plug-in view asks its frame for: file-descriptor handlers and timers,
/// serviced by Service() on the user-interface thread. Each registration holds one reference to its
/// handler. A handler may register or unregister any handler, itself included, from inside its own
/// callback. addRef and release do nothing: the editor that embeds the loop owns it.
class VST3RunLoop : public Steinberg::Linux::IRunLoop {
public:
    /// owner answers queryInterface for the IDs the loop does not know (the frame); may be null.
    VST3RunLoop(const VST3PluginGate& gate, Steinberg::FUnknown* owner);
    virtual ~VST3RunLoop();

    VST3RunLoop(const VST3RunLoop&) = delete;
    VST3RunLoop& operator=(const VST3RunLoop&) = delete;

    /// Calls onFDIsSet for registered descriptors that are readable (without waiting), then onTimer for
    /// timers whose interval has passed since they last fired (or were registered).
    void Service();
    /// Releases every registration the plug-in left.
    void Clear();
    std::size_t GetEventHandlerCount() const { return mEventHandlers.size(); }
    std::size_t GetTimerCount() const { return mTimers.size(); }

    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID queried, void** object) override;
    Steinberg::uint32 PLUGIN_API addRef() override { return 1; }
    Steinberg::uint32 PLUGIN_API release() override { return 1; }

    Steinberg::tresult PLUGIN_API registerEventHandler(Steinberg::Linux::IEventHandler* handler,
                                                       Steinberg::Linux::FileDescriptor fd) override;
    /// Removes the handler from every descriptor it was registered for.
    Steinberg::tresult PLUGIN_API unregisterEventHandler(Steinberg::Linux::IEventHandler* handler) override;
    Steinberg::tresult PLUGIN_API registerTimer(Steinberg::Linux::ITimerHandler* handler,
                                                Steinberg::Linux::TimerInterval milliseconds) override;
    Steinberg::tresult PLUGIN_API unregisterTimer(Steinberg::Linux::ITimerHandler* handler) override;

private:
    using Clock = std::chrono::steady_clock;
    struct EventHandlerEntry {
        std::uint64_t serial;
        Steinberg::Linux::IEventHandler* handler;
        Steinberg::Linux::FileDescriptor fd;
    };
    struct TimerEntry {
        std::uint64_t serial;
        Steinberg::Linux::ITimerHandler* handler;
        Clock::duration interval;
        Clock::time_point due;
    };

    /// Drops a reference now, or after the current Service() when a callback is running.
    void ReleaseHandler(Steinberg::FUnknown* handler);
    void ServiceEventHandlers();
    void ServiceTimers();

    VST3PluginGate mGate;
    Steinberg::FUnknown* mOwner;
    std::vector<EventHandlerEntry> mEventHandlers;
    std::vector<TimerEntry> mTimers;
    std::uint64_t mNextSerial = 1;
    bool mServicing = false;
    std::vector<Steinberg::FUnknown*> mDeferredReleases;
};

} // namespace kelaudiofilterhost::vst3
