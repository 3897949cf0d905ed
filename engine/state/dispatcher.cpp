#include "engine/state/dispatcher.hpp"

#include <array>

#include "protocol/messages.hpp"

namespace tq5::engine {
namespace {

using protocol::MessageClass;

int SendStatus(UpdateContext& context, std::uint8_t status) {
    // Local storage: the worker may be building a request in its own buffer right now.
    std::array<std::uint8_t, protocol::kStatusMessageLength> message{};
    const std::size_t length =
        protocol::BuildStatusMessage(message.data(), context.DeviceByte(), status);
    return context.SendSysEx(message.data(), length);
}

void HandleReadReply(UpdateContext& context, const protocol::ClassifiedMessage& m) {
    context.NoteReadReply();
    context.SetLastReply(UpdateContext::ReplyKind::Read);
    // Set once: a worker woken by an earlier piece of the same read may look at the status
    // while this piece is handled, and must never see a passing error.
    const bool appended = m.kind == MessageClass::ReadMemoryReply &&
                          context.AppendReadReply(m.packed, m.packedCount, m.dataCount, m.crc);
    context.SetStatus(appended ? protocol::kStatusOk : protocol::kStatusError);
    context.Event().Set();
}

}  // namespace

int SendAcknowledge(UpdateContext& context) { return SendStatus(context, protocol::kStatusOk); }

int SendErrorReply(UpdateContext& context, std::uint8_t status) {
    return SendStatus(context, status);
}

void DispatchMessage(UpdateContext& context, const std::uint8_t* bytes, std::size_t length) {
    const protocol::ClassifiedMessage m = protocol::ClassifyMessage(bytes, length);
    context.Log().NoteReceived(m);
    switch (m.kind) {
        case MessageClass::StatusReply:
        case MessageClass::CompletionNotice:
        case MessageClass::ReadReplyOther:
        case MessageClass::ReadReplyFailed:
        case MessageClass::ReadMemoryReply:
        case MessageClass::IdentityReply:
            context.NoteLineClear();  // an answer: before its signal, which a wait acts on
            break;
        default:
            break;
    }
    switch (m.kind) {
        case MessageClass::Ignored:
            break;
        case MessageClass::StatusReply:
            context.NoteStatusReply(m.status);  // counted before the signal that publishes it
            context.SetLastReply(UpdateContext::ReplyKind::Status);
            context.SetStatus(m.status);
            context.Event().Set();
            break;
        case MessageClass::DeviceCommand:
            SendAcknowledge(context);
            break;
        case MessageClass::CompletionNotice:
            context.NoteCompletionNotice();
            context.SetLastReply(UpdateContext::ReplyKind::Other);
            context.SetStatus(protocol::kStatusOk);
            context.Event().Set();
            break;
        case MessageClass::ReadReplyOther:
            context.SetLastReply(UpdateContext::ReplyKind::Other);
            context.Event().Set();  // the status keeps the value it had
            break;
        case MessageClass::ReadReplyFailed:
        case MessageClass::ReadMemoryReply:
            HandleReadReply(context, m);
            break;
        case MessageClass::UnknownCommand:
        case MessageClass::UnknownUniversal:
            SendErrorReply(context, protocol::kStatusError);
            break;
        case MessageClass::IdentityRequest: {
            const auto reply = context.IdentityReply().Bytes();
            context.SendSysEx(reply.data(), reply.size());
            break;
        }
        case MessageClass::IdentityReply:
            // The id is stored before the status and the signal, which publish it.
            context.SetReportedDeviceId(m.deviceId);
            context.SetLastReply(UpdateContext::ReplyKind::Other);
            context.SetStatus(protocol::kStatusOk);
            context.Event().Set();
            break;
    }
}

void DispatchReplies(UpdateContext& context, ReceivedSource& source) {
    std::size_t length = 0;
    while (const std::uint8_t* bytes = source.PeekReceived(&length)) {
        DispatchMessage(context, bytes, length);
        source.PopReceived();
    }
}

}  // namespace tq5::engine
