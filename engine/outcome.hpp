#pragma once
// What a procedure reports beside the window's texts: how far it has come and how it ended,
// as data. The window shows its texts and needs neither; the command line reads these, so
// no decision of its own hangs on the wording of a message.

#include <cstdint>

namespace tq5::engine {

// The step a procedure is in.
enum class Phase { Identify, EnterUpdate, BootVersion, Erase, Write, Verify, Finish, Versions };

struct Progress {
    Phase phase = Phase::Identify;
    int row = 0;             // plan row 1..rows while the plan runs; 0 outside it
    int rows = 0;            // rows of the plan
    bool skipped = false;    // the plan passes this row without running it
    std::int64_t done = 0;   // bytes of this step done: erased, acknowledged, compared
    std::int64_t total = 0;  // bytes of this step
};

// Why a procedure failed.
enum class Cause {
    None,
    TimedOut,          // no answer within the step's wait
    SendFailed,        // the request could not be sent
    DeviceStatus,      // the device answered with a failure status (`status`)
    NotInUpdateMode,   // status 11 to the enter-update request
    IllegalDevice,     // an id the updater does not serve
    BrokenReply,       // a read answered by a failure status (`status`), a reply that failed
                       // its checks, or an answer of the wrong kind
    DuplicateReplies,  // more status replies than requests: the link delivers replies twice
    LateReply,         // an answer came after its request had been given up for lost, so
                       // the answers can no longer be matched with their requests
    Mismatch,          // the flash read back differs from the image (`imageId`, `address`)
    MissingImage,      // an image the plan needs is not carried
};

// The read-back check (tq5-updater and the page run it; the window does not).
enum class ReadBackResult {
    NotRun,      // the check is off, or the update ended before it
    Verified,    // every written region was read back and found equal to its image
    Unreadable,  // the device served no read size the check tries: nothing was compared
};

struct ReadBack {
    ReadBackResult result = ReadBackResult::NotRun;
    std::uint32_t readBytes = 0;  // the read size the device served; 0 when none
    // Unreadable: how the smallest reads failed: refused (DeviceStatus, with `status`), not
    // answered (TimedOut) or answered with replies that failed their checks (BrokenReply).
    Cause unreadable = Cause::None;
    std::int32_t status = 0;
    std::int64_t bytesCompared = 0;
    // Blocks whose acknowledgement never came and whose resend the device refused, found
    // written by reading them back.
    int blocksFoundWritten = 0;
};

// How a procedure ended: completed, or the failure that ended it. A step that fails says so
// with the same record (a Failure), which the procedure's end reports as its outcome.
struct Outcome {
    bool completed = false;
    int messageId = 0;  // the text the window shows (a string-table id); 0 for none
    Phase phase = Phase::Identify;
    Cause cause = Cause::None;
    std::int32_t status = 0;    // DeviceStatus: the status the device sent
    int imageId = 0;            // Write, Verify: the image concerned
    std::uint32_t address = 0;  // Mismatch: the first flash address that differs
    // Completed over a flash that was read back and found to hold the images.
    bool verified = false;
    ReadBack readBack{};
};

// What a step that fails tells its procedure: an outcome that did not complete.
using Failure = Outcome;

// A failure with its message (0 for none), step and cause, and the status, image and address
// it concerns.
constexpr Failure FailureOf(int messageId, Phase phase, Cause cause, std::int32_t status = 0,
                            int imageId = 0, std::uint32_t address = 0) {
    Failure failure;
    failure.messageId = messageId;
    failure.phase = phase;
    failure.cause = cause;
    failure.status = status;
    failure.imageId = imageId;
    failure.address = address;
    return failure;
}

}  // namespace tq5::engine
