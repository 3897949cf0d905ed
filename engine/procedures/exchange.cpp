#include "engine/procedures/exchange.hpp"

#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>

#include "engine/procedures/flash_reader.hpp"
#include "engine/string_table.hpp"

namespace tq5::engine {

bool SendRequest(UpdateContext& context, const std::uint8_t* bytes, std::size_t length,
                 Answer answer) {
    // Once the window is closing nothing more goes to the device: a step that comes back from
    // a pause cut short, or loops to a resend, finds its wait ended Closing.
    if (context.IsClosing()) return false;
    context.Await(answer);
    context.Event().Reset();
    // Counted before the bytes leave: the answer may be in before the send returns.
    if (answer == Answer::Status) context.ExpectStatusReply();
    if (answer == Answer::Read) context.ExpectReadAnswer();
    if (context.SendSysEx(bytes, length)) return true;
    if (answer == Answer::Status) context.CancelStatusRequest();
    return false;
}

Waited AwaitReply(UpdateContext& context, std::uint32_t timeoutMs) {
    // The reset before a request may have taken the closing signal; the closing flag is set
    // before that signal, so checking it here never misses a window that is going away.
    if (context.IsClosing()) return {WaitEnd::Closing};
    // A wait is counted from when the request has left the computer: where the send returned
    // while the bytes were still on their way, their remaining time on the line comes first.
    // (A wait of 0 only looks whether an answer is already in.)
    const std::uint64_t backlogMs = timeoutMs == 0 ? 0 : context.LineBacklogMs();
    const bool signalled = context.Event().Wait(static_cast<std::uint32_t>(
        std::min<std::uint64_t>(timeoutMs + backlogMs, std::numeric_limits<std::uint32_t>::max())));
    if (context.IsClosing()) return {WaitEnd::Closing};
    // A surplus reply may have been taken for this answer, or have come between two waits:
    // either way the answers can no longer be placed.
    if (context.SurplusReplies() > 0) return {WaitEnd::Surplus};
    if (!signalled) {
        if (timeoutMs > 0) context.Log().NoteNoAnswer();  // a wait of 0 only looked
        return {WaitEnd::TimedOut};
    }
    // The dispatcher signals only a reply of the kind the request waits for.
    return {WaitEnd::Answered, context.LastReply()};
}

std::uint32_t MsSince(std::chrono::steady_clock::time_point since) {
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now() - since)
                                          .count());
}

void Pause(const UpdateContext& context, std::uint32_t ms) {
    constexpr auto kSlice = std::chrono::milliseconds(10);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!context.IsClosing()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= end) return;
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(end - now, kSlice));
    }
}

void ReportStep(const ProcedureEnv& env, Phase phase, std::int64_t done, std::int64_t total,
                bool skipped) {
    env.context.Log().EnterPhase(phase);
    Progress progress;
    progress.phase = phase;
    progress.row = env.planRow != nullptr ? *env.planRow : 0;
    progress.rows = static_cast<int>(kFlashPlan.size());
    progress.skipped = skipped;
    progress.done = done;
    progress.total = total;
    env.host.ReportProgress(progress);
}

void ReportFailure(Host& host, const Failure& failure) {
    if (failure.messageId != 0) {
        host.ShowMessageBox(LoadText(failure.messageId), LoadText(IDS_ERROR_CAPTION),
                            MessageIcon::Error);
    }
    host.ReportOutcome(failure);
    host.ReleaseControls();
}

Failure WithReadBack(const ProcedureEnv& env, Failure failure) {
    if (env.reader != nullptr) failure.readBack = env.reader->Summary();
    return failure;
}

Cause SurplusCause(const UpdateContext& context) {
    const std::int32_t late = context.LateReplies();
    return late > 0 && late == context.SurplusReplies() ? Cause::LateReply
                                                        : Cause::DuplicateReplies;
}

Failure SurplusFailure(const UpdateContext& context, Phase phase) {
    return FailureOf(IDS_TRANSFER_ERROR, phase, SurplusCause(context));
}

Failure StatusFailure(int messageId, Phase phase, const Reply& reply) {
    return FailureOf(messageId, phase, Cause::DeviceStatus, reply.status);
}

}  // namespace tq5::engine
