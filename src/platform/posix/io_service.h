// The layer's stand-in for the part of Windows that finishes overlapped
// transfers: one thread that waits (poll) on the devices with pending
// transfers and event waits, advances them as bytes arrive, the output
// drains or time-outs expire, and reports their ends (OVERLAPPED results,
// events, completion routines queued to the issuing threads; see
// overlapped.h).
//
// Why a thread rather than finishing transfers lazily inside the waits:
// transfers then end when the device says so, as on Windows, whoever waits
// and however (an event wait on another thread, a poll of the OVERLAPPED,
// or no wait at all), and the time-outs hold without anyone waiting.
//
// The thread never runs code of the caller: completion routines run on
// their issuing threads, in alertable waits. It starts when a device first
// has a transfer that cannot end at once, and stops (and is joined) when the
// last such device is closed, so a library that is unloaded after closing
// its ports leaves no thread behind. A transfer that ends at once never
// involves it, so the synchronous reader ports never start it.
#pragma once

#include <memory>

namespace kavex::posix {

class CommDevice;

// Makes sure `device` is watched: its pending transfers are advanced from
// now on. Call it after queueing a transfer, without the device's locks.
// False when the thread cannot be started (no resources left).
bool WatchDevice(const std::shared_ptr<CommDevice>& device);

// Stops watching a device that is being closed; once it returns, the
// service holds no reference to it. Stops the thread when no device is left.
void ForgetDevice(const CommDevice* device);

}  // namespace kavex::posix
