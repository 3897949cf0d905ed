#pragma once
// What the last procedure exchanged with the device, kept for a report that a user can send
// to the maker's support: the last kKept exchanges one by one (when, what was asked, what
// came back and how long it took) and, for each step of the procedure, its time, requests,
// resends, refusals, waits that ended without an answer, surplus and late replies. Kinds,
// addresses, sizes and statuses only: never a byte of the firmware.
//
// Everything is noted where it happens: the request where it is sent (UpdateContext::SendSysEx),
// the reply where it is dispatched, the verdict where the reply ledger gives it, a wait that
// ended empty where the step waits. Noting costs one short lock and a few stores in fixed
// storage, so the dispatcher still allocates nothing and an update takes no longer.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "engine/outcome.hpp"
#include "engine/state/version_strings.hpp"
#include "protocol/messages.hpp"

namespace tq5::engine {

inline constexpr std::size_t kPhaseCount = static_cast<std::size_t>(Phase::Versions) + 1;

// What started an exchange: a request of the updater's, a message of the device's own that
// the updater answered (or ignored), or a reply that came with no request out.
enum class ExchangeKind : std::uint8_t {
    IdentityRequest,
    EnterUpdate,
    Erase,
    WriteBlock,
    ReadMemory,
    Finish,
    OtherRequest,           // a message of the updater's that fits none of the above
    DeviceCommand,          // the device's commands 0x01, 0x04, 0x05 (acknowledged)
    DeviceIdentityRequest,  // answered with the updater's own identity reply
    DeviceUnknown,          // a command or universal message the updater does not know
    Unasked,                // a reply before any request of the procedure
};

// The first answer an exchange got.
enum class ExchangeAnswer : std::uint8_t {
    None,           // none (yet)
    SendFailed,     // the request (or the updater's answer) never left
    Status,         // a status reply: `status`
    Completion,     // the device's completion notice
    Identity,       // the device's identity reply
    ReadData,       // a read reply that passed its checks
    ReadFailed,     // a read reply that failed them
    ReadOther,      // a read reply of another kind (signals, carries nothing)
    Acknowledged,   // the updater's acknowledgement of a device message
    ErrorReply,     // the updater's error reply to a device message
    IdentityReply,  // the updater's identity reply to the device's request
};

struct ExchangeRecord {
    std::uint32_t number = 0;  // 1 for the procedure's first exchange
    std::int64_t atUs = 0;     // when it began, from the procedure's start
    ExchangeKind kind = ExchangeKind::Unasked;
    Phase phase = Phase::Identify;
    bool hasAddress = false;  // erase, write and read requests carry an address and a size
    std::uint32_t address = 0;
    std::uint32_t size = 0;  // bytes erased, written (data bytes) or asked for
    ExchangeAnswer answer = ExchangeAnswer::None;
    std::uint8_t status = 0;    // Status: the value
    std::int64_t waitUs = -1;   // to the first answer, or until the wait for it ended; -1: neither
    std::uint16_t replies = 0;  // replies that came while this was the latest request
    bool resend = false;        // the same request as the one before it
    bool gaveUp = false;        // a wait for its answer ended without one
    std::uint8_t surplus = 0;   // replies the ledger found owed to no request
    std::uint8_t late = 0;      // of those, answers to requests already given up for lost
};

struct PhaseRecord {
    bool entered = false;
    std::int64_t timeUs = 0;
    std::uint32_t requests = 0;
    std::uint32_t resends = 0;
    std::uint32_t sendFailures = 0;
    std::uint32_t timeouts = 0;  // waits that ended without an answer
    std::uint32_t refusals = 0;  // status replies with a failure status
    std::uint32_t surplus = 0;
    std::uint32_t late = 0;
    std::array<std::uint32_t, 256> refusedWith{};  // refusals by status value
};

// The device's identity and version fields, where the procedure read them.
struct DeviceFacts {
    bool identified = false;
    protocol::DeviceId id{};
    std::array<bool, 3> versionRead{};  // by VersionSlot
    std::array<std::array<std::uint8_t, 4>, 3> versions{};
};

struct TrafficRecord {
    std::chrono::system_clock::time_point began{};
    std::int64_t durationUs = 0;       // from the procedure's start to the snapshot
    std::uint32_t exchanges = 0;       // in all; the last ones are in `last`
    std::vector<ExchangeRecord> last;  // oldest first
    std::array<PhaseRecord, kPhaseCount> phases{};
    DeviceFacts device;
};

class ExchangeLog {
public:
    static constexpr std::size_t kKept = 100;

    ExchangeLog() { Begin(); }

    // A procedure starts: what came before it is dropped.
    void Begin();
    // The procedure has come to `phase` (erase, write and finish requests say so themselves).
    void EnterPhase(Phase phase);

    // A message is about to be sent (before it leaves: the answer may come first), and it
    // could not be sent.
    void NoteSending(const std::uint8_t* bytes, std::size_t length);
    void NoteSendFailed();
    // A wait for the answer to the latest request ended without one.
    void NoteNoAnswer();
    // The dispatcher took a message from the device.
    void NoteReceived(const protocol::ClassifiedMessage& message);
    // The reply ledger found the status reply just received owed to no request; `late` when
    // its request had been given up for lost.
    void NoteUnowedReply(bool late);
    // A version field read from the device.
    void NoteDeviceVersion(VersionSlot slot, const std::uint8_t* field);

    TrafficRecord Snapshot() const;

private:
    using Clock = std::chrono::steady_clock;

    std::int64_t NowUs() const;
    ExchangeRecord& Add(ExchangeKind kind);
    ExchangeRecord* Find(std::uint32_t number);
    void Switch(Phase phase, std::int64_t nowUs);
    PhaseRecord& Current() { return phases_[static_cast<std::size_t>(phase_)]; }
    void Answer(ExchangeRecord& record, ExchangeAnswer answer, std::uint8_t status);

    mutable std::mutex lock_;
    Clock::time_point began_{};
    std::chrono::system_clock::time_point beganWall_{};
    std::array<ExchangeRecord, kKept> ring_{};
    std::uint32_t count_ = 0;        // exchanges since Begin; ring_[(n - 1) % kKept] is n
    std::uint32_t lastRequest_ = 0;  // the updater's latest request; 0: none
    std::uint32_t lastDevice_ = 0;   // the device's latest message that the updater answers
    std::uint32_t lastSent_ = 0;     // what the latest send belongs to
    Phase phase_ = Phase::Identify;
    std::int64_t phaseSinceUs_ = 0;
    std::array<PhaseRecord, kPhaseCount> phases_{};
    DeviceFacts device_;
};

}  // namespace tq5::engine
