#pragma once
// What a MIDI backend provides to the ports: list devices, open one, deliver received SysEx
// blocks on its own thread, send one SysEx message. Everything that every platform shares
// (running flag, device index, receive queue, open/close rules) lives in the ports instead.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tq5::midi {

// Size of the one receive buffer: longer SysEx messages arrive as several blocks, only the
// first beginning with 0xF0.
inline constexpr std::size_t kInputBlockSize = 8192;
// The dialog's port lists show device names bounded to this many bytes, terminator
// included (the command line lists them whole).
inline constexpr std::size_t kDeviceNameSize = 40;
// A send whose bytes the driver never finishes gives up after this long. 4,700 bytes need
// about 1.5 s on a 31,250-baud line.
inline constexpr std::uint32_t kSendTimeoutMs = 10000;

// Receives one SysEx block (at most kInputBlockSize bytes) on the driver's thread.
using SysExBlockHandler = std::function<void(const std::uint8_t* bytes, std::size_t length)>;

class InputDriver {
public:
    virtual ~InputDriver() = default;
    virtual std::uint32_t GetDeviceCount() = 0;
    // The device's name; empty when it can't be read. The port bounds it.
    virtual std::string GetDeviceName(std::uint32_t index) = 0;
    // Opens device `index` (-1 and other out-of-range values are passed on unchanged and
    // normally refused) and starts delivering SysEx blocks. Short messages are dropped here.
    [[nodiscard]] virtual bool Open(std::int32_t index, SysExBlockHandler handler) = 0;
    // Stops delivery; once it returns the handler is never called again.
    virtual void Close() = 0;
    // Why the last Open failed, in words for the user (a device another program holds, one
    // this user may not open); empty when the port's own message says all there is.
    virtual std::string OpenProblem() { return {}; }
    // True once the device open last has vanished (a USB MIDI device unplugged), until the
    // next Open. Any thread.
    virtual bool DeviceGone() { return false; }
};

// Send runs on the worker's or the dispatcher's thread (one at a time: the port serialises
// them) while Open and Close may run on another thread, so a driver guards its own state.
class OutputDriver {
public:
    virtual ~OutputDriver() = default;
    virtual std::uint32_t GetDeviceCount() = 0;
    virtual std::string GetDeviceName(std::uint32_t index) = 0;
    [[nodiscard]] virtual bool Open(std::int32_t index) = 0;
    virtual void Close() = 0;
    // Sends one whole SysEx message and returns when the driver has finished with the bytes
    // (the caller may then reuse them); false on failure, when no device is open, or when the
    // driver has not finished within timeoutMs. Close() on another thread ends a waiting send
    // (false); the driver must not go on reading the caller's bytes after Send returns.
    [[nodiscard]] virtual bool Send(const std::uint8_t* bytes, std::uint32_t length,
                                    std::uint32_t timeoutMs) = 0;
    // As InputDriver's.
    virtual std::string OpenProblem() { return {}; }
    virtual bool DeviceGone() { return false; }
    // True when Send returns once the system holds the message, before its bytes have left
    // the computer (a kernel's or a server's buffer sends them on at the line's pace), as the
    // ALSA sequencer, JACK and Web MIDI do. The waits for an answer then count the message's
    // time on a 31,250-baud line too. False when Send returns only once the bytes are out.
    virtual bool SendReturnsBeforeLineTime() const { return true; }
};

// One MIDI backend (virtual, ALSA, JACK, WinMM): makes the drivers for the two ports.
class MidiBackend {
public:
    virtual ~MidiBackend() = default;
    virtual std::unique_ptr<InputDriver> CreateInput() = 0;
    virtual std::unique_ptr<OutputDriver> CreateOutput() = 0;
};

}  // namespace tq5::midi
