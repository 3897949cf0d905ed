#pragma once
// The reply dispatcher: one run drains every queued message in order of arrival, counts the
// status replies, hands each reply that answers the waiting request to it (stored, then
// signalled) and answers the device's own requests.
// Runs on the poll timer's thread; runs never overlap.

#include "engine/state/receive_queue.hpp"
#include "engine/state/update_context.hpp"

namespace tq5::engine {

// The dispatcher's answers to the device's own requests, with the current device byte, built
// in the caller's thread storage. An answer that cannot be sent is dropped: the dispatcher
// has nobody to tell, and the device's request goes unanswered as on a lost line.
// Acknowledge (status 0).
void SendAcknowledge(UpdateContext& context);
// Error reply with the given status (every caller passes 1).
void SendErrorReply(UpdateContext& context, std::uint8_t status);

// Interprets one received message.
void DispatchMessage(UpdateContext& context, const std::uint8_t* bytes, std::size_t length);

// One run of the dispatcher over the whole queue.
void DispatchReplies(UpdateContext& context, ReceivedSource& source);

}  // namespace tq5::engine
