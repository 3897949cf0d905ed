#pragma once
// The reply dispatcher: one run drains every queued message in order of arrival, counts the
// status replies, hands each reply that answers the waiting request to it (stored, then
// signalled) and answers the device's own requests.
// Runs on the poll timer's thread; runs never overlap.

#include "engine/state/receive_queue.hpp"
#include "engine/state/update_context.hpp"

namespace tq5::engine {

// Acknowledge (status 0) with the current device byte, built in the caller's thread storage.
int SendAcknowledge(UpdateContext& context);
// Error reply with the given status (every caller passes 1).
int SendErrorReply(UpdateContext& context, std::uint8_t status);

// Interprets one received message.
void DispatchMessage(UpdateContext& context, const std::uint8_t* bytes, std::size_t length);

// One run of the dispatcher over the whole queue.
void DispatchReplies(UpdateContext& context, ReceivedSource& source);

}  // namespace tq5::engine
