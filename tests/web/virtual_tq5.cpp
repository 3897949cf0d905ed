// The test page's virtual TQ-5: a VirtualDevice in the module, which the page's fake Web MIDI
// ports (virtual-midi.js) reach. What the updater sends through the fake output port comes
// in here (tq5_test_device_receive, main thread); the device's replies leave on its own
// thread and go to the main thread (virtual_tq5_library.js), where the fake input port
// delivers them as Web MIDI messages, through the real Web MIDI driver of the page.
//
// Options, one "key=value" a line: mode (normal, update-ready, flash-writing), fault (as
// tq5-devsim's --fault, repeatable), system-version, din (1: a 31,250-baud line and a NOR
// chip's timing), scale (multiplies every device time), strict (1: no write over a written
// block).

#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>

#include "firmware/embedded_firmware.hpp"
#include "sim/devsim/fault_option.hpp"
#include "sim/devsim/mode_option.hpp"
#include "sim/installed_firmware.hpp"
#include "sim/virtual_device.hpp"

extern "C" void tq5_test_device_reply(std::uint8_t* bytes, std::uint32_t length);

namespace {

std::unique_ptr<tq5::sim::VirtualDevice>& Device() {
    static std::unique_ptr<tq5::sim::VirtualDevice> device;
    return device;
}

// "" when every option is understood, else the first one that is not.
std::string ParseOptions(const std::string& text, tq5::sim::DeviceOptions& options) {
    std::istringstream lines(text);
    std::string line;
    options.firmware.images = &tq5::firmware::EmbeddedFirmware();
    while (std::getline(lines, line)) {
        if (line.empty()) continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) return line;
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "mode") {
            const auto found = tq5::sim::DeviceModeNames().find(value);
            if (found == tq5::sim::DeviceModeNames().end()) return line;
            options.mode = found->second;
        } else if (key == "fault") {
            const auto fault = tq5::sim::ParseFaultOption(value);
            if (!fault) return line;
            options.faults.push_back(*fault);
        } else if (key == "system-version") {
            options.firmware.systemVersion = value;
        } else if (key == "din") {
            if (value == "1") options.timing = tq5::sim::DeviceTiming::DinMidi();
        } else if (key == "strict") {
            options.strictWrites = value == "1";
        } else if (key == "scale") {
            options.timing.scale = std::atof(value.c_str());
            if (!(options.timing.scale > 0)) return line;
        } else {
            return line;
        }
    }
    return {};
}

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string StateJson(tq5::sim::VirtualDevice& device) {
    using namespace tq5::sim;
    const FlashState state = device.InspectFlash(tq5::firmware::EmbeddedFirmware());
    std::ostringstream json;
    json << "{\"boot\":" << Quoted(VersionText(state.bootVersion))
         << ",\"preset\":" << Quoted(VersionText(state.presetVersion))
         << ",\"system\":" << Quoted(VersionText(state.systemVersion)) << ",\"regions\":[";
    for (std::size_t i = 0; i < state.regions.size(); ++i) {
        const RegionState& region = state.regions[i];
        json << (i ? "," : "") << "{\"image\":" << region.imageId
             << ",\"address\":" << region.address
             << ",\"holdsImage\":" << (region.holdsImage ? "true" : "false")
             << ",\"erased\":" << (region.erased ? "true" : "false") << "}";
    }
    json << "],\"requests\":{";
    for (std::size_t t = 0; t < kRequestTypeCount; ++t) {
        const auto type = static_cast<RequestType>(t);
        json << (t ? "," : "") << Quoted(RequestOptionName(type)) << ":"
             << device.RequestCount(type);
    }
    json << "},\"mode\":" << static_cast<int>(device.Mode()) << "}";
    return json.str();
}

}  // namespace

extern "C" {

// Starts the device with `options` (see above). 0, or -1 when an option is not understood.
EMSCRIPTEN_KEEPALIVE int tq5_test_device_start(const char* options) {
    tq5::sim::DeviceOptions parsed;
    if (!ParseOptions(options != nullptr ? options : "", parsed).empty()) return -1;
    Device() = std::make_unique<tq5::sim::VirtualDevice>(parsed);
    Device()->SetReplySink([](const std::uint8_t* bytes, std::size_t length) {
        // Freed by the page once delivered.
        auto* copy = static_cast<std::uint8_t*>(std::malloc(length));
        if (copy == nullptr) return;
        std::memcpy(copy, bytes, length);
        tq5_test_device_reply(copy, static_cast<std::uint32_t>(length));
    });
    return 0;
}

// One message the updater sent to the device's port.
EMSCRIPTEN_KEEPALIVE void tq5_test_device_receive(const std::uint8_t* bytes, std::uint32_t length) {
    if (Device()) Device()->Receive(bytes, length);
}

EMSCRIPTEN_KEEPALIVE void tq5_test_free(void* pointer) { std::free(pointer); }

// The device's flash (versions, regions against the images) and request counts as JSON,
// into `buffer`; the length it needs (more than `size`: nothing written).
EMSCRIPTEN_KEEPALIVE int tq5_test_device_state(char* buffer, int size) {
    if (!Device()) return 0;
    const std::string json = StateJson(*Device());
    const int length = static_cast<int>(json.size());
    if (length <= size) std::memcpy(buffer, json.data(), json.size());
    return length;
}

}  // extern "C"
