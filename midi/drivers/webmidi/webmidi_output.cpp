#include "midi/drivers/webmidi/webmidi_output.hpp"

#include "midi/drivers/webmidi/webmidi_bridge.hpp"

namespace tq5::midi {

WebMidiOutputDriver::~WebMidiOutputDriver() { Close(); }

std::uint32_t WebMidiOutputDriver::GetDeviceCount() {
    return webmidi::PortCount(webmidi::PortKind::Output);
}

std::string WebMidiOutputDriver::GetDeviceName(std::uint32_t index) {
    return webmidi::PortName(webmidi::PortKind::Output, index);
}

bool WebMidiOutputDriver::Open(std::int32_t index) {
    std::lock_guard guard(lock_);
    if (token_.load() != 0) return false;
    token_.store(webmidi::Open(webmidi::PortKind::Output, index, nullptr));
    return token_.load() != 0;
}

void WebMidiOutputDriver::Close() {
    std::lock_guard guard(lock_);
    webmidi::Close(webmidi::PortKind::Output, token_.exchange(0));
}

bool WebMidiOutputDriver::Send(const std::uint8_t* bytes, std::uint32_t length,
                               std::uint32_t /*timeoutMs*/) {
    return webmidi::Send(token_.load(), bytes, length);
}

}  // namespace tq5::midi
