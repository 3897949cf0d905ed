#include "engine/exchange.hpp"

#include <algorithm>
#include <chrono>
#include <thread>

#include "engine/string_table.hpp"

namespace tq5::engine {

int SendRequest(UpdateContext& context, const std::uint8_t* bytes, std::size_t length) {
    // Once the window is closing nothing more goes to the device: a step that comes back from
    // a pause cut short, or loops to a resend, finds its wait answered with kStatusClosing.
    if (context.IsClosing()) return -1;
    context.Event().Reset();
    return context.SendSysEx(bytes, length);
}

std::optional<std::int32_t> AwaitReply(UpdateContext& context, std::uint32_t timeoutMs) {
    // The reset before a request may have taken the closing signal; the closing flag is set
    // before that signal, so checking it here never misses a window that is going away.
    if (context.IsClosing()) return kStatusClosing;
    const bool signalled = context.Event().Wait(timeoutMs);
    if (context.IsClosing()) return kStatusClosing;
    if (!signalled) return std::nullopt;
    return context.Status();
}

void Pause(const UpdateContext& context, std::uint32_t ms) {
    constexpr auto kSlice = std::chrono::milliseconds(10);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!context.IsClosing()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= end) return;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(end - now, kSlice));
    }
}

int ReportFailure(Host& host, int stringId) {
    host.ShowMessageBox(LoadText(stringId), LoadText(IDS_ERROR_CAPTION), MessageIcon::Error);
    host.ReleaseControls();
    return -1;
}

std::string FormatNumbers(std::string_view format, std::int64_t first, std::int64_t second) {
    const std::int64_t numbers[] = {first, second};
    std::size_t next = 0;
    std::string out;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 'd' && next < 2) {
            out += std::to_string(numbers[next++]);
            ++i;
        } else {
            out += format[i];
        }
    }
    return out;
}

}  // namespace tq5::engine
