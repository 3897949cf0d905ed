// The WinMM drivers on the real winmm.dll. Under Wine in CI there are no MIDI devices; these
// are the paths that need none. What Wine's MIDI mapper does is printed for the record.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <vector>

#include "midi/drivers/winmm/winmm_input.hpp"
#include "midi/drivers/winmm/winmm_output.hpp"

namespace tq5::test {
namespace {

using midi::winmm::WinMmInputDriver;
using midi::winmm::WinMmOutputDriver;

TEST(WinMmSystemTest, DeviceListsMatchTheCounts) {
    WinMmInputDriver input;
    WinMmOutputDriver output;
    const std::uint32_t inputs = input.GetDeviceCount();
    const std::uint32_t outputs = output.GetDeviceCount();
    std::printf("[ record   ] MIDI devices: %u in, %u out\n", inputs, outputs);
    EXPECT_EQ(input.GetDeviceName(inputs), "") << "no device past the end";
    EXPECT_EQ(output.GetDeviceName(outputs), "");
}

TEST(WinMmSystemTest, InputOnMinusOneIsRefusedAndLeavesNothingOpen) {
    WinMmInputDriver input;
    EXPECT_FALSE(input.Open(-1, [](const std::uint8_t*, std::size_t) {}));
    if (input.GetDeviceCount() == 0) {
        EXPECT_FALSE(input.Open(0, [](const std::uint8_t*, std::size_t) {}));
    }
    input.Close();
}

TEST(WinMmSystemTest, OutputOnTheMapperEitherRefusesOrSendsWithinTheBound) {
    WinMmOutputDriver output;
    const bool opened = output.Open(-1);
    std::printf("[ record   ] midiOutOpen(MIDI_MAPPER): %s\n", opened ? "opened" : "refused");
    const std::vector<std::uint8_t> identityRequest = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
    const auto start = std::chrono::steady_clock::now();
    const bool sent = output.Send(identityRequest.data(), 6, 2000);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    if (opened) {
        std::printf("[ record   ] send through the mapper: %s after %lld ms\n",
                    sent ? "done" : "not done", static_cast<long long>(ms));
        EXPECT_LT(ms, 5000);
    } else {
        EXPECT_FALSE(sent);
    }
    output.Close();
    EXPECT_FALSE(output.Send(identityRequest.data(), 6, 2000));
    if (output.GetDeviceCount() == 0) {
        EXPECT_FALSE(output.Open(0));
    }
}

}  // namespace
}  // namespace tq5::test
