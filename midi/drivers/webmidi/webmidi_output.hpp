#pragma once
// A MIDI output through Web MIDI. The browser's send() copies the message and paces it onto
// the line itself, so a send never waits for the line: it returns once the browser has the
// bytes (the time-out has nothing to bound).

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "midi/driver.hpp"

namespace tq5::midi {

class WebMidiOutputDriver final : public OutputDriver {
public:
    ~WebMidiOutputDriver() override;

    std::uint32_t GetDeviceCount() override;
    std::string GetDeviceName(std::uint32_t index) override;
    bool Open(std::int32_t index) override;
    void Close() override;
    bool Send(const std::uint8_t* bytes, std::uint32_t length, std::uint32_t timeoutMs) override;

private:
    std::mutex lock_;  // Open and Close
    // Read by Send without the lock: a send racing a close reaches a port the library has
    // already let go, and fails.
    std::atomic<std::uint32_t> token_{0};
};

}  // namespace tq5::midi
