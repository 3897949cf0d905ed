// tq5-devsim: the virtual TQ-5 on real MIDI ports, for end-to-end runs and for anyone
// without a device at hand.
//
// Prints "tq5-devsim ready" once its ports exist. SIGUSR1 prints the flash state (versions,
// CRC of each image region) and rewrites --state-file; SIGINT and SIGTERM end it cleanly,
// after printing the state once more.

#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>

#include "firmware/embedded_firmware.hpp"
#include "protocol/device_messages.hpp"
#include "sim/devsim/device_endpoint.hpp"
#include "sim/devsim/devsim_options.hpp"
#include "sim/devsim/fault_option.hpp"
#include "sim/devsim/state_file.hpp"
#include "sim/installed_firmware.hpp"
#include "sim/virtual_device.hpp"

namespace {

using tq5::sim::DevsimOptions;
using tq5::sim::VirtualDevice;

// Write-block requests for the block the one before asked to write: the updater sent a
// block again (its answer was late, lost, or never asked for).
std::size_t CountResentBlocks(const VirtualDevice& device) {
    std::size_t resent = 0;
    std::optional<std::uint32_t> previous;
    for (const tq5::sim::TranscriptEntry& entry : device.Transcript()) {
        if (entry.direction != tq5::sim::Direction::ToDevice) continue;
        const tq5::protocol::DeviceRequest request =
            tq5::protocol::ParseRequest(entry.bytes.data(), entry.bytes.size());
        if (request.kind != tq5::protocol::RequestKind::WriteBlock) continue;
        if (previous == request.address) ++resent;
        previous = request.address;
    }
    return resent;
}

void ReportState(VirtualDevice& device, const DevsimOptions& options) {
    device.WaitIdle();  // a report between two requests, never in the middle of one
    std::string report =
        tq5::sim::FormatFlashState(device.InspectFlash(tq5::firmware::EmbeddedFirmware()));
    // How often each request came: a resend shows up here.
    report += "requests:";
    for (std::size_t t = 0; t < tq5::sim::kRequestTypeCount; ++t) {
        const auto type = static_cast<tq5::sim::RequestType>(t);
        report += (t == 0 ? " " : ", ") + tq5::sim::RequestOptionName(type) + " " +
                  std::to_string(device.RequestCount(type));
    }
    report += "\nwrite-block resends: " + std::to_string(CountResentBlocks(device)) + "\n";
    std::cout << report << std::flush;
    std::string problem;
    if (!options.stateFile.empty() &&
        !tq5::sim::WriteStateFile(options.stateFile, report, problem)) {
        std::cerr << "tq5-devsim: can't write " << options.stateFile << ": " << problem << '\n';
    }
}

}  // namespace

int main(int argc, char** argv) {
    int exitCode = 0;
    const auto options = tq5::sim::ParseDevsimOptions(argc, argv, exitCode);
    if (!options) return exitCode;

    // Every thread started from here on (the device's, the MIDI system's) inherits the
    // blocked set, so the signals reach only the sigwait below.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    VirtualDevice device(options->device);
    tq5::sim::DeviceEndpoint endpoint(device, *options);
    std::string error;
    if (!endpoint.Open(error)) {
        std::cerr << "tq5-devsim: " << error << '\n';
        return 2;
    }
    ReportState(device, *options);
    std::cout << "tq5-devsim ready" << std::endl;

    while (true) {
        int received = 0;
        if (sigwait(&signals, &received) != 0) continue;
        ReportState(device, *options);
        if (received != SIGUSR1) break;
    }
    return 0;
}
