#pragma once
// The faults the virtual TQ-5 commits on purpose: scripted by request type and ordinal ("the
// 3rd write block"), or drawn at random from a seed. The plan only decides which faults hit
// a request; VirtualDevice carries them out.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "protocol/device_messages.hpp"

namespace tq5::sim {

// The requests the updater sends, the ones faults can be attached to.
enum class RequestType { IdentityRequest, EnterUpdate, Finish, Erase, WriteBlock, ReadMemory };
inline constexpr std::size_t kRequestTypeCount = 6;

// The type of a well-formed request; none for anything else.
std::optional<RequestType> RequestTypeOf(protocol::RequestKind kind);

enum class FaultAction {
    DropReply,            // carried out, but the reply never leaves
    DelayReply,           // the reply leaves delayMs later (scaled like every device time)
    AnswerStatus,         // not carried out: a StatusMessage with `status` answers instead
    CorruptReadCrc,       // read replies: one bit of the CRC flipped
    DuplicateReply,       // the reply is sent twice
    SendStray,            // `stray` (default F0 52 00 dev 03 F7) goes out before the reply
    SendTruncated,        // the reply is cut to `truncateTo` bytes (default half), without its F7
    AnswerOtherId,        // identity requests: the reply carries `otherId`
    DuplicateLate,        // a copy of the reply follows it delayMs later (two routes, a merge)
    RealTimeBytes,        // clock and active-sensing bytes inside the reply and around it
    SplitReply,           // the reply leaves as two MIDI events, the first `splitAt` bytes long
    ForeignUnterminated,  // a foreign SysEx that lost its F7 goes out before the reply
    LoseRequest,          // the request is lost on its way: never seen, never answered
    // What a device may serve of a read (read requests only; reads of `bytes` or fewer are
    // served as usual), and a flash that does not keep what it was given. Properties of a
    // device rather than accidents of a link: never drawn at random.
    RefuseLargeRead,  // a read of more bytes is refused with a status reply (status 4)
    IgnoreLargeRead,  // a read of more bytes is never answered
    ReadInPieces,     // a read is answered in several replies of at most `bytes` bytes each
    FlipStoredBit,    // write blocks: written and acknowledged, one bit of it cleared
};
inline constexpr std::size_t kFaultActionCount = 17;
// The actions up to LoseRequest: the accidents a link or a device may commit on any request.
inline constexpr std::size_t kAccidentCount = 13;

std::string FaultActionName(FaultAction action);

struct Fault {
    RequestType on = RequestType::WriteBlock;
    std::uint32_t ordinal = 1;  // the n-th request of that type, from 1; 0 = every one
    std::uint32_t count = 1;    // this many requests in a row from the ordinal on
    FaultAction action = FaultAction::DropReply;
    std::uint32_t delayMs = 0;
    std::uint8_t status = 1;
    protocol::DeviceId otherId{0x6E, 0x00, 0x06, 0x00};
    std::vector<std::uint8_t> stray;
    std::size_t truncateTo = 0;
    std::size_t splitAt = 0;  // SplitReply: length of the first piece (default 3)
    std::uint32_t bytes = 0;  // RefuseLargeRead, IgnoreLargeRead: the largest read served;
                              // ReadInPieces: the data bytes of one reply
};

struct RandomFaults {
    double probability = 0.0;          // per request, 0 to 1
    std::vector<FaultAction> actions;  // drawn evenly among those that fit; empty = all
    std::vector<RequestType> on;       // empty = every type
    std::uint32_t delayMs = 100;
    std::uint8_t status = 1;
};

// True when the action can change the answer to a request of that type.
bool FaultFits(FaultAction action, RequestType type);

class FaultPlan {
public:
    explicit FaultPlan(std::uint32_t seed = 1);

    void Add(const Fault& fault);
    void SetRandom(const RandomFaults& random);
    void Clear();  // scripted and random faults; the request counts go on

    // Counts one more request of `type` and returns the faults that hit it: the scripted
    // ones in the order added, then at most one random one.
    std::vector<Fault> Next(RequestType type);

    std::uint32_t Count(RequestType type) const { return counts_[static_cast<std::size_t>(type)]; }

private:
    std::vector<Fault> scripted_;
    RandomFaults random_;
    std::mt19937 rng_;  // fully specified by the standard: the same draws on every platform
    std::array<std::uint32_t, kRequestTypeCount> counts_{};
};

}  // namespace tq5::sim
