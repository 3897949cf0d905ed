#pragma once
// MIDI output on JACK, on the client that the backend's drivers share.
//
// A send hands the caller's message to JACK's process thread, which copies it into the output
// port's buffer at its next cycle, and returns once that has happened: the bytes have left
// and the caller may reuse them. Its wait is bounded by the send's time-out, ends at once
// when the port closes on another thread or the server goes away, and never spins: it sleeps
// until the process thread or Close wakes it. A send that gives up withdraws its message, so
// a failed send never reaches the line later. After a send gave up because the client was
// not processed at all, further sends fail at once until a cycle has run again, so that a
// stalled server costs one time-out, not one per send.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>
#include <vector>

#include "midi/driver.hpp"
#include "midi/drivers/jack/jack_client.hpp"
#include "midi/drivers/jack/listed_names.hpp"

namespace tq5::midi {

class JackOutputDriver final : public OutputDriver, private JackClient::Processor {
public:
    explicit JackOutputDriver(std::shared_ptr<JackClient> client);
    ~JackOutputDriver() override;
    JackOutputDriver(const JackOutputDriver&) = delete;
    JackOutputDriver& operator=(const JackOutputDriver&) = delete;

    // The server's MIDI input ports, by full name.
    std::uint32_t GetDeviceCount() override;
    std::string GetDeviceName(std::uint32_t index) override;
    // Connects to the port of that index in the list as it was last read (the list the user
    // chose from), by its name.
    [[nodiscard]] bool Open(std::int32_t index) override;
    void Close() override;
    [[nodiscard]] bool Send(const std::uint8_t* bytes, std::uint32_t length,
                            std::uint32_t timeoutMs) override;

private:
    // Where the one message in flight stands between the sender and the process thread.
    enum Slot : int { kEmpty, kPosted, kTaking, kSent, kRefused };

    void Process(void* portBuffer) override;
    bool Withdraw();

    const std::shared_ptr<JackClient> client_;
    ListedNames listed_;  // the server's MIDI input ports

    std::mutex lifecycleLock_;  // Open and Close
    std::mutex sendLock_;       // one send at a time; Close waits here for a send to leave
    std::atomic<bool> open_{false};
    std::atomic<bool> closing_{false};
    std::counting_semaphore<> wake_{0};  // the process thread or Close has news for a send

    // The message in flight: written by the sender before it posts the slot, read by the
    // process thread only while the slot says kTaking.
    std::atomic<int> slot_{kEmpty};
    const std::uint8_t* pending_ = nullptr;
    std::uint32_t pendingLength_ = 0;

    std::atomic<std::uint64_t> cycles_{0};  // process cycles run while open
    std::atomic<bool> stalled_{false};      // a send gave up with no cycle taking its message
    std::atomic<std::uint64_t> stalledAt_{0};
};

}  // namespace tq5::midi
