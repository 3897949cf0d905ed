#include "engine/read_device_memory.hpp"

#include <algorithm>
#include <array>

#include "engine/exchange.hpp"
#include "engine/flash_steps.hpp"

namespace tq5::engine {

ReadOutcome ExchangeRead(const Procedures& env, std::uint32_t address, std::uint32_t length,
                         std::uint8_t* out) {
    UpdateContext& context = env.context;
    std::uint8_t* request = context.WorkerSendBuffer();
    const std::size_t size =
        protocol::BuildReadMemoryRequest(request, context.DeviceByte(), address, length);
    context.ResetReadCount();  // before the request leaves, so its replies append from 0
    SendRequest(context, request, size);

    const std::optional<std::int32_t> status = AwaitReply(context, env.timing.eraseReadWaitMs);
    if (!status) return ReadOutcome::TimedOut;
    if (*status == kStatusClosing) return ReadOutcome::Closing;
    if (*status != 0) return ReadOutcome::Failed;
    std::array<std::uint8_t, kVersionFieldLength> data{};
    if (!context.CopyReadData(data.data(), data.size())) return ReadOutcome::Failed;
    std::copy(data.begin(), data.end(), out);
    return ReadOutcome::Read;
}

int ReadDeviceMemory(const Procedures& env, std::uint32_t address, std::uint32_t length,
                     std::uint8_t* out) {
    return ExchangeRead(env, address, length, out) == ReadOutcome::Read ? 0 : -1;
}

}  // namespace tq5::engine
