#pragma once
// Drives a VirtualDevice with the updater's builders and collects what it sends back.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "protocol/messages.hpp"
#include "sim/virtual_device.hpp"
#include "support/bytes.hpp"

namespace tq5::test {

inline constexpr std::uint8_t kDev = 0x6E;

// The updater's requests, built by the updater's own builders.
inline Bytes IdentityRequest() {
    Bytes m(protocol::kIdentityRequestLength);
    protocol::BuildIdentityRequest(m.data());
    return m;
}
inline Bytes EnterUpdate(std::uint8_t dev = kDev) {
    Bytes m(protocol::kShortRequestLength);
    protocol::BuildEnterUpdateRequest(m.data(), dev);
    return m;
}
inline Bytes Finish(std::uint8_t dev = kDev) {
    Bytes m(protocol::kShortRequestLength);
    protocol::BuildFinishRequest(m.data(), dev);
    return m;
}
inline Bytes Erase(std::uint32_t address, std::uint32_t size, std::uint8_t dev = kDev) {
    Bytes m(protocol::kEraseRequestLength);
    protocol::BuildEraseRequest(m.data(), dev, static_cast<std::int32_t>(address),
                                static_cast<std::int32_t>(size));
    return m;
}
inline Bytes WriteBlock(std::uint32_t address, const std::uint8_t* data, std::int32_t n,
                        std::uint8_t dev = kDev) {
    Bytes m(protocol::WriteBlockRequestLength(n));
    m.resize(protocol::BuildWriteBlockRequest(m.data(), dev, data,
                                              static_cast<std::int32_t>(address), n));
    return m;
}
inline Bytes WriteBlock(std::uint32_t address, const Bytes& data, std::uint8_t dev = kDev) {
    return WriteBlock(address, data.data(), static_cast<std::int32_t>(data.size()), dev);
}
inline Bytes ReadMemory(std::uint32_t address, std::uint32_t count, std::uint8_t dev = kDev) {
    Bytes m(protocol::kReadMemoryRequestLength);
    protocol::BuildReadMemoryRequest(m.data(), dev, address, count);
    return m;
}
inline Bytes Status(std::uint8_t status, std::uint8_t dev = kDev) {
    Bytes m(protocol::kStatusMessageLength);
    protocol::BuildStatusMessage(m.data(), dev, status);
    return m;
}

// Thread-safe record of the device's replies.
class ReplyCollector {
public:
    sim::VirtualDevice::ReplySink Sink() {
        return [this](const std::uint8_t* bytes, std::size_t length) {
            {
                std::lock_guard guard(lock_);
                replies_.emplace_back(bytes, bytes + length);
            }
            changed_.notify_all();
        };
    }

    // Waits (bounded, to catch a hang) until at least `count` replies have come.
    std::vector<Bytes> WaitFor(std::size_t count,
                               std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::unique_lock lock(lock_);
        changed_.wait_for(lock, limit, [&] { return replies_.size() >= count; });
        return replies_;
    }

    std::vector<Bytes> Take() {
        std::lock_guard guard(lock_);
        std::vector<Bytes> out;
        out.swap(replies_);
        return out;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Bytes> replies_;
};

// A device with its replies collected; Exchange sends one request and returns what came back.
struct DeviceHarness {
    explicit DeviceHarness(sim::DeviceOptions options = {}) : device(options) {
        device.SetReplySink(replies.Sink());
    }

    std::vector<Bytes> Exchange(const Bytes& request) {
        device.Receive(request.data(), request.size());
        device.WaitIdle();
        return replies.Take();
    }

    // The status of the one StatusMessage a request got; -1 when the answer was anything else.
    int StatusOf(const Bytes& request) {
        const std::vector<Bytes> got = Exchange(request);
        if (got.size() != 1 || got[0].size() != protocol::kStatusMessageLength || got[0][4] != 0) {
            return -1;
        }
        return got[0][5];
    }

    ReplyCollector replies;
    sim::VirtualDevice device;
};

}  // namespace tq5::test
