#pragma once
// A MIDI input through Web MIDI. The browser delivers the port's messages on the page's main
// thread; they go through the shared SysExAssembler, which hands on whole SysEx blocks.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "midi/driver.hpp"
#include "midi/sysex_assembler.hpp"

namespace tq5::midi {

class WebMidiInputDriver final : public InputDriver {
public:
    ~WebMidiInputDriver() override;

    std::uint32_t GetDeviceCount() override;
    std::string GetDeviceName(std::uint32_t index) override;
    bool Open(std::int32_t index, SysExBlockHandler handler) override;
    void Close() override;

private:
    std::mutex lock_;  // Open and Close
    std::uint32_t token_ = 0;
};

}  // namespace tq5::midi
