#include "engine/exchange.hpp"

#include <chrono>
#include <thread>

#include "engine/string_table.hpp"

namespace tq5::engine {

int SendRequest(UpdateContext& context, const std::uint8_t* bytes, std::size_t length) {
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

void Pause(std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

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
