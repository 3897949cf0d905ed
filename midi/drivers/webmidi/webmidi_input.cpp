#include "midi/drivers/webmidi/webmidi_input.hpp"

#include "midi/drivers/webmidi/webmidi_bridge.hpp"

namespace tq5::midi {

WebMidiInputDriver::~WebMidiInputDriver() { Close(); }

std::uint32_t WebMidiInputDriver::GetDeviceCount() {
    return webmidi::PortCount(webmidi::PortKind::Input);
}

std::string WebMidiInputDriver::GetDeviceName(std::uint32_t index) {
    return webmidi::PortName(webmidi::PortKind::Input, index);
}

bool WebMidiInputDriver::Open(std::int32_t index, SysExBlockHandler handler) {
    std::lock_guard guard(lock_);
    if (token_ != 0) return false;
    // The assembler lives with the endpoint: only the main thread feeds it, and a new open
    // starts with a clean one, whatever the last port left half-received.
    auto assembler = std::make_shared<SysExAssembler>(std::move(handler));
    token_ = webmidi::Open(webmidi::PortKind::Input, index,
                           [assembler](const std::uint8_t* bytes, std::size_t length) {
                               assembler->Feed(bytes, length);
                           });
    return token_ != 0;
}

void WebMidiInputDriver::Close() {
    std::lock_guard guard(lock_);
    webmidi::Close(webmidi::PortKind::Input, token_);
    token_ = 0;
}

}  // namespace tq5::midi
