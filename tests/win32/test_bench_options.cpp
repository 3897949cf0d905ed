#include "tests/win32/test_bench_options.hpp"

#include <map>

#include "sim/devsim/mode_option.hpp"
#include "sim/fault_option.hpp"

namespace tq5::test {
namespace {

std::optional<std::uint32_t> ParseCount(const std::string& text) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(std::stoul(text));
}

}  // namespace

TestBenchOptions DefaultTestBenchOptions() {
    TestBenchOptions options;
    options.device.mode = sim::DeviceMode::UpdateReady;
    options.device.timing.writeMsPerBlock = 2;
    options.device.timing.eraseMsPerSector = 1;
    return options;
}

std::optional<TestBenchOptions> ParseTestBenchOptions(const std::vector<std::string>& args,
                                                      std::string& error) {
    const std::map<std::string, sim::DeviceMode>& modes = sim::DeviceModeNames();
    TestBenchOptions options = DefaultTestBenchOptions();
    sim::DeviceOptions& device = options.device;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (i + 1 >= args.size()) {
            error = name.rfind("--", 0) == 0 ? name + " needs a value" : "unexpected " + name;
            return std::nullopt;
        }
        const std::string& value = args[++i];
        // The three counts share their check: digits only.
        std::uint32_t* count = name == "--write-ms"    ? &device.timing.writeMsPerBlock
                               : name == "--erase-ms"  ? &device.timing.eraseMsPerSector
                               : name == "--line-rate" ? &device.timing.lineBytesPerSecond
                                                       : nullptr;
        if (count != nullptr) {
            const std::optional<std::uint32_t> parsed = ParseCount(value);
            if (!parsed) {
                error = name + ": not a count: " + value;
                return std::nullopt;
            }
            *count = *parsed;
        } else if (name == "--mode") {
            const auto mode = modes.find(value);
            if (mode == modes.end()) {
                error = "--mode: normal, update-ready or flash-writing, not " + value;
                return std::nullopt;
            }
            device.mode = mode->second;
        } else if (name == "--system-version") {
            device.firmware.systemVersion = value;
        } else if (name == "--fault") {
            const std::optional<sim::Fault> fault = sim::ParseFaultOption(value);
            if (!fault) {
                error = "--fault: not a fault: " + value;
                return std::nullopt;
            }
            device.faults.push_back(*fault);
        } else if (name == "--exit-report") {
            options.exitReport = value;
        } else {
            error = "unknown option " + name;
            return std::nullopt;
        }
    }
    return options;
}

}  // namespace tq5::test
