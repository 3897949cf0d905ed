#pragma once
// A reply as the dispatcher hands it to the request waiting for it: what kind of message it
// was and what it carries. Replies carry no reference to their request, so the kind is what
// tells an answer from a message that only arrived meanwhile: the device's identity reply to
// another program's search on a shared port, a status reply while a read is awaited, a read
// reply while a block is. Such a message never answers the request.

#include <cstdint>

namespace tq5::engine {

// What a request waits for.
enum class Answer : std::uint8_t {
    None,      // nothing (before the first request)
    Status,    // a status reply (the reply ledger counts it) or the device's completion notice
    Read,      // a read reply, or a status reply that refuses the read
    Identity,  // an identity reply, or a status reply in its place
};

enum class ReplyKind : std::uint8_t {
    Status,      // a status reply: `status` is the device's status byte
    Completion,  // the device's notice that it has finished: success
    Identity,    // an identity reply: its id is the context's reported device id
    ReadData,    // a read reply that passed its checks: its data is in the read buffer
    ReadBroken,  // a read reply that failed its checks
    ReadOther,   // a read reply of another kind, with no data
};

struct Reply {
    ReplyKind kind = ReplyKind::Status;
    std::uint8_t status = 0;  // Status: the device's status byte; 0 for every other kind

    // The device has done what was asked: status 0, or its completion notice.
    bool Succeeded() const {
        return (kind == ReplyKind::Status && status == 0) || kind == ReplyKind::Completion;
    }
};

// Whether a reply of `kind` answers a request that waits for `answer`.
constexpr bool Answers(Answer answer, ReplyKind kind) {
    switch (answer) {
        case Answer::Status:
            return kind == ReplyKind::Status || kind == ReplyKind::Completion;
        case Answer::Read:
            return kind == ReplyKind::Status || kind == ReplyKind::ReadData ||
                   kind == ReplyKind::ReadBroken || kind == ReplyKind::ReadOther;
        case Answer::Identity:
            return kind == ReplyKind::Identity || kind == ReplyKind::Status;
        case Answer::None:
            break;
    }
    return false;
}

}  // namespace tq5::engine
