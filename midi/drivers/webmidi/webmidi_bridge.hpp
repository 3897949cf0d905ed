#pragma once
// The meeting point of the Web MIDI drivers and the page's main thread, where the browser's
// MIDI objects live (webmidi_library.js).
//
// Every open port is an endpoint with a token of its own. The calls into the library run on
// the main thread (a thread of ours waits until they have); what the browser reports back
// (an open finished, bytes received) arrives on the main thread and reaches the endpoint
// through its token, under one lock. The main thread never waits for a thread of ours for
// longer than that lock is held, and no lock is held across a call into the library, so the
// two sides never wait for each other.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace tq5::midi::webmidi {

enum class PortKind : int { Input = 0, Output = 1 };

// How long an open may take before the port counts as one that cannot be opened.
inline constexpr std::uint32_t kOpenTimeoutMs = 5000;

// Receives the bytes of one input port as the browser delivers them, on the main thread.
using ByteSink = std::function<void(const std::uint8_t* bytes, std::size_t length)>;

// The ports of one kind the page can reach now; the list is taken again by every call, and
// the indexes of Name and Open refer to the last one taken.
std::uint32_t PortCount(PortKind kind);
// The port's name in the dialog's code page (Shift-JIS; characters it lacks become '?').
std::string PortName(PortKind kind, std::uint32_t index);

// Opens port `index` and waits until the browser has opened it. Returns the endpoint's
// token, 0 when the port cannot be opened. An input's bytes go to `sink` until Close.
// Not from the main thread, which could not wait for the browser.
std::uint32_t Open(PortKind kind, std::int32_t index, ByteSink sink);
// Once it returns, the endpoint's sink is not called again. Unknown tokens are ignored.
void Close(PortKind kind, std::uint32_t token);
// Hands one message to the browser, which copies it; false when the port is gone.
bool Send(std::uint32_t token, const std::uint8_t* bytes, std::uint32_t length);

}  // namespace tq5::midi::webmidi
