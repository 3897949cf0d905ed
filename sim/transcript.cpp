#include "sim/transcript.hpp"

#include <cstdio>

#include "protocol/device_messages.hpp"

namespace tq5::sim {
namespace {

std::string Format(const char* format, auto... values) {
    char text[96];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

std::string HexBytes(const std::uint8_t* bytes, std::size_t length, std::size_t limit) {
    std::string out;
    for (std::size_t i = 0; i < length && i < limit; ++i) {
        out += Format(i == 0 ? "%02X" : " %02X", bytes[i]);
    }
    if (length > limit) out += " ...";
    return out;
}

// What the updater sends, as the device reads it.
std::string DescribeRequest(const std::uint8_t* bytes, std::size_t length) {
    const protocol::DeviceRequest r = protocol::ParseRequest(bytes, length);
    using protocol::RequestKind;
    switch (r.kind) {
        case RequestKind::IdentityRequest:
            return "IdentityRequest";
        case RequestKind::EnterUpdate:
            return "EnterUpdateRequest";
        case RequestKind::Finish:
            return "FinishRequest";
        case RequestKind::Erase:
            return Format("EraseRequest 0x%06X size 0x%06X", r.address, r.size);
        case RequestKind::WriteBlock:
            return Format("WriteBlockRequest 0x%06X n=%d", r.address, r.dataCount);
        case RequestKind::ReadMemory:
            return Format("ReadMemoryRequest 0x%06X n=%u", r.address, r.size);
        case RequestKind::StatusMessage:
            return Format("StatusMessage %u", r.status);
        case RequestKind::IdentityReply:
            return Format("IdentityReply %02X %02X %02X %02X", r.deviceId[0], r.deviceId[1],
                          r.deviceId[2], r.deviceId[3]);
        case RequestKind::UnknownCommand:
            return Format("command 0x%02X", r.command);
        case RequestKind::Malformed:
            return "malformed (" + std::to_string(length) + " bytes)";
        case RequestKind::Ignored:
            break;
    }
    return "other: " + HexBytes(bytes, length, 8);
}

// What the device sends, as the updater reads it.
std::string DescribeReply(const std::uint8_t* bytes, std::size_t length) {
    const protocol::ClassifiedMessage c = protocol::ClassifyMessage(bytes, length);
    using protocol::MessageClass;
    switch (c.kind) {
        case MessageClass::StatusReply:
            return Format("StatusMessage %u", c.status);
        case MessageClass::IdentityReply:
            return Format("IdentityReply %02X %02X %02X %02X", c.deviceId[0], c.deviceId[1],
                          c.deviceId[2], c.deviceId[3]);
        case MessageClass::ReadMemoryReply:
            return Format("ReadMemoryReply n=%d", c.dataCount);
        case MessageClass::IdentityRequest:
            return "IdentityRequest";
        case MessageClass::CompletionNotice:
            return "CompletionNotice";
        case MessageClass::DeviceCommand:
        case MessageClass::UnknownCommand:
            return Format("command 0x%02X", bytes[4]);
        default:
            return "other: " + HexBytes(bytes, length, 8);
    }
}

}  // namespace

std::string DescribeMessage(const std::uint8_t* bytes, std::size_t length, Direction direction) {
    return direction == Direction::ToDevice ? DescribeRequest(bytes, length)
                                            : DescribeReply(bytes, length);
}

std::string FormatEntry(const TranscriptEntry& entry) {
    const double seconds = std::chrono::duration<double>(entry.at).count();
    std::string line =
        Format("%11.6f s  %s  ", seconds,
               entry.direction == Direction::ToDevice ? "updater -> device" : "device -> updater");
    line += DescribeMessage(entry.bytes.data(), entry.bytes.size(), entry.direction);
    if (!entry.note.empty()) line += "  [" + entry.note + "]";
    return line;
}

void Transcript::Add(TranscriptEntry entry) {
    if (limit_ == 0) return;
    if (entries_.size() >= limit_) entries_.pop_front();
    entries_.push_back(std::move(entry));
}

void Transcript::SetLimit(std::size_t limit) {
    limit_ = limit;
    while (entries_.size() > limit_) entries_.pop_front();
}

}  // namespace tq5::sim
