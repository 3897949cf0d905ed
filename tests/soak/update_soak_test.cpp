// Soak: firmware updates against the virtual TQ-5 while it commits seeded random faults
// (lost, late, refused, duplicated, stray and cut-off replies, replies in pieces or with
// real-time bytes inside, lost requests), with the read-back check as tq5-updater runs it. Every
// update must end either in success with the flash holding the images, or with the message that the
// procedures give for one of the faults the device committed; the update that follows on the same
// device, without faults, must always succeed. A success over a flash that differs from the images
// is never acceptable.
//
// TQ5_SOAK_RUNS sets the number of faulty updates (default 200), TQ5_SOAK_SEED the seed
// (default 1); the same seed commits the same faults. The test prints how the runs ended.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/device_rig.hpp"
#include "engine/string_table.hpp"

namespace tq5::soak {
namespace {

using sim::FaultAction;
using sim::RequestType;

constexpr std::string_view kSuccess = "success";
constexpr std::string_view kNoMessage = "failure without a message";

int EnvInt(const char* name, int fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return fallback;
    return std::atoi(text);
}

// The carried images in the shipped layout (same ids, flash addresses, version fields and
// plan), with the two large ones cut short so that a run takes milliseconds: the main image
// keeps four full blocks and a short one, the data image five and a short one. The boot image
// keeps its size, since its version field is its last four bytes.
const engine::FirmwareStore& SoakImages() {
    static const firmware::MemoryFirmwareStore store = [] {
        firmware::MemoryFirmwareStore s = test::CarriedImages();
        for (const auto& [id, size] : {std::pair{engine::kImageMain, 4u * 4096u + 464u},
                                       std::pair{engine::kImageData, 5u * 4096u + 100u}}) {
            const engine::ImageRef full = *s.Locate(id);
            s.Set(id, std::vector<std::uint8_t>(full.data, full.data + size));
        }
        return s;
    }();
    return store;
}

std::string Text(int id) { return std::string(engine::LoadText(id)); }

// How an update ended, from what the window was shown after `marker` (all calls if empty).
std::string OutcomeOf(const test::RecordingHost& host, const std::string& marker) {
    const std::vector<std::string> events = marker.empty() ? host.Events() : host.After(marker);
    std::string lastStatus;
    for (const std::string& e : events) {
        if (e.rfind("box:", 0) == 0) {
            const std::size_t textStart = e.find('|') + 1;
            return e.substr(textStart, e.find('|', textStart) - textStart);
        }
        if (e.rfind("status:", 0) == 0) lastStatus = e.substr(7);
    }
    return lastStatus == Text(engine::IDS_UPDATE_COMPLETED) ? std::string(kSuccess)
                                                            : std::string(kNoMessage);
}

struct Committed {
    RequestType type;
    FaultAction action;
};

// The faults the device committed, from the notes of its transcript.
std::vector<Committed> CommittedFaults(const sim::VirtualDevice& device) {
    std::vector<Committed> out;
    for (const sim::TranscriptEntry& entry : device.Transcript()) {
        if (entry.direction != sim::Direction::ToDevice || entry.note.empty()) continue;
        const auto type =
            sim::RequestTypeOf(protocol::ParseRequest(entry.bytes.data(), entry.bytes.size()).kind);
        if (!type) continue;
        for (std::size_t a = 0; a < sim::kFaultActionCount; ++a) {
            const auto action = static_cast<FaultAction>(a);
            if (entry.note.find(sim::FaultActionName(action)) != std::string::npos) {
                out.push_back({*type, action});
            }
        }
    }
    return out;
}

// How long the procedures wait for the answer to a request of this type.
std::uint32_t WaitFor(RequestType type, const engine::Timing& timing) {
    switch (type) {
        case RequestType::WriteBlock:
            return timing.blockWaitMs;
        case RequestType::Erase:
        case RequestType::ReadMemory:
            return timing.eraseReadWaitMs;
        default:
            return timing.replyWaitMs;
    }
}

// The ways a fault on one request may end an update; none for faults the update rides out.
std::vector<std::string> EndingsFor(const Committed& fault, const sim::RandomFaults& random,
                                    const engine::Timing& timing) {
    const bool lost =
        fault.action == FaultAction::DropReply || fault.action == FaultAction::SendTruncated ||
        fault.action == FaultAction::LoseRequest ||
        (fault.action == FaultAction::DelayReply && random.delayMs >= WaitFor(fault.type, timing));
    const bool refused = fault.action == FaultAction::AnswerStatus;
    // A reply that comes twice is taken for the answer to whatever waits next. A surplus
    // status reply, or the shift of every later answer by one, ends the update with "Transfer
    // error occurred."; a copy taken for the boot-version read fails that read.
    if (fault.action == FaultAction::DuplicateReply || fault.action == FaultAction::DuplicateLate) {
        return {Text(engine::IDS_TRANSFER_ERROR), std::string(kNoMessage)};
    }
    switch (fault.type) {
        case RequestType::IdentityRequest:
            if (lost) return {Text(engine::IDS_TIMEOUT_1)};
            if (refused || fault.action == FaultAction::AnswerOtherId) {
                return {Text(engine::IDS_ILLEGAL_DEVICE)};
            }
            return {};
        case RequestType::EnterUpdate:
            if (lost) return {Text(engine::IDS_TIMEOUT_1)};
            if (refused) {
                return {Text(random.status == protocol::kStatusNotInUpdateMode
                                 ? engine::IDS_USE_UPDATE_MODE
                                 : engine::IDS_TRANSFER_ERROR)};
            }
            return {};
        case RequestType::ReadMemory:
            // The boot version's read shows nothing when it fails; a read of the check is
            // made again, up to eight times.
            if (lost || refused || fault.action == FaultAction::CorruptReadCrc) {
                return {std::string(kNoMessage), Text(engine::IDS_TRANSFER_ERROR)};
            }
            return {};
        case RequestType::Erase:  // a time-out is never retried; a refusal seven times over
            if (lost) return {Text(engine::IDS_TIMEOUT_3)};
            if (refused) return {Text(engine::IDS_TRANSFER_ERROR)};
            return {};
        case RequestType::WriteBlock:  // only after 32 failures of one block in a row
            // An answer later than every wait for it has been given up for lost: when it
            // comes after all, it is surplus.
            if (lost) return {Text(engine::IDS_TIMEOUT_2), Text(engine::IDS_TRANSFER_ERROR)};
            if (refused) return {Text(engine::IDS_TRANSFER_ERROR)};
            return {};
        case RequestType::Finish:  // any status counts as completion
            if (lost) return {Text(engine::IDS_TRANSFER_ERROR)};
            return {};
    }
    return {};
}

std::string Describe(const Committed& fault) {
    static const char* const kTypes[] = {"identity", "enter-update", "finish",
                                         "erase",    "write-block",  "read-memory"};
    return std::string(kTypes[static_cast<std::size_t>(fault.type)]) + " " +
           sim::FaultActionName(fault.action);
}

bool FlashHoldsImages(const sim::VirtualDevice& device) {
    const sim::FlashState state = device.InspectFlash(SoakImages());
    for (const sim::RegionState& region : state.regions) {
        if (!region.holdsImage) return false;
    }
    return true;
}

struct Tally {
    std::map<std::string, int> outcomes;
    std::map<std::string, int> faults;
    int runsWithFaults = 0;
    int successesDespiteFaults = 0;

    void Print(int runs, std::uint32_t seed, double seconds) const {
        std::cout << "soak: " << runs << " faulty updates, seed " << seed << ", " << seconds
                  << " s\n  outcomes:\n";
        for (const auto& [outcome, count] : outcomes) {
            std::cout << "    " << count << "  " << outcome << "\n";
        }
        std::cout << "  runs with at least one fault: " << runsWithFaults
                  << "; of them ended in success: " << successesDespiteFaults
                  << "\n  faults committed:\n";
        for (const auto& [fault, count] : faults) {
            std::cout << "    " << count << "  " << fault << "\n";
        }
    }
};

TEST(UpdateSoak, FaultyUpdatesSucceedOrEndWithTheirFaultsMessageAndACleanUpdateFollows) {
    const int runs = EnvInt("TQ5_SOAK_RUNS", 200);
    const auto seed = static_cast<std::uint32_t>(EnvInt("TQ5_SOAK_SEED", 1));
    // Waits far shorter than the product's, yet long enough that a loaded machine (two busy
    // cores under Wine held replies back by over 250 ms) does not turn an answer that comes
    // in time into a time-out that no fault explains.
    engine::Timing timing = test::ShortTiming();
    timing.replyWaitMs = 1000;
    timing.eraseReadWaitMs = 1000;
    timing.verifyReadWaitMs = 1000;
    // The run's own choices; the device draws its faults from a seed of its own per run.
    std::mt19937 draw(seed);
    // Late replies that the update outwaits, that outlast only a block's wait, and that
    // outlast every wait.
    constexpr std::uint32_t kDelaysMs[] = {30, 300, 1200};

    Tally tally;
    std::vector<std::string> problems;
    const auto started = std::chrono::steady_clock::now();
    for (int run = 0; run < runs; ++run) {
        sim::DeviceOptions options;
        options.firmware.images = &SoakImages();
        if (draw() % 2 == 0) options.firmware.bootVersion = "0.90";  // the boot rows run too
        options.seed = seed * 100000u + static_cast<std::uint32_t>(run);
        // Half the runs spread faults over every request, mostly write blocks then; the other
        // half aims them at the requests a fault can end an update on.
        if (draw() % 2 == 0) {
            options.randomFaults.probability = 0.05;
        } else {
            options.randomFaults.probability = 0.25;
            options.randomFaults.on = {RequestType::IdentityRequest, RequestType::EnterUpdate,
                                       RequestType::ReadMemory, RequestType::Erase,
                                       RequestType::Finish};
        }
        options.randomFaults.delayMs = kDelaysMs[draw() % 3];
        options.randomFaults.status = draw() % 2 == 0 ? protocol::kStatusNotInUpdateMode : 1;
        const sim::RandomFaults random = options.randomFaults;
        test::DeviceRig rig(options, SoakImages(), timing);
        rig.env.verifyFlash = true;  // as tq5-updater runs it
        const std::string where =
            "run " + std::to_string(run) + " (device seed " + std::to_string(options.seed) + "): ";

        rig.RunUpdate();
        const std::string outcome = OutcomeOf(rig.host, "");
        const std::vector<Committed> committed = CommittedFaults(rig.device);
        ++tally.outcomes[outcome];
        for (const Committed& fault : committed) ++tally.faults[Describe(fault)];
        if (!committed.empty()) ++tally.runsWithFaults;
        if (rig.context.IsBusy()) problems.push_back(where + "controls left locked");

        if (outcome == kSuccess) {
            if (!committed.empty()) ++tally.successesDespiteFaults;
            if (!FlashHoldsImages(rig.device)) {
                problems.push_back(where + "success reported, but the flash differs");
            }
        } else {
            bool explained = false;
            std::string faults;
            for (const Committed& fault : committed) {
                faults += " [" + Describe(fault) + "]";
                for (const std::string& ending : EndingsFor(fault, random, timing)) {
                    explained = explained || ending == outcome;
                }
            }
            if (!explained) {
                problems.push_back(where + "ended with \"" + outcome +
                                   "\", which none of its faults explains:" + faults);
            }
        }

        // The user tries again: the device booted into its update mode, no more faults. Late
        // replies of the faulty run are out of the way first.
        rig.device.ClearFaults();
        rig.device.WaitIdle();
        // ... and through the dispatcher, which may lag behind on a loaded machine: a reply
        // of the faulty run counted in the clean one would be surplus there.
        while (rig.queue.Size() != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        rig.device.SetMode(sim::DeviceMode::UpdateReady);
        rig.host.Mark("clean");
        rig.RunUpdate();
        const std::string clean = OutcomeOf(rig.host, "clean");
        if (clean != kSuccess) {
            const std::vector<engine::Outcome> outcomes = rig.host.Outcomes();
            const engine::Outcome last = outcomes.empty() ? engine::Outcome{} : outcomes.back();
            problems.push_back(where + "the clean update ended with " + clean + " (step " +
                               std::to_string(static_cast<int>(last.phase)) + ", cause " +
                               std::to_string(static_cast<int>(last.cause)) + ")");
        }
        if (!FlashHoldsImages(rig.device)) {
            problems.push_back(where + "the clean update left a flash that differs");
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    tally.Print(runs, seed, seconds);

    for (const std::string& problem : problems) ADD_FAILURE() << problem;
    // The faults really were there, and really did end some updates and not others.
    EXPECT_GT(tally.runsWithFaults, runs / 2);
    if (runs >= 50) {
        EXPECT_GT(tally.outcomes[std::string(kSuccess)], 0);
        EXPECT_LT(tally.outcomes[std::string(kSuccess)], runs);
    }
}

}  // namespace
}  // namespace tq5::soak
