// The JACK driver when no server is there: a JACK server name that nobody runs.
// RtMidi's and libjack's warnings and exceptions must end as empty lists and failed opens,
// in this thread.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "midi/drivers/jack/jack_backend.hpp"
#include "midi/midi_in_port.hpp"
#include "midi/midi_out_port.hpp"
#include "support/bytes.hpp"

namespace tq5::midi {
namespace {

class NoJackServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::string name = "tq5-nobody-" + std::to_string(::getpid());
        ::setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        ::setenv("JACK_NO_START_SERVER", "1", 1);
    }
};

TEST_F(NoJackServer, ListsNoDevicesAndRefusesEveryOpenWithoutThrowing) {
    EXPECT_EQ(JackBackend::Open(), nullptr);
    JackBackend backend;
    MidiInPort in(backend.CreateInput());
    MidiOutPort out(backend.CreateOutput());

    EXPECT_EQ(in.GetDeviceCount(), 0u);
    EXPECT_EQ(out.GetDeviceCount(), 0u);
    EXPECT_EQ(in.GetDeviceName(0), "");
    EXPECT_EQ(out.GetDeviceName(0), "");

    for (std::int32_t index : {0, 1, -1}) {
        in.SetDeviceIndex(index);
        EXPECT_EQ(in.Open(), 0);
        EXPECT_EQ(out.Open(index), 0);
    }
    const auto request = test::Hex("F0 7E 00 06 01 F7");
    EXPECT_EQ(out.SendLong(request.data(), static_cast<std::uint32_t>(request.size())), 0);
    EXPECT_EQ(out.Close(), 0);
    in.Close();
}

}  // namespace
}  // namespace tq5::midi
