#pragma once
// The stop-and-wait exchange that every procedure step is made of, and how a procedure that
// failed reports it.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/procedures/procedure_env.hpp"
#include "engine/result.hpp"
#include "engine/seams/host.hpp"
#include "engine/state/update_context.hpp"

namespace tq5::engine {

// How a wait for an answer ended.
enum class WaitEnd : std::uint8_t {
    Answered,  // a reply of the kind the request waits for came (`reply`)
    TimedOut,  // none came in time
    Closing,   // the window is going away
    Surplus,   // the reply ledger has counted a surplus status reply: the link delivers
               // replies twice or late, and no answer can be placed with certainty
};

struct Waited {
    WaitEnd end = WaitEnd::TimedOut;
    Reply reply{};  // Answered: the answer

    bool Answered() const { return end == WaitEnd::Answered; }
    // Answered, and the device has done what was asked.
    bool Succeeded() const { return Answered() && reply.Succeeded(); }
};

// Sends one request that waits for `answer`; true once it has left. A pending reply signal is
// cleared first, so an answer to an earlier request (late, or duplicated) is never taken for
// this one. False without sending once the window is closing, and false when the send fails:
// a request that never left expects no answer.
[[nodiscard]] bool SendRequest(UpdateContext& context, const std::uint8_t* bytes,
                               std::size_t length, Answer answer);

// Waits at most `timeoutMs` for the answer to the request sent last. Only a reply of the
// kind that request waits for ends the wait; anything else that arrives meanwhile is not
// taken for it. The wait starts once what was sent has left the computer (see
// UpdateContext::LineBacklogMs). Once the window is closing it ends Closing at once, whatever
// the wait did; once a surplus reply has been counted, Surplus.
[[nodiscard]] Waited AwaitReply(UpdateContext& context, std::uint32_t timeoutMs);

// Milliseconds from `since` until now.
std::uint32_t MsSince(std::chrono::steady_clock::time_point since);

// A pause between exchanges; cut short when the window starts closing, so that a worker the
// window waits for ends promptly.
void Pause(const UpdateContext& context, std::uint32_t ms);

// Tells the host how far a step has come, under the plan row it runs for.
void ReportStep(const ProcedureEnv& env, Phase phase, std::int64_t done, std::int64_t total,
                bool skipped = false);

// The end of a procedure that failed, as the window shows it: the error box (when the failure
// has a message), the outcome, then ReleaseControls. Said once, where the procedure ends;
// the steps only return their failure.
void ReportFailure(Host& host, const Failure& failure);
// `failure` with what the read-back check has learnt so far, when the procedure runs one.
Failure WithReadBack(const ProcedureEnv& env, Failure failure);

// Why the answers could no longer be placed, once the reply ledger has counted a surplus:
// replies that came twice, or only answers that came after they had been given up for lost.
Cause SurplusCause(const UpdateContext& context);

// The failure of a step whose wait ended Surplus.
Failure SurplusFailure(const UpdateContext& context, Phase phase);
// The failure for a reply that a step does not accept: the device's failure status.
Failure StatusFailure(int messageId, Phase phase, const Reply& reply);

}  // namespace tq5::engine
