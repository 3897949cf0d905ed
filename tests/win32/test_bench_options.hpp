#pragma once
// The command line of UpdaterTestBench.exe, the test build of the updater's window wired to
// a virtual TQ-5. Updater.exe itself reads no options; only this build does.
//
//   --mode normal|update-ready|flash-writing   the device's mode at start (update-ready)
//   --write-ms N        the device's time to program one write block (2)
//   --erase-ms N        its time to erase one 4 KiB sector (1)
//   --line-rate N       bytes per second each way over the cable; 0 = unlimited (0)
//   --system-version T  the system version installed on the device ("1.05")
//   --fault FAULT       a scripted fault, REQUEST:ORDINAL:ACTION[:VALUE] as tq5-devsim takes
//                       it, e.g. write-block:36:delay-reply:600; may be repeated
//   --exit-report PATH  written once the program has shut down in order

#include <optional>
#include <string>
#include <vector>

#include "sim/virtual_device.hpp"

namespace tq5::test {

struct TestBenchOptions {
    sim::DeviceOptions device;
    std::string exitReport;
};

// The defaults: a device booted into its update mode, system 1.05 installed, about two
// milliseconds a block and one a sector, so that a whole update takes a few seconds.
TestBenchOptions DefaultTestBenchOptions();

// The arguments after the program's name. Nothing, with `error` saying why, on an unknown
// option, a missing or malformed value.
std::optional<TestBenchOptions> ParseTestBenchOptions(const std::vector<std::string>& args,
                                                      std::string& error);

}  // namespace tq5::test
