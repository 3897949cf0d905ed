// UpdaterTestBench.exe: the updater's real window (the same CRk4UpdatorApp, dialog logic and
// Win32 view as Updater.exe, the same resources) wired to the virtual MIDI driver, whose
// ports host a virtual TQ-5. A test program only: Updater.exe always runs on WinMM, and this
// one is neither shipped nor installed. Options: tests/win32/test_bench_options.hpp.
//
// The ports: a loopback with nothing behind it, then the pair with the device, named
// "USB Audio Device" (with the instance number from instance 2 on), so that the lists
// preselect the device as they would a real one.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/preferred_ports.hpp"
#include "app/win32/resource_firmware_store.hpp"
#include "app/win32/rk4_updator_app.hpp"
#include "midi/drivers/virtual/virtual_backend.hpp"
#include "sim/port_pair_device.hpp"
#include "tests/win32/test_bench_options.hpp"

namespace {

constexpr const char* kLoopbackName = "Virtual Loopback";

int RunBench(const tq5::test::TestBenchOptions& options) {
    const tq5::app::ResourceFirmwareStore firmware;
    tq5::midi::VirtualMidiBackend backend;
    tq5::app::CRk4UpdatorApp app([&](int instanceNumber) {
        backend.AddPair(kLoopbackName, kLoopbackName);
        const std::string name = tq5::app::PreferredPortNames(instanceNumber)[1];
        tq5::sim::DeviceOptions device = options.device;
        device.firmware.images = &firmware;  // the device runs the images this program carries
        tq5::sim::HostDevice(backend.AddPair(name, name), device);
        return tq5::app::CoreSettings{backend, firmware};
    });
    app.InitInstance();
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const std::vector<std::string> args(__argv + 1, __argv + __argc);
    std::string error;
    const auto options = tq5::test::ParseTestBenchOptions(args, error);
    if (!options) {
        std::fprintf(stderr, "UpdaterTestBench: %s\n", error.c_str());
        return 2;
    }
    const int result = RunBench(*options);
    // Reached only when the window, the workers, the ports and the device have all ended.
    if (!options->exitReport.empty()) {
        if (std::FILE* report = std::fopen(options->exitReport.c_str(), "w")) {
            std::fprintf(report, "ended normally\n");
            std::fclose(report);
        }
    }
    return result;
}
