#pragma once
// The stop-and-wait exchange that every procedure step is made of, and the common way a step
// reports a failure.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/host.hpp"
#include "engine/update_context.hpp"

namespace tq5::engine {

// Clears any pending reply signal, then sends. A reply that arrived for an earlier request
// (late, or duplicated) is thereby never taken as the answer to this one. 0 / -1; -1 without
// sending once the window is closing.
int SendRequest(UpdateContext& context, const std::uint8_t* bytes, std::size_t length);

// Waits at most `timeoutMs` for the next reply and returns its status code, or nothing on a
// time-out. Once the window is closing the answer is kStatusClosing, at once and whatever
// the wait did, so every wait ends quietly.
std::optional<std::int32_t> AwaitReply(UpdateContext& context, std::uint32_t timeoutMs);

// A pause between exchanges; cut short when the window starts closing, so that a worker the
// window waits for ends promptly.
void Pause(const UpdateContext& context, std::uint32_t ms);

// Error box with the text of string `stringId`, then ReleaseControls. Returns -1.
int ReportFailure(Host& host, int stringId);

// Fills each "%d" of one of the system's own formats with the next number, in order.
std::string FormatNumbers(std::string_view format, std::int64_t first, std::int64_t second = 0);

}  // namespace tq5::engine
