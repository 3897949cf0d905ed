// Finding the TQ-5 by asking every port, on the virtual MIDI driver: which output and input
// pairs answer, and that nothing but the identity request reaches any port.

#include "app/cli/device_search.hpp"

#include <gtest/gtest.h>

#include <array>
#include <utility>
#include <vector>

#include "midi/drivers/virtual/virtual_backend.hpp"
#include "sim/port_pair_device.hpp"

namespace tq5::app::cli {
namespace {

using namespace std::chrono_literals;

enum class FarEnd { Silent, Loopback, Tq5, Foreign, SlowTq5, Tq5AnsweringOnNextInput };

void Attach(midi::VirtualMidiBackend& backend, std::size_t index, FarEnd end) {
    midi::VirtualPortPair& pair = *backend.Pair(index);
    midi::VirtualPortPair* next = backend.Pair(index + 1);
    if (end == FarEnd::Silent) return pair.SetFarEnd([](const std::uint8_t*, std::size_t) {});
    if (end == FarEnd::Loopback) {  // as through a "Midi Through" port
        return pair.SetFarEnd(
            [&](const std::uint8_t* m, std::size_t n) { pair.SendToInput(m, n); });
    }
    if (end == FarEnd::Tq5AnsweringOnNextInput) {
        return pair.SetFarEnd([next](const std::uint8_t*, std::size_t) {
            std::array<std::uint8_t, protocol::kIdentityReplyLength> reply{};
            next->SendToInput(reply.data(),
                              protocol::BuildIdentityReply(reply.data(), {0x6E, 0, 7, 0}));
        });
    }
    sim::DeviceOptions device;
    if (end == FarEnd::Foreign) device.id = {0x41, 0x00, 0x19, 0x00};
    sim::Fault slow;  // answers in the middle of the next output's window
    slow.on = sim::RequestType::IdentityRequest;
    slow.ordinal = 0;
    slow.action = sim::FaultAction::DelayReply;
    slow.delayMs = 750;
    if (end == FarEnd::SlowTq5) device.faults.push_back(slow);
    sim::HostDevice(pair, device);
}

TEST(DeviceSearch, PairsEachAnsweringOutputWithItsInputAndSendsNothingButTheRequest) {
    using Pairs = std::vector<std::pair<std::int32_t, std::int32_t>>;
    struct Row {
        std::vector<FarEnd> ports;
        Pairs tq5s;
        std::size_t others;
    };
    const std::vector<Row> rows = {
        {{FarEnd::Loopback, FarEnd::Silent, FarEnd::Foreign, FarEnd::Tq5}, {{3, 3}}, 1},
        {{FarEnd::Loopback, FarEnd::Foreign}, {}, 1},
        {{FarEnd::Tq5, FarEnd::Silent, FarEnd::Tq5}, {{0, 0}, {2, 2}}, 0},
        {{FarEnd::Tq5AnsweringOnNextInput, FarEnd::Silent}, {{0, 1}}, 0},
        {{FarEnd::SlowTq5, FarEnd::Silent}, {}, 0},  // a late answer is not the next output's
    };
    std::array<std::uint8_t, protocol::kIdentityRequestLength> request{};
    protocol::BuildIdentityRequest(request.data());
    for (std::size_t r = 0; r < rows.size(); ++r) {
        midi::VirtualMidiBackend backend;
        std::vector<std::int32_t> all;
        for (std::size_t i = 0; i < rows[r].ports.size(); ++i) {
            backend.AddPair("in " + std::to_string(i), "out " + std::to_string(i));
            all.push_back(static_cast<std::int32_t>(i));
        }
        for (const std::int32_t i : all) Attach(backend, i, rows[r].ports[i]);

        // Windows that a busy machine's answers fit in; the slow TQ-5 answers in the middle of
        // the next output's.
        const SearchResult found = SearchForDevices(backend, all, all, {}, {500ms, 100ms});
        Pairs tq5s;
        for (const AnsweringDevice& d : found.tq5s) tq5s.emplace_back(d.output, d.input);
        EXPECT_EQ(tq5s, rows[r].tq5s) << "row " << r;
        EXPECT_EQ(found.others.size(), rows[r].others) << "row " << r;
        for (const std::int32_t i : all) {
            for (const auto& sent : backend.Pair(i)->SentMessages()) {
                EXPECT_TRUE(std::equal(sent.begin(), sent.end(), request.begin(), request.end()));
            }
        }
    }
}

}  // namespace
}  // namespace tq5::app::cli
