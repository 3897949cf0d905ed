#include "sim/virtual_device.hpp"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "protocol/device_messages.hpp"
#include "sim/device_core.hpp"
#include "sim/device_status.hpp"

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

bool IsReadReply(const Message& m) {
    return m.size() >= protocol::kReadReplyOverhead && m[1] == protocol::kManufacturerId &&
           m[4] == protocol::kCmdMemory && m[5] == protocol::kReadReplyMarker;
}

// Flips the lowest bit of the CRC's first septet: still a valid SysEx byte, wrong CRC.
void CorruptCrc(Message& m) {
    const auto n = static_cast<std::uint32_t>(protocol::DecodeTwoByteCount(m.data() + 9));
    const std::size_t at = protocol::ReadMemoryReplyCrcOffset(n);
    if (at < m.size()) m[at] ^= 0x01;
}

Message StrayFor(const Fault& fault, std::uint8_t deviceByte) {
    if (!fault.stray.empty()) return fault.stray;
    Message m(protocol::kDeviceCommandLength);
    protocol::BuildDeviceCommand(m.data(), deviceByte, protocol::kCmdIgnored);
    return m;
}

// A foreign manufacturer's SysEx message that lost its F7 on the way.
const Message kForeignUnterminated = {0xF0, 0x7D, 0x01, 0x02, 0x03};

constexpr std::uint8_t kClock = 0xF8;
constexpr std::uint8_t kSensing = 0xFE;

// Clock and active-sensing bytes, legal anywhere in a MIDI stream: three inside the message.
// (Those before and after it go as messages of their own, as a MIDI system carries them.)
Message WithRealTimeBytes(const Message& m) {
    Message out;
    for (std::size_t i = 0; i < m.size(); ++i) {
        if (i == 1 || i + 1 == m.size()) out.push_back(kClock);
        if (i == m.size() / 2) out.push_back(kSensing);
        out.push_back(m[i]);
    }
    return out;
}

// What the faults on one request do to its replies.
struct Reshaped {
    std::uint32_t delayMs = 0;          // all replies leave this much later
    std::vector<Message> lateCopies;    // go out again on a second route
    std::uint32_t lateCopyDelayMs = 0;  // after the replies
};

// Reshapes the replies to one request as `faults` say.
Reshaped ApplyFaults(const std::vector<Fault>& faults, const DeviceCore& core,
                     std::vector<Message>& replies, std::string& note) {
    Reshaped out;
    bool drop = false;
    bool duplicate = false;
    bool realTime = false;
    std::size_t splitAt = 0;
    std::vector<Message> strays;
    for (const Fault& fault : faults) {
        if (!note.empty()) note += ", ";
        note += FaultActionName(fault.action);
        switch (fault.action) {
            case FaultAction::DropReply:
                drop = true;
                break;
            case FaultAction::DelayReply:
                out.delayMs += fault.delayMs;
                break;
            case FaultAction::AnswerStatus:
            case FaultAction::LoseRequest:
            case FaultAction::RefuseLargeRead:
            case FaultAction::IgnoreLargeRead:
            case FaultAction::ReadInPieces:
            case FaultAction::FlipStoredBit:
                break;  // decided when the request was carried out
            case FaultAction::CorruptReadCrc:
                for (Message& m : replies) {
                    if (IsReadReply(m)) CorruptCrc(m);
                }
                break;
            case FaultAction::DuplicateReply:
                duplicate = true;
                break;
            case FaultAction::DuplicateLate:
                out.lateCopies = replies;
                out.lateCopyDelayMs = fault.delayMs;
                break;
            case FaultAction::SendStray:
                strays.push_back(StrayFor(fault, core.Id()[0]));
                break;
            case FaultAction::ForeignUnterminated:
                strays.push_back(kForeignUnterminated);
                break;
            case FaultAction::SendTruncated:
                for (Message& m : replies) {
                    const std::size_t keep =
                        fault.truncateTo != 0 ? fault.truncateTo : m.size() / 2;
                    m.resize(std::min(std::max<std::size_t>(keep, 1), m.size()));
                }
                break;
            case FaultAction::AnswerOtherId:
                for (Message& m : replies) m = core.IdentityReply(fault.otherId);
                break;
            case FaultAction::RealTimeBytes:
                realTime = true;
                break;
            case FaultAction::SplitReply:
                splitAt = fault.splitAt != 0 ? fault.splitAt : 3;
                break;
        }
    }
    if (duplicate) {
        const std::size_t n = replies.size();
        for (std::size_t i = 0; i < n; ++i) replies.push_back(replies[i]);
    }
    if (drop) {
        replies.clear();
        out.lateCopies.clear();
    }
    replies.insert(replies.begin(), strays.begin(), strays.end());
    if (realTime) {
        std::vector<Message> polluted;
        for (const Message& m : replies) {
            polluted.push_back({kClock});
            polluted.push_back(WithRealTimeBytes(m));
            polluted.push_back({kSensing});
        }
        replies = std::move(polluted);
    }
    if (splitAt != 0) {
        std::vector<Message> pieces;
        for (const Message& m : replies) {
            const std::size_t at =
                std::clamp<std::size_t>(splitAt, 1, std::max<std::size_t>(m.size(), 2) - 1);
            if (m.size() < 2) {
                pieces.push_back(m);
                continue;
            }
            pieces.emplace_back(m.begin(), m.begin() + static_cast<std::ptrdiff_t>(at));
            pieces.emplace_back(m.begin() + static_cast<std::ptrdiff_t>(at), m.end());
        }
        replies = std::move(pieces);
    }
    return out;
}

const Fault* FindAction(const std::vector<Fault>& faults, FaultAction action) {
    for (const Fault& fault : faults) {
        if (fault.action == action) return &fault;
    }
    return nullptr;
}

// Clears the lowest set bit of the first byte of a written block that has one: the flash
// then differs from what it acknowledged, as a weak cell would leave it.
void FlipStoredBit(FlashMemory& flash, const protocol::DeviceRequest& request) {
    const auto n = static_cast<std::uint32_t>(std::max(request.dataCount, 0));
    for (std::uint32_t i = 0; i < n && FlashMemory::InRange(request.address + i, 1); ++i) {
        std::uint8_t byte = flash.Data()[request.address + i];
        if (byte == 0) continue;
        byte = static_cast<std::uint8_t>(byte & (byte - 1));
        (void)flash.Load(request.address + i, &byte, 1);
        return;
    }
}

// The read-size limits that leave this request alone (a read no larger than the limit, or
// already one piece) are no faults on it: taken out, they leave no note in the transcript.
void DropLimitsThatDoNotApply(std::vector<Fault>& hits, const protocol::DeviceRequest& request) {
    std::erase_if(hits, [&](const Fault& fault) {
        const bool limit = fault.action == FaultAction::RefuseLargeRead ||
                           fault.action == FaultAction::IgnoreLargeRead ||
                           fault.action == FaultAction::ReadInPieces;
        return limit && request.size <= fault.bytes;
    });
}

Message UnsolicitedBytes(UnsolicitedMessage message, std::uint8_t deviceByte) {
    Message m(protocol::kDeviceCommandLength);
    switch (message) {
        case UnsolicitedMessage::IdentityRequest:
            protocol::BuildUniversalMessage(m.data(), protocol::kIdentityRequestSubId);
            break;
        case UnsolicitedMessage::UnknownUniversal:
            protocol::BuildUniversalMessage(m.data(), 0x03);
            break;
        case UnsolicitedMessage::Command01:
            protocol::BuildDeviceCommand(m.data(), deviceByte, protocol::kCmdEnterUpdate);
            break;
        case UnsolicitedMessage::Command03:
            protocol::BuildDeviceCommand(m.data(), deviceByte, protocol::kCmdIgnored);
            break;
        case UnsolicitedMessage::Command04:
            protocol::BuildDeviceCommand(m.data(), deviceByte, protocol::kCmdFinish);
            break;
        case UnsolicitedMessage::Command05:
            protocol::BuildDeviceCommand(m.data(), deviceByte, protocol::kCmdDeviceAcknowledged);
            break;
        case UnsolicitedMessage::UnknownCommand:
            protocol::BuildDeviceCommand(m.data(), deviceByte, 0x44);
            break;
    }
    return m;
}

}  // namespace

struct VirtualDevice::Impl {
    explicit Impl(const DeviceOptions& options)
        : core(options.id, options.mode),
          timing(options.timing),
          faults(options.seed),
          transcript(options.transcriptLimit),
          start(Clock::now()) {
        core.SetRevision(options.revision);
        core.SetFinishWithCompletionNotice(options.finishWithCompletionNotice);
        core.SetEarlyCompletionNotice(options.earlyCompletionNotice);
        core.SetStrictWrites(options.strictWrites);
        sim::InstallFirmware(core.Flash(), options.firmware);
        for (const Fault& fault : options.faults) faults.Add(fault);
        faults.SetRandom(options.randomFaults);
        inLineFree = start;
        outLineFree = start;
        busyUntil = start;
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

    void Record(Direction direction, Clock::time_point at, const Message& bytes,
                std::string note = {}) {
        TranscriptEntry entry{direction, at - start, bytes, std::move(note)};
        if (observerSet) observed.push_back(entry);
        transcript.Add(std::move(entry));
    }

    // Queues a message to go out once `ready` has passed and the line is free.
    void Send(Message bytes, Clock::time_point ready) {
        const Clock::time_point begin = std::max(ready, outLineFree);
        outLineFree = begin + LineTime(bytes.size());
        outbox.push_back({std::move(bytes), outLineFree});
    }

    void HandleIncoming(const Incoming& message, Clock::time_point now) {
        const protocol::DeviceRequest request =
            protocol::ParseRequest(message.bytes.data(), message.bytes.size());
        if (request.kind == protocol::RequestKind::StatusMessage ||
            request.kind == protocol::RequestKind::IdentityReply) {
            updaterAnswers.push_back(message.bytes);
            answersChanged.notify_all();
            Record(Direction::ToDevice, message.arrival, message.bytes);
            return;
        }
        std::string note;
        std::vector<Fault> hits;
        if (core.AddressedElsewhere(request)) {
            note = "not for this device";
        } else if (const auto type = RequestTypeOf(request.kind)) {
            hits = faults.Next(*type);
            DropLimitsThatDoNotApply(hits, request);
        }
        Response response;
        if (FindAction(hits, FaultAction::LoseRequest) != nullptr ||
            FindAction(hits, FaultAction::IgnoreLargeRead) != nullptr) {
            // Lost on the line, or a read the device will not answer: no answer comes.
        } else if (const Fault* refusal = FindAction(hits, FaultAction::AnswerStatus)) {
            response.messages.push_back(core.StatusMessage(refusal->status));
        } else if (FindAction(hits, FaultAction::RefuseLargeRead) != nullptr) {
            response.messages.push_back(core.StatusMessage(kStatusBadRange));
        } else if (const Fault* pieces = FindAction(hits, FaultAction::ReadInPieces)) {
            response = core.ReadMemory(request, pieces->bytes);
        } else {
            response = core.Handle(request);
            if (response.writtenBlocks == 1 &&
                FindAction(hits, FaultAction::FlipStoredBit) != nullptr) {
                FlipStoredBit(core.Flash(), request);
            }
        }
        const Reshaped reshaped = ApplyFaults(hits, core, response.messages, note);
        Record(Direction::ToDevice, message.arrival, message.bytes, std::move(note));
        busyUntil = now + WorkTime(response);
        const Clock::time_point ready = busyUntil + Scaled(reshaped.delayMs / 1000.0);
        for (Message& reply : response.messages) Send(std::move(reply), ready);
        // The copies take a route of their own: they hold up nothing on the device's line.
        const Clock::time_point copyDue = outLineFree + Scaled(reshaped.lateCopyDelayMs / 1000.0);
        for (const Message& copy : reshaped.lateCopies) {
            Outgoing out{copy, copyDue + LineTime(copy.size())};
            const auto at = std::upper_bound(
                secondRoute.begin(), secondRoute.end(), out.due,
                [](Clock::time_point due, const Outgoing& o) { return due < o.due; });
            secondRoute.insert(at, std::move(out));
        }
    }

    bool Idle() const {
        return inbox.empty() && outbox.empty() && secondRoute.empty() && observed.empty() &&
               !working;
    }

    // The next message due to leave, on the device's line or the second route.
    std::deque<Outgoing>* NextOut() {
        if (secondRoute.empty()) return outbox.empty() ? nullptr : &outbox;
        if (outbox.empty() || secondRoute.front().due < outbox.front().due) return &secondRoute;
        return &outbox;
    }

    // Runs the sink or the observer with the device's lock released.
    template <typename Call>
    void Unlocked(std::unique_lock<std::mutex>& lock, Call call) {
        working = true;
        lock.unlock();
        call();
        lock.lock();
        working = false;
    }

    void Run() {
        std::unique_lock lock(mutex);
        while (!stopping) {
            const Clock::time_point now = Clock::now();
            if (!observed.empty()) {
                std::vector<TranscriptEntry> entries;
                entries.swap(observed);
                Unlocked(lock, [&] {
                    std::lock_guard guard(observerMutex);
                    for (const TranscriptEntry& entry : entries) {
                        if (observer) observer(entry);
                    }
                });
            } else if (NextOut() != nullptr && NextOut()->front().due <= now) {
                std::deque<Outgoing>& line = *NextOut();
                Outgoing out = std::move(line.front());
                line.pop_front();
                Record(Direction::FromDevice, out.due, out.bytes);
                Unlocked(lock, [&] {
                    std::lock_guard guard(sinkMutex);
                    if (sink) sink(out.bytes.data(), out.bytes.size());
                });
            } else if (!inbox.empty() && std::max(inbox.front().arrival, busyUntil) <= now) {
                const Incoming in = std::move(inbox.front());
                inbox.pop_front();
                HandleIncoming(in, now);
            } else {
                Clock::time_point wake = Clock::time_point::max();
                if (NextOut() != nullptr) wake = NextOut()->front().due;
                if (!inbox.empty()) {
                    wake = std::min(wake, std::max(inbox.front().arrival, busyUntil));
                }
                if (wake == Clock::time_point::max()) {
                    wakeUp.wait(lock);
                } else {
                    wakeUp.wait_until(lock, wake);
                }
                continue;
            }
            idle.notify_all();
        }
        idle.notify_all();
    }

    mutable std::mutex mutex;  // everything below but the sink and the observer
    std::condition_variable wakeUp;
    mutable std::condition_variable idle;
    mutable std::condition_variable answersChanged;
    DeviceCore core;
    DeviceTiming timing;
    FaultPlan faults;
    sim::Transcript transcript;
    std::vector<TranscriptEntry> observed;  // waiting for the observer
    bool observerSet = false;
    std::vector<Message> updaterAnswers;
    const Clock::time_point start;
    std::deque<Incoming> inbox;
    std::deque<Outgoing> outbox;
    std::deque<Outgoing> secondRoute;  // late copies, in order of their due times
    Clock::time_point inLineFree;
    Clock::time_point outLineFree;
    Clock::time_point busyUntil;
    bool working = false;  // the sink or the observer runs right now
    bool stopping = false;

    std::mutex sinkMutex;  // held while the sink runs, so replacing it waits for the call
    ReplySink sink;
    std::mutex observerMutex;
    TranscriptObserver observer;

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
    Message copy = bytes != nullptr ? Message(bytes, bytes + length) : Message{};
    Clock::time_point arrival;
    {
        std::lock_guard guard(impl_->mutex);
        const Clock::time_point begin = std::max(Clock::now(), impl_->inLineFree);
        arrival = begin + impl_->LineTime(copy.size());
        impl_->inLineFree = arrival;
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
    const std::uint8_t* first = impl_->core.Flash().Data() + address;
    return std::vector<std::uint8_t>(first, first + length);
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

void VirtualDevice::AddFault(const Fault& fault) {
    std::lock_guard guard(impl_->mutex);
    impl_->faults.Add(fault);
}

void VirtualDevice::SetRandomFaults(const RandomFaults& random) {
    std::lock_guard guard(impl_->mutex);
    impl_->faults.SetRandom(random);
}

void VirtualDevice::ClearFaults() {
    std::lock_guard guard(impl_->mutex);
    impl_->faults.Clear();
}

std::uint32_t VirtualDevice::RequestCount(RequestType type) const {
    std::lock_guard guard(impl_->mutex);
    return impl_->faults.Count(type);
}

void VirtualDevice::SendUnsolicited(UnsolicitedMessage message) {
    std::lock_guard guard(impl_->mutex);
    impl_->Send(UnsolicitedBytes(message, impl_->core.Id()[0]), Clock::now());
    impl_->wakeUp.notify_all();
}

void VirtualDevice::SendRaw(const std::vector<std::uint8_t>& bytes) {
    std::lock_guard guard(impl_->mutex);
    impl_->Send(bytes, Clock::now());
    impl_->wakeUp.notify_all();
}

std::vector<std::vector<std::uint8_t>> VirtualDevice::UpdaterAnswers() const {
    std::lock_guard guard(impl_->mutex);
    return impl_->updaterAnswers;
}

bool VirtualDevice::WaitForUpdaterAnswers(std::size_t count,
                                          std::chrono::milliseconds limit) const {
    std::unique_lock lock(impl_->mutex);
    return impl_->answersChanged.wait_for(lock, limit,
                                          [&] { return impl_->updaterAnswers.size() >= count; });
}

std::vector<TranscriptEntry> VirtualDevice::Transcript() const {
    std::lock_guard guard(impl_->mutex);
    return impl_->transcript.Entries();
}

void VirtualDevice::ClearTranscript() {
    std::lock_guard guard(impl_->mutex);
    impl_->transcript.Clear();
}

void VirtualDevice::SetTranscriptObserver(TranscriptObserver observer) {
    std::lock_guard observerGuard(impl_->observerMutex);
    std::lock_guard guard(impl_->mutex);
    impl_->observerSet = static_cast<bool>(observer);
    impl_->observer = std::move(observer);
}

}  // namespace tq5::sim
