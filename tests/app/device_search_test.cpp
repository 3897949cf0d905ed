// Finding the TQ-5 by asking every port, on the virtual MIDI driver: which output and input
// pairs answer, and that nothing but the identity request reaches any port.

#include "app/cli/device_search.hpp"

#include <gtest/gtest.h>

#include <array>
#include <utility>
#include <vector>

#include "midi/drivers/virtual/virtual_midi_backend.hpp"

namespace tq5::app::cli {
namespace {

using namespace std::chrono_literals;

enum class FarEnd { Silent, Loopback, Tq5, Foreign, SlowTq5, Tq5AnsweringOnNextInput };

// What sits behind pair `index` of `backend`.
void Attach(midi::VirtualMidiBackend& backend, std::size_t index, FarEnd end) {
    midi::VirtualPortPair& pair = *backend.Pair(index);
    if (end == FarEnd::Silent) return pair.SetFarEnd([](const std::uint8_t*, std::size_t) {});
    if (end == FarEnd::Loopback) {  // what is sent comes back, as through a "Midi Through" port
        return pair.SetFarEnd(
            [&pair](const std::uint8_t* bytes, std::size_t n) { pair.SendToInput(bytes, n); });
    }
    if (end == FarEnd::Tq5AnsweringOnNextInput) {
        midi::VirtualPortPair& next = *backend.Pair(index + 1);
        return pair.SetFarEnd([&next](const std::uint8_t*, std::size_t) {
            std::array<std::uint8_t, protocol::kIdentityReplyLength> reply{};
            protocol::BuildIdentityReply(reply.data(), {0x6E, 0x00, 0x07, 0x00});
            next.SendToInput(reply.data(), reply.size());
        });
    }
    sim::DeviceOptions device;
    if (end == FarEnd::Foreign) device.id = {0x41, 0x00, 0x19, 0x00};
    if (end == FarEnd::SlowTq5) {  // answers once the search has moved on to the next output
        sim::Fault slow;
        slow.on = sim::RequestType::IdentityRequest;
        slow.ordinal = 0;
        slow.action = sim::FaultAction::DelayReply;
        slow.delayMs = 225;  // in the middle of the next output's window
        device.faults.push_back(slow);
    }
    pair.HostDevice(device);
}

TEST(DeviceSearch, PairsEachAnsweringOutputWithItsInputAndSendsNothingButTheRequest) {
    using Pairs = std::vector<std::pair<std::int32_t, std::int32_t>>;
    struct Row {
        const char* what;
        std::vector<FarEnd> ports;
        Pairs tq5s;
        std::size_t others;
    };
    const std::vector<Row> rows = {
        {"one TQ-5 among a loopback, a silent port and another device",
         {FarEnd::Loopback, FarEnd::Silent, FarEnd::Foreign, FarEnd::Tq5},
         {{3, 3}},
         1},
        {"no TQ-5", {FarEnd::Loopback, FarEnd::Foreign}, {}, 1},
        {"two TQ-5s", {FarEnd::Tq5, FarEnd::Silent, FarEnd::Tq5}, {{0, 0}, {2, 2}}, 0},
        {"the answer comes on another input",
         {FarEnd::Tq5AnsweringOnNextInput, FarEnd::Silent},
         {{0, 1}},
         0},
        {"a late answer is not taken for the next output's", {FarEnd::SlowTq5, FarEnd::Silent},
         {},
         0},
    };
    std::array<std::uint8_t, protocol::kIdentityRequestLength> request{};
    protocol::BuildIdentityRequest(request.data());
    for (const Row& row : rows) {
        midi::VirtualMidiBackend backend;
        std::vector<std::int32_t> all;
        for (std::size_t i = 0; i < row.ports.size(); ++i) {
            backend.AddPair("in " + std::to_string(i), "out " + std::to_string(i));
            all.push_back(static_cast<std::int32_t>(i));
        }
        for (std::size_t i = 0; i < row.ports.size(); ++i) Attach(backend, i, row.ports[i]);

        const SearchResult found = SearchForDevices(backend, all, all, {}, {150ms, 20ms});
        Pairs tq5s;
        for (const AnsweringDevice& d : found.tq5s) tq5s.emplace_back(d.output, d.input);
        EXPECT_EQ(tq5s, row.tq5s) << row.what;
        EXPECT_EQ(found.others.size(), row.others) << row.what;
        EXPECT_EQ(found.outputsAsked, row.ports.size()) << row.what;
        for (std::size_t i = 0; i < row.ports.size(); ++i) {
            for (const auto& sent : backend.Pair(i)->SentMessages()) {
                EXPECT_TRUE(std::equal(sent.begin(), sent.end(), request.begin(), request.end()))
                    << row.what << ": port " << i;
            }
        }
    }
}

TEST(DeviceSearch, AsksNobodyWhenNoInputCanListen) {
    midi::VirtualMidiBackend backend;
    midi::VirtualPortPair& pair = backend.AddPair("in", "out");
    pair.HostDevice();
    pair.SetRefuseInputOpen(true);
    const SearchResult found = SearchForDevices(backend, {0}, {0}, {});
    EXPECT_EQ(found.inputsHeard, 0u);
    EXPECT_TRUE(pair.SentMessages().empty());
}

}  // namespace
}  // namespace tq5::app::cli
