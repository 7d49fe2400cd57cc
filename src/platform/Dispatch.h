#pragma once

// Sending and posting window messages between threads.

#include "platform/MessageTarget.h"

#include <cstdint>

namespace orvalink::platform {

// When the target lives on the calling thread, windowProc is called directly. Otherwise the
// message is queued to the target's thread and the caller blocks until it has been handled and
// returns its result. A target that is gone (destroyed, or its thread has ended) gives 0 at once
// and a sender is never left blocked when the target goes away with the message still queued.
// As with any synchronous message, a target whose thread is itself blocked waiting for the
// caller deadlocks: the program's threads never send to each other in both directions at once.
std::intptr_t sendMessage(MessageTarget* target, WindowMessage msg);

// Queues the message to the target's thread; false (and the message is dropped) when the target
// is gone.
bool postMessage(MessageTarget* target, WindowMessage msg);

// True while target is a live window (safe to call with a dangling pointer: the pointer is only
// looked up, never followed).
bool isWindow(const MessageTarget* target);

namespace detail {
// Called by a thread whose event loop has ended: every target living on it stops accepting
// messages and every message still queued to them is dropped (their senders get 0).
void retireTargetsOfCurrentThread();
} // namespace detail

} // namespace orvalink::platform
