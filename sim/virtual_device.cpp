#include "sim/virtual_device.hpp"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "protocol/device_messages.hpp"
#include "sim/device_core.hpp"

namespace tq5::sim {
namespace {

using Clock = VirtualDevice::Clock;

struct Incoming {
    Message bytes;
    Clock::time_point arrival;  // when its last byte is in
};

struct Outgoing {
    Message bytes;
    Clock::time_point due;  // when its last byte reaches the updater
};

}  // namespace

struct VirtualDevice::Impl {
    explicit Impl(const DeviceOptions& options)
        : core(options.id, options.mode), timing(options.timing) {
        core.SetRevision(options.revision);
        core.SetFinishWithCompletionNotice(options.finishWithCompletionNotice);
        sim::InstallFirmware(core.Flash(), options.firmware);
        const Clock::time_point now = Clock::now();
        inLineFree = now;
        outLineFree = now;
        busyUntil = now;
    }

    Clock::duration Scaled(double seconds) const {
        return std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(seconds * timing.scale));
    }
    Clock::duration LineTime(std::size_t length) const {
        if (timing.lineBytesPerSecond == 0) return Clock::duration::zero();
        return Scaled(static_cast<double>(length) / timing.lineBytesPerSecond);
    }
    Clock::duration WorkTime(const Response& response) const {
        const double ms = static_cast<double>(response.erasedSectors) * timing.eraseMsPerSector +
                          static_cast<double>(response.writtenBlocks) * timing.writeMsPerBlock;
        return Scaled(ms / 1000.0);
    }

    // Queues a message to go out once `ready` has passed and the line is free.
    void Send(Message bytes, Clock::time_point ready) {
        const Clock::time_point start = std::max(ready, outLineFree);
        outLineFree = start + LineTime(bytes.size());
        outbox.push_back({std::move(bytes), outLineFree});
    }

    void HandleIncoming(Incoming message, Clock::time_point now) {
        const protocol::DeviceRequest request =
            protocol::ParseRequest(message.bytes.data(), message.bytes.size());
        Response response = core.Handle(request);
        busyUntil = now + WorkTime(response);
        for (Message& reply : response.messages) Send(std::move(reply), busyUntil);
    }

    bool Idle() const { return inbox.empty() && outbox.empty() && !working; }

    void Run() {
        std::unique_lock lock(mutex);
        while (!stopping) {
            const Clock::time_point now = Clock::now();
            if (!outbox.empty() && outbox.front().due <= now) {
                Outgoing out = std::move(outbox.front());
                outbox.pop_front();
                working = true;
                lock.unlock();
                {
                    std::lock_guard sinkGuard(sinkMutex);
                    if (sink) sink(out.bytes.data(), out.bytes.size());
                }
                lock.lock();
                working = false;
                idle.notify_all();
                continue;
            }
            if (!inbox.empty() && std::max(inbox.front().arrival, busyUntil) <= now) {
                Incoming in = std::move(inbox.front());
                inbox.pop_front();
                HandleIncoming(std::move(in), now);
                idle.notify_all();
                continue;
            }
            Clock::time_point wake = Clock::time_point::max();
            if (!outbox.empty()) wake = outbox.front().due;
            if (!inbox.empty()) wake = std::min(wake, std::max(inbox.front().arrival, busyUntil));
            if (wake == Clock::time_point::max()) {
                wakeUp.wait(lock);
            } else {
                wakeUp.wait_until(lock, wake);
            }
        }
    }

    mutable std::mutex mutex;  // everything below but the sink
    std::condition_variable wakeUp;
    std::condition_variable idle;
    DeviceCore core;
    DeviceTiming timing;
    std::deque<Incoming> inbox;
    std::deque<Outgoing> outbox;
    Clock::time_point inLineFree;
    Clock::time_point outLineFree;
    Clock::time_point busyUntil;
    bool working = false;  // a reply is in the sink right now
    bool stopping = false;

    std::mutex sinkMutex;  // held while the sink runs, so replacing it waits for the call
    ReplySink sink;

    std::thread thread;
};

VirtualDevice::VirtualDevice(DeviceOptions options) : impl_(std::make_unique<Impl>(options)) {
    impl_->thread = std::thread([this] { impl_->Run(); });
}

VirtualDevice::~VirtualDevice() {
    {
        std::lock_guard guard(impl_->mutex);
        impl_->stopping = true;
    }
    impl_->wakeUp.notify_all();
    impl_->thread.join();
}

void VirtualDevice::SetReplySink(ReplySink sink) {
    std::lock_guard guard(impl_->sinkMutex);
    impl_->sink = std::move(sink);
}

void VirtualDevice::Receive(const std::uint8_t* bytes, std::size_t length) {
    ReceiveOverLine(bytes, length);
}

VirtualDevice::Clock::time_point VirtualDevice::ReceiveOverLine(const std::uint8_t* bytes,
                                                                std::size_t length) {
    Clock::time_point arrival;
    {
        std::lock_guard guard(impl_->mutex);
        const Clock::time_point start = std::max(Clock::now(), impl_->inLineFree);
        arrival = start + impl_->LineTime(length);
        impl_->inLineFree = arrival;
        Message copy = bytes != nullptr ? Message(bytes, bytes + length) : Message{};
        impl_->inbox.push_back({std::move(copy), arrival});
    }
    impl_->wakeUp.notify_all();
    return arrival;
}

void VirtualDevice::WaitIdle() {
    std::unique_lock lock(impl_->mutex);
    impl_->idle.wait(lock, [this] { return impl_->Idle() || impl_->stopping; });
}

std::vector<std::uint8_t> VirtualDevice::ReadFlash(std::uint32_t address,
                                                   std::uint32_t length) const {
    std::lock_guard guard(impl_->mutex);
    if (!FlashMemory::InRange(address, length)) return {};
    const std::uint8_t* start = impl_->core.Flash().Data() + address;
    return std::vector<std::uint8_t>(start, start + length);
}

bool VirtualDevice::WriteFlash(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
    std::lock_guard guard(impl_->mutex);
    return impl_->core.Flash().Load(address, bytes.data(),
                                    static_cast<std::uint32_t>(bytes.size()));
}

void VirtualDevice::InstallFirmware(const InstalledFirmware& firmware) {
    std::lock_guard guard(impl_->mutex);
    sim::InstallFirmware(impl_->core.Flash(), firmware);
}

FlashState VirtualDevice::InspectFlash(const engine::FirmwareStore& images) const {
    std::lock_guard guard(impl_->mutex);
    return sim::InspectFlash(impl_->core.Flash(), images);
}

DeviceMode VirtualDevice::Mode() const {
    std::lock_guard guard(impl_->mutex);
    return impl_->core.Mode();
}

void VirtualDevice::SetMode(DeviceMode mode) {
    std::lock_guard guard(impl_->mutex);
    impl_->core.SetMode(mode);
}

protocol::DeviceId VirtualDevice::Id() const {
    std::lock_guard guard(impl_->mutex);
    return impl_->core.Id();
}

void VirtualDevice::SetDeviceId(const protocol::DeviceId& id) {
    std::lock_guard guard(impl_->mutex);
    impl_->core.SetId(id);
}

void VirtualDevice::SetTiming(const DeviceTiming& timing) {
    std::lock_guard guard(impl_->mutex);
    impl_->timing = timing;
}

}  // namespace tq5::sim
