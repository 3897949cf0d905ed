#pragma once
// The memory-read exchange shared by ReadDeviceMemory, the plan runner's boot-version read
// and the read-back check, which tell its outcomes apart differently.

#include <cstdint>

#include "engine/procedures/exchange.hpp"
#include "engine/procedures/procedure_env.hpp"

namespace tq5::engine {

enum class ReadOutcome {
    Read,        // `count` bytes (at least) are in the read buffer
    TimedOut,    // no answer within the wait
    SendFailed,  // the request could not be sent
    Refused,     // a status reply refused the read (`status`)
    Failed,      // an answer that brought no data: a broken reply, or one of the wrong kind
    Duplicated,  // the reply ledger counted a surplus reply
    Closing,     // the window is going away
    Unreadable,  // the read-back check found no read size the device serves
};

struct ReadResult {
    ReadOutcome outcome = ReadOutcome::TimedOut;
    std::int32_t status = 0;  // Refused: the device's status; Failed: 1 for a broken reply
};

// Sends one ReadMemoryRequest for `length` bytes and waits up to `waitMs` for each reply,
// until `count` bytes have been read (a device may answer one request with several
// replies). The data is at the start of the read buffer.
ReadResult ExchangeRead(const ProcedureEnv& env, std::uint32_t address, std::uint32_t length,
                        std::uint32_t count, std::uint32_t waitMs);

// The failure a read that did not end in Read (nor Closing) reports, with `messageId`.
Failure ReadFailure(const UpdateContext& context, int messageId, Phase phase,
                    const ReadResult& result);

}  // namespace tq5::engine
