// Feeds arbitrary received blocks through the classifier and the dispatcher, with the read
// buffer filled to within a few bytes of its end (the first input byte says how few), so that
// read replies meet its end. The rest of the input is split into several messages at 0xF7
// bytes, as a run of queued replies.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/seams/sysex_output.hpp"
#include "engine/state/dispatcher.hpp"
#include "protocol/codec.hpp"

namespace {

class NullOutput : public tq5::engine::SysExOutput {
public:
    bool SendLong(const std::uint8_t*, std::uint32_t) override { return true; }
};

// Small enough to fill on every input; the dispatcher's bounds are the same for any size.
constexpr std::size_t kReadBufferSize = 16384;

// Fills the read buffer with one valid reply's data of `count` bytes.
void Prefill(tq5::engine::UpdateContext& context, std::int32_t count) {
    static std::vector<std::uint8_t> packed;
    const std::vector<std::uint8_t> data(static_cast<std::size_t>(count), 0xA5);
    packed.resize(static_cast<std::size_t>(tq5::protocol::PackedLength(count)));
    const std::int32_t packedCount = tq5::protocol::PackPayload(packed.data(), data.data(), count);
    const bool taken = context.AppendReadReply(
        packed.data(), packedCount, count,
        tq5::protocol::ComputeCrc32(data.data(), static_cast<std::uint32_t>(count)));
    if (!taken) std::abort();  // the harness itself is wrong: no input can be judged
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static tq5::engine::UpdateContext context(kReadBufferSize);
    static NullOutput output;
    if (size == 0) return 0;
    context.SetOutput(&output);
    context.ResetReadCount();
    context.SetCurrentDeviceId({0x6E, 0x00, 0x05, 0x00});
    // Whatever the procedure waits for: every kind of reply is handed on for one of them.
    context.Await(static_cast<tq5::engine::Answer>(data[0] % 4));
    // 0 to 255 bytes left free: a four-byte reply fits or not, a large one never does.
    Prefill(context, static_cast<std::int32_t>(kReadBufferSize) - data[0]);

    tq5::engine::ReceiveQueue queue;
    std::size_t start = 1;
    for (std::size_t i = 1; i < size; ++i) {
        if (data[i] == 0xF7 || i + 1 == size) {
            queue.Push(data + start, i + 1 - start);
            start = i + 1;
        }
    }
    tq5::engine::DispatchReplies(context, queue);
    (void)context.Event().Wait(0);
    return 0;
}
