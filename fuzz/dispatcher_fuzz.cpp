// Feeds arbitrary received blocks through the classifier and the dispatcher, with the read
// buffer close to full so that oversized read replies meet its end. The input is split into
// several messages at 0xF7 bytes, as a run of queued replies.
#include <cstddef>
#include <cstdint>

#include "engine/dispatcher.hpp"
#include "engine/sysex_output.hpp"

namespace {

class NullOutput : public tq5::engine::SysExOutput {
public:
    int SendLong(const std::uint8_t*, std::uint32_t) override { return 1; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static tq5::engine::UpdateContext context;  // 5.8 MB read buffer: made once
    static NullOutput output;
    context.SetOutput(&output);
    context.ResetReadCount();
    context.SetCurrentDeviceId({0x6E, 0x00, 0x05, 0x00});

    tq5::engine::ReceiveQueue queue;
    std::size_t start = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0xF7 || i + 1 == size) {
            queue.Push(data + start, i + 1 - start);
            start = i + 1;
        }
    }
    tq5::engine::DispatchReplies(context, queue);
    (void)context.Event().Wait(0);
    return 0;
}
