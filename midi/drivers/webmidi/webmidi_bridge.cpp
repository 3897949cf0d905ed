#include "midi/drivers/webmidi/webmidi_bridge.hpp"

#include <emscripten/emscripten.h>
#include <emscripten/threading.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <vector>

// The library's functions (webmidi_library.js); each runs on the main thread.
extern "C" {
int tq5_webmidi_count(int kind);
int tq5_webmidi_name(int kind, int index, char* buffer, int size);
int tq5_webmidi_open(int kind, int index, std::uint32_t token);
void tq5_webmidi_close(int kind, std::uint32_t token);
int tq5_webmidi_send(std::uint32_t token, const std::uint8_t* bytes, std::uint32_t length);
}

namespace tq5::midi::webmidi {
namespace {

enum class OpenState { Pending, Open, Failed };

struct Endpoint {
    OpenState state = OpenState::Pending;
    ByteSink sink;
};

struct Registry {
    std::mutex lock;
    std::condition_variable opened;
    std::map<std::uint32_t, Endpoint> endpoints;
    std::uint32_t nextToken = 1;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

// Names longer than this are cut by the ports anyway.
constexpr int kNameBufferSize = 256;

}  // namespace

std::uint32_t PortCount(PortKind kind) {
    const int count = tq5_webmidi_count(static_cast<int>(kind));
    return count > 0 ? static_cast<std::uint32_t>(count) : 0;
}

std::string PortName(PortKind kind, std::uint32_t index) {
    std::vector<char> buffer(kNameBufferSize, '\0');
    const int length = tq5_webmidi_name(static_cast<int>(kind), static_cast<int>(index),
                                        buffer.data(), kNameBufferSize);
    if (length <= 0) return {};
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

std::uint32_t Open(PortKind kind, std::int32_t index, ByteSink sink) {
    if (emscripten_is_main_browser_thread()) return 0;
    Registry& registry = TheRegistry();
    std::uint32_t token = 0;
    {
        std::lock_guard guard(registry.lock);
        token = registry.nextToken++;
        if (registry.nextToken == 0) registry.nextToken = 1;
        registry.endpoints[token] = Endpoint{OpenState::Pending, std::move(sink)};
    }
    bool opened = tq5_webmidi_open(static_cast<int>(kind), index, token) != 0;
    if (opened) {
        std::unique_lock guard(registry.lock);
        registry.opened.wait_for(guard, std::chrono::milliseconds(kOpenTimeoutMs), [&] {
            return registry.endpoints[token].state != OpenState::Pending;
        });
        opened = registry.endpoints[token].state == OpenState::Open;
    }
    if (!opened) {
        Close(kind, token);
        return 0;
    }
    return token;
}

void Close(PortKind kind, std::uint32_t token) {
    if (token == 0) return;
    {
        // A delivery in progress holds the lock: it ends before the endpoint goes.
        std::lock_guard guard(TheRegistry().lock);
        TheRegistry().endpoints.erase(token);
    }
    tq5_webmidi_close(static_cast<int>(kind), token);
}

bool Send(std::uint32_t token, const std::uint8_t* bytes, std::uint32_t length) {
    if (token == 0 || bytes == nullptr) return false;
    return tq5_webmidi_send(token, bytes, length) != 0;
}

}  // namespace tq5::midi::webmidi

// Called by the library on the main thread.
extern "C" {

EMSCRIPTEN_KEEPALIVE void tq5_webmidi_opened(std::uint32_t token, int ok) {
    using namespace tq5::midi::webmidi;
    Registry& registry = TheRegistry();
    {
        std::lock_guard guard(registry.lock);
        const auto found = registry.endpoints.find(token);
        if (found == registry.endpoints.end()) return;
        found->second.state = ok != 0 ? OpenState::Open : OpenState::Failed;
    }
    registry.opened.notify_all();
}

EMSCRIPTEN_KEEPALIVE void tq5_webmidi_received(std::uint32_t token, const std::uint8_t* bytes,
                                               std::uint32_t length) {
    using namespace tq5::midi::webmidi;
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    const auto found = registry.endpoints.find(token);
    if (found == registry.endpoints.end() || !found->second.sink) return;
    found->second.sink(bytes, length);
}

}  // extern "C"
