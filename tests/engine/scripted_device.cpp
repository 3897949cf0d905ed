#include "scripted_device.hpp"

#include <algorithm>

#include "protocol/codec.hpp"

namespace tq5::test {

Bytes StatusReply(std::uint8_t status) { return {0xF0, 0x52, 0x00, 0x6E, 0x00, status, 0xF7}; }

Bytes IdentityReplyOf(const protocol::DeviceId& id) {
    return {0xF0,  0x7E,  0x00, 0x06, 0x02, 0x52, id[0], id[1],
            id[2], id[3], 0x31, 0x30, 0x30, 0x30, 0xF7};
}

Bytes ReadReplyOf(const Bytes& data, bool corruptCrc) {
    const auto n = static_cast<std::int32_t>(data.size());
    Bytes m = {0xF0, 0x52, 0x00, 0x6E, 0x60, 0x04, 0x30, 0x00, 0x00, 0x00, 0x00};
    protocol::EncodeTwoByteCount(n, &m[9]);
    Bytes packed(static_cast<std::size_t>(protocol::PackedLength(n)));
    protocol::PackPayload(packed.data(), data.data(), n);
    m.insert(m.end(), packed.begin(), packed.end());
    std::uint32_t crc = protocol::ComputeCrc32(data.data(), static_cast<std::uint32_t>(n));
    if (corruptCrc) crc ^= 1u;
    std::uint8_t septets[5];
    protocol::EncodeSeptetNumber(crc, septets);
    m.insert(m.end(), septets, septets + 5);
    m.push_back(0xF7);
    return m;
}

Request ParseRequest(const std::uint8_t* bytes, std::uint32_t length) {
    Request r;
    r.bytes.assign(bytes, bytes + length);
    if (length >= 6 && bytes[1] == 0x7E && bytes[3] == 0x06 && bytes[4] == 0x01) {
        r.kind = RequestKind::Identity;
    } else if (length >= 6 && bytes[1] == 0x52) {
        switch (bytes[4]) {
            case 0x00:
                r.kind = RequestKind::Answer;
                break;
            case 0x01:
                r.kind = RequestKind::EnterUpdate;
                break;
            case 0x04:
                r.kind = RequestKind::Finish;
                break;
            case 0x0A:
                r.kind = RequestKind::Erase;
                r.address = protocol::DecodeSeptetNumber(bytes + 5);
                r.size = protocol::DecodeSeptetNumber(bytes + 10);
                break;
            case 0x60:
                r.kind = RequestKind::Read;
                r.address = protocol::DecodeSeptetNumber(bytes + 6);
                r.size = protocol::DecodeSeptetNumber(bytes + 11);
                break;
            case 0x02: {
                r.kind = RequestKind::WriteBlock;
                r.address = protocol::DecodeSeptetNumber(bytes + 5);
                const std::int32_t n = protocol::DecodeTwoByteCount(bytes + 10);
                r.size = static_cast<std::uint32_t>(n);
                r.data.resize(r.size);
                protocol::UnpackPayload(r.data.data(), bytes + 12, protocol::PackedLength(n));
                break;
            }
            default:
                break;
        }
    }
    return r;
}

std::vector<Action> GoodDevice::operator()(const Request& request) const {
    switch (request.kind) {
        case RequestKind::Identity:
            return {{IdentityReplyOf(id)}};
        case RequestKind::EnterUpdate:
        case RequestKind::WriteBlock:
        case RequestKind::Finish:
        case RequestKind::Erase:
            return {{StatusReply(0)}};
        case RequestKind::Read: {
            const auto it = memory.find(request.address);
            return {{ReadReplyOf(it != memory.end() ? it->second : Bytes{0xFF, 0xFF, 0xFF, 0xFF})}};
        }
        case RequestKind::Answer:
        case RequestKind::Other:
            break;
    }
    return {};
}

ScriptedDevice::ScriptedDevice(engine::ReceiveQueue& queue)
    : queue_(queue), responder_(GoodDevice{}), delivery_([this] { DeliveryLoop(); }) {}

ScriptedDevice::~ScriptedDevice() {
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    delivery_.join();
}

void ScriptedDevice::SetResponder(Responder responder) {
    std::lock_guard guard(lock_);
    responder_ = std::move(responder);
}

bool ScriptedDevice::SendLong(const std::uint8_t* bytes, std::uint32_t length) {
    if (failSends.load()) return false;
    Request request = ParseRequest(bytes, length);
    Responder responder;
    {
        std::lock_guard guard(lock_);
        request.sendOfThis = 1 + static_cast<int>(std::count_if(
                                     requests_.begin(), requests_.end(),
                                     [&](const Request& r) { return r.bytes == request.bytes; }));
        requests_.push_back(request);
        responder = responder_;
    }
    std::vector<Action> actions = responder(request);
    const auto now = Clock::now();
    for (Action& action : actions) {
        if (action.delayMs == 0) {
            Deliver(action);
            continue;
        }
        std::lock_guard guard(lock_);
        pending_.emplace(now + std::chrono::milliseconds(action.delayMs), std::move(action));
    }
    wake_.notify_all();
    return true;
}

void ScriptedDevice::Deliver(Action& action) {
    if (action.run) {
        action.run();
    } else if (!action.reply.empty()) {
        queue_.Push(action.reply.data(), action.reply.size());
    }
}

void ScriptedDevice::DeliveryLoop() {
    std::unique_lock guard(lock_);
    while (!stopping_) {
        if (pending_.empty()) {
            wake_.wait(guard);
            continue;
        }
        const auto due = pending_.begin()->first;
        if (Clock::now() < due) {
            wake_.wait_until(guard, due);
            continue;
        }
        Action action = std::move(pending_.begin()->second);
        pending_.erase(pending_.begin());
        guard.unlock();
        Deliver(action);
        guard.lock();
    }
}

std::vector<Request> ScriptedDevice::Requests() const {
    std::lock_guard guard(lock_);
    return requests_;
}

std::vector<Request> ScriptedDevice::Requests(RequestKind kind) const {
    std::vector<Request> out;
    for (const Request& r : Requests()) {
        if (r.kind == kind) out.push_back(r);
    }
    return out;
}

Bytes ScriptedDevice::WrittenBytes(std::uint32_t address, std::uint32_t size) const {
    Bytes image(size, 0xFF);
    for (const Request& r : Requests(RequestKind::WriteBlock)) {
        if (r.address < address || r.address - address >= size) continue;
        const std::uint32_t at = r.address - address;
        const std::size_t count = std::min<std::size_t>(r.data.size(), size - at);
        std::copy_n(r.data.begin(), count, image.begin() + at);
    }
    return image;
}

}  // namespace tq5::test
