// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst3/VST3RunLoop.h"

#include "kelaudiofilterhost/services/Trace.h"

#include <poll.h>

#include <algorithm>

namespace kelaudiofilterhost::vst3 {

using namespace Steinberg;

namespace {

template <class Entry>
Entry* FindSerial(std::vector<Entry>& entries, std::uint64_t serial)
{
    const auto it = std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.serial == serial; });
    return it != entries.end() ? &*it : nullptr;
}

} // namespace

VST3RunLoop::VST3RunLoop(const VST3PluginGate& gate, FUnknown* owner) : mGate(gate), mOwner(owner) {}

VST3RunLoop::~VST3RunLoop()
{
    Clear();
}

tresult PLUGIN_API VST3RunLoop::queryInterface(const TUID queried, void** object)
{
    if (object == nullptr) {
        return kInvalidArgument;
    }
    if (FUnknownPrivate::iidEqual(queried, Linux::IRunLoop::iid)) {
        *object = static_cast<Linux::IRunLoop*>(this);
        return kResultOk;
    }
    if (mOwner != nullptr) {
        return mOwner->queryInterface(queried, object);
    }
    if (FUnknownPrivate::iidEqual(queried, FUnknown::iid)) {
        *object = static_cast<Linux::IRunLoop*>(this);
        return kResultOk;
    }
    *object = nullptr;
    return kNoInterface;
}

KAFH_VST3_PLUGIN_CALL tresult PLUGIN_API VST3RunLoop::registerEventHandler(Linux::IEventHandler* handler,
                                                                            Linux::FileDescriptor fd)
{
    if (handler == nullptr || fd < 0) {
        return kInvalidArgument;
    }
    mGate.Run("IEventHandler::addRef", [&]() KAFH_VST3_PLUGIN_CALL { handler->addRef(); });
    mEventHandlers.push_back({mNextSerial++, handler, fd});
    return kResultOk;
}

tresult PLUGIN_API VST3RunLoop::unregisterEventHandler(Linux::IEventHandler* handler)
{
    if (handler == nullptr) {
        return kInvalidArgument;
    }
    bool found = false;
    for (auto it = mEventHandlers.begin(); it != mEventHandlers.end();) {
        if (it->handler == handler) {
            it = mEventHandlers.erase(it);
            ReleaseHandler(handler);
            found = true;
        } else {
            ++it;
        }
    }
    return found ? kResultOk : kResultFalse;
}

KAFH_VST3_PLUGIN_CALL tresult PLUGIN_API VST3RunLoop::registerTimer(Linux::ITimerHandler* handler,
                                                                     Linux::TimerInterval milliseconds)
{
    if (handler == nullptr || milliseconds == 0) {
        return kInvalidArgument;
    }
    mGate.Run("ITimerHandler::addRef", [&]() KAFH_VST3_PLUGIN_CALL { handler->addRef(); });
    const auto interval = std::chrono::duration_cast<Clock::duration>(std::chrono::milliseconds(milliseconds));
    mTimers.push_back({mNextSerial++, handler, interval, Clock::now() + interval});
    return kResultOk;
}

tresult PLUGIN_API VST3RunLoop::unregisterTimer(Linux::ITimerHandler* handler)
{
    if (handler == nullptr) {
        return kInvalidArgument;
    }
    bool found = false;
    for (auto it = mTimers.begin(); it != mTimers.end();) {
        if (it->handler == handler) {
            it = mTimers.erase(it);
            ReleaseHandler(handler);
            found = true;
        } else {
            ++it;
        }
    }
    return found ? kResultOk : kResultFalse;
}

KAFH_VST3_PLUGIN_CALL void VST3RunLoop::ReleaseHandler(FUnknown* handler)
{
    // The handler may be the very object whose callback is running: keep it alive until that returns.
    if (mServicing) {
        mDeferredReleases.push_back(handler);
        return;
    }
    mGate.Run("IRunLoop handler release", [&]() KAFH_VST3_PLUGIN_CALL { handler->release(); });
}

void VST3RunLoop::Service()
{
    if (mServicing) {
        return;
    }
    mServicing = true;
    ServiceEventHandlers();
    ServiceTimers();
    mServicing = false;
    std::vector<FUnknown*> releases;
    releases.swap(mDeferredReleases);
    for (FUnknown* handler : releases) {
        ReleaseHandler(handler);
    }
}

KAFH_VST3_PLUGIN_CALL void VST3RunLoop::ServiceEventHandlers()
{
    if (mEventHandlers.empty()) {
        return;
    }
    // Callbacks may change the list: walk a snapshot and skip entries removed meanwhile.
    std::vector<std::uint64_t> serials;
    std::vector<pollfd> fds;
    for (const EventHandlerEntry& entry : mEventHandlers) {
        serials.push_back(entry.serial);
        fds.push_back({entry.fd, POLLIN, 0});
    }
    if (poll(fds.data(), fds.size(), 0) <= 0) {
        return;
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
        if ((fds[i].revents & POLLNVAL) != 0) {
            KAFH_TRACE("VST3PluginGate::Misbehaviour", 5,
                       "\"" << mGate.GetModulePath() << "\": run-loop descriptor " << fds[i].fd
                            << " is not open; its handler is not called");
            continue;
        }
        if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
            continue;
        }
        const EventHandlerEntry* entry = FindSerial(mEventHandlers, serials[i]);
        if (entry == nullptr) {
            continue;
        }
        Linux::IEventHandler* handler = entry->handler;
        const Linux::FileDescriptor fd = entry->fd;
        mGate.Run("IEventHandler::onFDIsSet", [&]() KAFH_VST3_PLUGIN_CALL { handler->onFDIsSet(fd); });
    }
}

KAFH_VST3_PLUGIN_CALL void VST3RunLoop::ServiceTimers()
{
    std::vector<std::uint64_t> serials;
    for (const TimerEntry& entry : mTimers) {
        serials.push_back(entry.serial);
    }
    for (const std::uint64_t serial : serials) {
        TimerEntry* entry = FindSerial(mTimers, serial);
        const Clock::time_point now = Clock::now();
        if (entry == nullptr || now < entry->due) {
            continue;
        }
        // From now, not from the missed due time: a slow idle must not make timers fire in bursts.
        entry->due = now + entry->interval;
        Linux::ITimerHandler* handler = entry->handler;
        mGate.Run("ITimerHandler::onTimer", [&]() KAFH_VST3_PLUGIN_CALL { handler->onTimer(); });
    }
}

void VST3RunLoop::Clear()
{
    std::vector<FUnknown*> left;
    for (const EventHandlerEntry& entry : mEventHandlers) {
        left.push_back(entry.handler);
    }
    for (const TimerEntry& entry : mTimers) {
        left.push_back(entry.handler);
    }
    mEventHandlers.clear();
    mTimers.clear();
    for (FUnknown* handler : left) {
        ReleaseHandler(handler);
    }
}

} // namespace kelaudiofilterhost::vst3
