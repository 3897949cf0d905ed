#include "engine/state/dispatcher.hpp"

#include <array>

#include "protocol/messages.hpp"

namespace tq5::engine {
namespace {

using protocol::MessageClass;

void SendStatus(UpdateContext& context, std::uint8_t status) {
    // Local storage: the worker may be building a request in its own buffer right now.
    std::array<std::uint8_t, protocol::kStatusMessageLength> message{};
    const std::size_t length =
        protocol::BuildStatusMessage(message.data(), context.DeviceByte(), status);
    static_cast<void>(context.SendSysEx(message.data(), length));
}

void HandleReadReply(UpdateContext& context, const protocol::ClassifiedMessage& m) {
    context.NoteReadReply();
    const bool passed = m.kind == MessageClass::ReadMemoryReply &&
                        context.AppendReadReply(m.packed, m.packedCount, m.dataCount, m.crc);
    context.PostReply({passed ? ReplyKind::ReadData : ReplyKind::ReadBroken});
}

}  // namespace

void SendAcknowledge(UpdateContext& context) { SendStatus(context, protocol::kStatusOk); }

void SendErrorReply(UpdateContext& context, std::uint8_t status) { SendStatus(context, status); }

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
            context.PostReply({ReplyKind::Status, m.status});
            break;
        case MessageClass::DeviceCommand:
            SendAcknowledge(context);
            break;
        case MessageClass::CompletionNotice:
            context.NoteCompletionNotice();
            context.PostReply({ReplyKind::Completion});
            break;
        case MessageClass::ReadReplyOther:
            context.PostReply({ReplyKind::ReadOther});
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
            static_cast<void>(context.SendSysEx(reply.data(), reply.size()));  // as above
            break;
        }
        case MessageClass::IdentityReply:
            // Only the answer to our own identity request names the device: the TQ-5 also
            // answers the requests of another program searching a shared port for devices.
            // The id is stored before the signal, which publishes it.
            if (!context.Awaits(ReplyKind::Identity)) break;
            context.SetReportedDeviceId(m.deviceId);
            context.PostReply({ReplyKind::Identity});
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
