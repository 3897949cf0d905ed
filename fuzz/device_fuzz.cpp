// Feeds arbitrary messages through the virtual TQ-5's receive path: ParseRequest, then the
// device core (modes, erase, write, read on its flash). The first byte chooses the device's
// mode and answer style; the rest is split into messages at 0xF7 bytes, so that a run can
// enter the update mode, erase, write and read back in one input.
//
// Besides the sanitizers it checks what the device must never do: answer with anything but
// a well-formed SysEx message, or send a read reply that the updater's own classifier and
// CRC check would not accept with exactly the flash bytes asked for.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "protocol/codec.hpp"
#include "protocol/device_messages.hpp"
#include "protocol/messages.hpp"
#include "sim/device_core.hpp"

namespace {

using namespace tq5;

void Require(bool condition) {
    if (!condition) std::abort();
}

void CheckParsed(const protocol::DeviceRequest& request, const std::uint8_t* bytes,
                 std::size_t length) {
    if (request.kind != protocol::RequestKind::WriteBlock) return;
    Require(request.dataCount >= 0 && request.dataCount <= protocol::kMaxTwoByteCount);
    Require(request.packedCount == protocol::PackedLength(request.dataCount));
    Require(request.packed >= bytes && request.packed + request.packedCount <= bytes + length);
}

void CheckWellFormed(const sim::Message& message) {
    Require(message.size() >= 2);
    Require(message.front() == protocol::kSysExStart && message.back() == protocol::kSysExEnd);
    for (std::size_t i = 1; i + 1 < message.size(); ++i) Require(message[i] < 0x80);
}

// A read reply must carry exactly the flash bytes asked for, in a form the updater accepts.
void CheckReadReply(const sim::Message& reply, const protocol::DeviceRequest& request,
                    const sim::FlashMemory& flash) {
    const protocol::ClassifiedMessage c = protocol::ClassifyMessage(reply.data(), reply.size());
    Require(c.kind == protocol::MessageClass::ReadMemoryReply);
    Require(static_cast<std::uint32_t>(c.dataCount) == request.size);
    std::vector<std::uint8_t> data(request.size);
    protocol::UnpackPayload(data.data(), c.packed, c.packedCount);
    Require(protocol::ComputeCrc32(data.data(), request.size) == c.crc);
    std::vector<std::uint8_t> expected(request.size);
    Require(flash.Read(request.address, request.size, expected.data()));
    Require(data == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static sim::DeviceCore device({0x6E, 0x00, 0x05, 0x00}, sim::DeviceMode::UpdateReady);
    // Every input starts from an erased flash (4 MiB: wiped only after a run changed it).
    static bool flashChanged = false;
    if (flashChanged) device.Flash().EraseAll();
    flashChanged = false;

    const std::uint8_t control = data[0];
    constexpr sim::DeviceMode kModes[] = {sim::DeviceMode::Normal, sim::DeviceMode::UpdateReady,
                                          sim::DeviceMode::FlashWriting};
    device.SetMode(kModes[control % 3]);
    device.SetFinishWithCompletionNotice((control & 0x04) != 0);

    const std::uint8_t* messages = data + 1;
    const std::size_t length = size - 1;
    std::size_t start = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (messages[i] != protocol::kSysExEnd && i + 1 != length) continue;
        const std::uint8_t* bytes = messages + start;
        const std::size_t count = i + 1 - start;
        start = i + 1;

        const protocol::DeviceRequest request = protocol::ParseRequest(bytes, count);
        CheckParsed(request, bytes, count);
        const sim::Response response = device.Handle(request);
        if (response.erasedSectors > 0 || response.writtenBlocks > 0) flashChanged = true;
        for (const sim::Message& reply : response.messages) {
            CheckWellFormed(reply);
            if (request.kind == protocol::RequestKind::ReadMemory &&
                reply.size() > protocol::kStatusMessageLength) {
                CheckReadReply(reply, request, device.Flash());
            }
        }
    }
    return 0;
}
