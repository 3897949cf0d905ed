#pragma once
// A device stand-in that answers each request the way a test scripts it: any reply, after
// any delay, any number of times, or an action instead (e.g. the window closing). Precise
// sequences (31 time-outs then success, a NAK on the 7th erase, a reply that arrives during
// the retry pause) are easier to state here than as faults of the virtual device.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/seams/sysex_output.hpp"
#include "engine/state/receive_queue.hpp"
#include "protocol/messages.hpp"
#include "support/bytes.hpp"

namespace tq5::test {

enum class RequestKind { Identity, EnterUpdate, WriteBlock, Finish, Erase, Read, Answer, Other };

struct Request {
    RequestKind kind = RequestKind::Other;
    Bytes bytes;
    std::uint32_t address = 0;  // erase, write, read
    std::uint32_t size = 0;     // erase: bytes; write: data bytes; read: count
    Bytes data;                 // write: the unpacked block
    int sendOfThis = 1;         // how often this very request (same bytes) has been sent so far
};

// What the device does about one request: a reply (or an action) after a delay.
struct Action {
    Action(Bytes replyBytes, int delay = 0) : reply(std::move(replyBytes)), delayMs(delay) {}
    // Runs `what` when due instead of sending a reply.
    static Action Do(int delay, std::function<void()> what) {
        Action a({}, delay);
        a.run = std::move(what);
        return a;
    }

    Bytes reply;  // pushed to the receive queue when due
    int delayMs = 0;
    std::function<void()> run;
};
using Responder = std::function<std::vector<Action>(const Request&)>;

Bytes StatusReply(std::uint8_t status);
Bytes IdentityReplyOf(const protocol::DeviceId& id);
Bytes ReadReplyOf(const Bytes& data, bool corruptCrc = false);
Request ParseRequest(const std::uint8_t* bytes, std::uint32_t length);

// A device that answers everything correctly: id 6E 00 05 00, status 0 to every command, and
// memory reads from `memory` (address -> four bytes; erased flash where nothing is set).
struct GoodDevice {
    GoodDevice() = default;
    explicit GoodDevice(protocol::DeviceId deviceId, std::map<std::uint32_t, Bytes> contents = {})
        : id(deviceId), memory(std::move(contents)) {}

    protocol::DeviceId id{0x6E, 0x00, 0x05, 0x00};
    std::map<std::uint32_t, Bytes> memory;
    std::vector<Action> operator()(const Request& request) const;
};

class ScriptedDevice final : public engine::SysExOutput {
public:
    explicit ScriptedDevice(engine::ReceiveQueue& queue);
    ~ScriptedDevice() override;

    void SetResponder(Responder responder);
    bool SendLong(const std::uint8_t* bytes, std::uint32_t length) override;

    std::vector<Request> Requests() const;
    std::vector<Request> Requests(RequestKind kind) const;
    // The image as the write requests to [address, address + size) carried it, the latest
    // send of each block winning; unwritten bytes stay 0xFF.
    Bytes WrittenBytes(std::uint32_t address, std::uint32_t size) const;

    std::atomic<bool> failSends{false};

private:
    using Clock = std::chrono::steady_clock;
    struct Pending {
        Clock::time_point due;
        Action action;
    };
    void Deliver(Action& action);
    void DeliveryLoop();

    engine::ReceiveQueue& queue_;
    mutable std::mutex lock_;
    std::condition_variable wake_;
    Responder responder_;
    std::vector<Request> requests_;
    std::multimap<Clock::time_point, Action> pending_;
    bool stopping_ = false;
    std::thread delivery_;
};

}  // namespace tq5::test
