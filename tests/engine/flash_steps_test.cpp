#include "engine/procedures/flash_steps.hpp"

#include <gtest/gtest.h>

#include "engine_rig.hpp"
#include "firmware/memory_firmware_store.hpp"

namespace tq5::engine {
namespace {

constexpr DeviceId kTq5{0x6E, 0x00, 0x05, 0x00};
constexpr std::uint32_t kMainAddress = 0x33000;  // image 129, 283088 bytes
constexpr std::uint32_t kSecondBlock = kMainAddress + 4096;

Bytes ImageBytes(const FirmwareStore& store, int id) {
    const ImageRef image = *store.Locate(id);
    return Bytes(image.data, image.data + image.size);
}

// Answers the write block at `address` with `script` (one entry per send: a status, or -1
// for no answer), then with 0; every other request with 0.
test::Responder BlockScript(std::uint32_t address, std::vector<int> script) {
    return [address, script](const Request& r) -> std::vector<Action> {
        if (r.kind == RequestKind::WriteBlock && r.address == address &&
            r.sendOfThis <= static_cast<int>(script.size())) {
            const int answer = script[static_cast<std::size_t>(r.sendOfThis - 1)];
            if (answer < 0) return {};
            return {{StatusReply(static_cast<std::uint8_t>(answer))}};
        }
        return test::GoodDevice{}(r);
    };
}

// Block waits short enough to run 32 of them in a test.
engine::Timing QuickBlocks() {
    engine::Timing t = test::ShortTiming();
    t.blockWaitMs = 40;
    return t;
}

std::size_t SendsOf(const EngineRig& rig, RequestKind kind, std::uint32_t address) {
    std::size_t n = 0;
    for (const Request& r : rig.device.Requests(kind)) n += r.address == address ? 1 : 0;
    return n;
}

// Blocks that are answered: a wait that a loaded machine never runs out of, so that no block
// is sent twice where each is counted.
engine::Timing AnsweredBlocks() {
    engine::Timing t = test::ShortTiming();
    t.blockWaitMs = 1000;
    return t;
}

class FlashSteps : public ::testing::Test {
protected:
    explicit FlashSteps(engine::Timing timing = AnsweredBlocks())
        : rig{firmware::EmbeddedFirmware(), timing} {
        rig.context.SetCurrentDeviceId(kTq5);
    }
    std::size_t SendsOf(RequestKind kind, std::uint32_t address) const {
        return engine::SendsOf(rig, kind, address);
    }
    EngineRig rig;
};

// Blocks whose answers go missing, up to 32 in a row.
class UnansweredBlocks : public FlashSteps {
protected:
    UnansweredBlocks() : FlashSteps(QuickBlocks()) {}
};

// The late-answer cases need waits that are unambiguous on a loaded machine.
class LateAnswers : public ::testing::Test {
protected:
    LateAnswers() { rig.context.SetCurrentDeviceId(kTq5); }
    // The late answers land half a block wait away from the moments that decide where they
    // belong: long enough a wait that a loaded machine does not move them across.
    static engine::Timing Timing() {
        engine::Timing t = test::ShortTiming();
        t.blockWaitMs = 400;
        return t;
    }
    EngineRig rig{firmware::EmbeddedFirmware(), Timing()};
};

// --- erase ---------------------------------------------------------------------------------

TEST_F(FlashSteps, EraseSucceedsAfterSixErrorStatuses) {
    rig.device.SetResponder([](const Request& r) {
        return std::vector<Action>{{StatusReply(r.sendOfThis <= 6 ? 2 : 0)}};
    });
    EXPECT_EQ(Ended(rig.env, EraseRegion(rig.env, 0xD2000, 0x1000)), 0);
    ASSERT_EQ(rig.device.Requests().size(), 7u);
    EXPECT_EQ(rig.device.Requests()[0].size, 0x1000u);
    EXPECT_EQ(rig.host.Of("status"), std::vector<std::string>(7, "Erasing Flash memory."));
    EXPECT_EQ(rig.host.Of("range"), std::vector<std::string>{"10"});
    EXPECT_EQ(rig.host.Of("pos").back(), "10");
    EXPECT_TRUE(rig.host.Of("box").empty());
}

TEST_F(FlashSteps, EraseTimeOutIsNeverRetried) {
    rig.device.SetResponder([](const Request&) { return std::vector<Action>{}; });
    EXPECT_EQ(Ended(rig.env, EraseRegion(rig.env, 0, 0x32000)), -1);
    EXPECT_EQ(rig.device.Requests().size(), 1u);
    EXPECT_EQ(rig.host.Of("box"), std::vector<std::string>{"Error|Time out error(3)|error"});
}

// --- write ---------------------------------------------------------------------------------

TEST_F(FlashSteps, WriteSplitsImageIntoBlocksAndShowsOffsets) {
    EXPECT_EQ(Ended(rig.env, WriteImage(rig.env, kMainAddress, 0, kImageMain)), 0);
    const auto blocks = rig.device.Requests(RequestKind::WriteBlock);
    ASSERT_EQ(blocks.size(), 70u);
    EXPECT_EQ(blocks[68].size, 4096u);
    EXPECT_EQ(blocks[69].size, 464u);
    EXPECT_EQ(blocks[69].address, kMainAddress + 282624);
    const auto status = rig.host.Of("status");
    EXPECT_EQ(status.front(), "Data transmit  0 / 283088 ");
    EXPECT_EQ(status.back(), "Data transmit  282624 / 283088 ");
    EXPECT_EQ(rig.host.Of("range"), std::vector<std::string>{"283088"});
    EXPECT_EQ(rig.host.Of("pos").back(), "283088");
    EXPECT_EQ(rig.device.WrittenBytes(kMainAddress, 283088), ImageBytes(rig.firmware, kImageMain));
}

TEST_F(FlashSteps, SmallImageIsOneBlock) {
    EXPECT_EQ(Ended(rig.env, WriteImage(rig.env, 0xD2000, 0, kImageSystem)), 0);
    EXPECT_EQ(rig.device.Requests(RequestKind::WriteBlock).size(), 1u);
    EXPECT_EQ(rig.host.Of("status"), std::vector<std::string>{"Data transmit  0 / 4096 "});
}

TEST_F(UnansweredBlocks, RetryCountClearsOnEachAcknowledgedBlock) {
    // 31 failures on two blocks in turn: 62 in all, but never 32 in a row.
    std::vector<int> mixed(31, 1);
    mixed[30] = -1;
    rig.device.SetResponder([mixed](const Request& r) {
        if (r.kind == RequestKind::WriteBlock && r.address <= kSecondBlock && r.sendOfThis <= 31) {
            const int answer = mixed[static_cast<std::size_t>(r.sendOfThis - 1)];
            return answer < 0
                       ? std::vector<Action>{}
                       : std::vector<Action>{{StatusReply(static_cast<std::uint8_t>(answer))}};
        }
        return test::GoodDevice{}(r);
    });
    EXPECT_EQ(Ended(rig.env, WriteImage(rig.env, kMainAddress, 0, kImageMain)), 0);
    EXPECT_EQ(SendsOf(RequestKind::WriteBlock, kMainAddress), 32u);
    EXPECT_EQ(SendsOf(RequestKind::WriteBlock, kSecondBlock), 32u);
}

struct LimitCase {
    std::vector<int> script;  // per send; -1 = no answer
    const char* message;
};

class WriteRetryLimit : public UnansweredBlocks, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(WriteRetryLimit, ThirtySecondFailureEndsWithItsKind) {
    rig.device.SetResponder(BlockScript(kSecondBlock, GetParam().script));
    EXPECT_EQ(Ended(rig.env, WriteImage(rig.env, kMainAddress, 0, kImageMain)), -1);
    EXPECT_EQ(SendsOf(RequestKind::WriteBlock, kSecondBlock), 32u);
    EXPECT_EQ(rig.device.Requests(RequestKind::WriteBlock).size(), 33u);  // nothing after it
    const auto events = rig.host.Events();
    EXPECT_EQ(events[events.size() - 2], std::string("box:Error|") + GetParam().message + "|error");
    EXPECT_EQ(events.back(), "release:");
}

std::vector<int> Failures(int first, int last) {
    std::vector<int> s(31, first);
    s.push_back(last);
    return s;
}

INSTANTIATE_TEST_SUITE_P(Kinds, WriteRetryLimit,
                         ::testing::Values(LimitCase{Failures(-1, -1), "Time out error(2)"},
                                           LimitCase{Failures(1, 1), "Transfer error occurred."},
                                           LimitCase{Failures(1, -1), "Time out error(2)"},
                                           LimitCase{Failures(-1, 7), "Transfer error occurred."}));

TEST_F(FlashSteps, MissingImageSendsNothing) {
    firmware::MemoryFirmwareStore store =
        firmware::MemoryFirmwareStore::CopyOf(firmware::EmbeddedFirmware());
    store.Remove(kImageMain);
    EngineRig bare(store);
    bare.context.SetCurrentDeviceId(kTq5);
    EXPECT_EQ(Ended(bare.env, WriteImage(bare.env, kMainAddress, 0, kImageMain)), -1);
    EXPECT_TRUE(bare.device.Requests().empty());
    EXPECT_EQ(bare.host.Events(),
              (std::vector<std::string>{"box:Error|Transfer error occurred.|error", "release:"}));
}

TEST_F(FlashSteps, RowLongerThanItsImageSendsNothing) {
    EXPECT_EQ(Ended(rig.env, WriteImage(rig.env, 0xD2000, 4097, kImageSystem)), -1);
    EXPECT_TRUE(rig.device.Requests().empty());
    EXPECT_EQ(rig.host.Of("box"), std::vector<std::string>{"Error|Transfer error occurred.|error"});
}

// --- replies that arrive late or twice -----------------------------------------------------

TEST_F(FlashSteps, AnswerDuringRetryPauseIsNotTakenForTheResend) {
    engine::Timing t = test::ShortTiming();
    t.retryPauseMs = 60;
    EngineRig paused(firmware::EmbeddedFirmware(), t);
    paused.context.SetCurrentDeviceId(kTq5);
    // Each error status comes twice, the copy during the pause before the resend. Taken as
    // the resend's answer, 16 rejections would count as 32 failures.
    paused.device.SetResponder([](const Request& r) -> std::vector<Action> {
        if (r.kind == RequestKind::WriteBlock && r.address == kSecondBlock && r.sendOfThis <= 16) {
            return {{StatusReply(1)}, {StatusReply(1), 20}};
        }
        return test::GoodDevice{}(r);
    });
    EXPECT_EQ(Ended(paused.env, WriteImage(paused.env, kMainAddress, 0, kImageMain)), 0);
    EXPECT_EQ(paused.device.Requests(RequestKind::WriteBlock).size(), 70u + 16u);
    EXPECT_TRUE(paused.host.Of("box").empty());
}

// Replies carry no reference to their request: a message of another kind that arrives while a
// block waits (the TQ-5 answering another program's identity request on a shared port, a read
// reply) is no acknowledgement. A block answered only by such messages is sent again and
// finally times out; one answered by one of them and then by its status is written once.
TEST(FlashStepsStrays, MessagesOfAnotherKindNeverAcknowledgeABlock) {
    const Bytes strays[] = {test::IdentityReplyOf(kTq5), test::ReadReplyOf({1, 2, 3, 4}),
                            test::Hex("F0 52 00 6E 60 05 F7")};
    for (const Bytes& stray : strays) {
        EngineRig rig{firmware::EmbeddedFirmware(), QuickBlocks()};
        rig.context.SetCurrentDeviceId(kTq5);
        rig.device.SetResponder([stray](const Request& r) -> std::vector<Action> {
            if (r.kind == RequestKind::WriteBlock && r.address == kSecondBlock) return {{stray}};
            return test::GoodDevice{}(r);
        });
        EXPECT_EQ(Ended(rig.env, WriteImage(rig.env, kMainAddress, 0, kImageMain)), -1);
        EXPECT_EQ(engine::SendsOf(rig, RequestKind::WriteBlock, kSecondBlock), 32u);
        EXPECT_EQ(rig.host.Of("box"), std::vector<std::string>{"Error|Time out error(2)|error"});
        EXPECT_EQ(rig.host.Of("pos").back(), "4096");  // the first block only
    }
    EngineRig rig{firmware::EmbeddedFirmware(), AnsweredBlocks()};
    rig.context.SetCurrentDeviceId(kTq5);
    rig.device.SetResponder([](const Request& r) -> std::vector<Action> {
        if (r.kind == RequestKind::WriteBlock && r.address == kSecondBlock) {
            return {{test::IdentityReplyOf(kTq5)}, {StatusReply(0), 20}};
        }
        return test::GoodDevice{}(r);
    });
    EXPECT_EQ(Ended(rig.env, WriteImage(rig.env, kMainAddress, 0, kImageMain)), 0);
    EXPECT_EQ(rig.device.Requests(RequestKind::WriteBlock).size(), 70u);
    // Every answer went to its own block: none is left over for a request that follows.
    EXPECT_FALSE(rig.context.Event().Wait(100));
}

// A refusal followed by the window closing: the retry pause ends early, neither step sends its
// retry (an erase, a block) to the device, and nothing is reported. (Control updates on the
// way out go nowhere: the window disconnects its host before it closes.)
TEST(FlashStepsClosing, ClosingDuringARetryPauseSendsNoRetry) {
    engine::Timing t = test::ShortTiming();
    t.retryPauseMs = 60000;
    for (const RequestKind kind : {RequestKind::Erase, RequestKind::WriteBlock}) {
        EngineRig rig(firmware::EmbeddedFirmware(), t);
        rig.context.SetCurrentDeviceId(kTq5);
        rig.device.SetResponder([&rig, kind](const Request& r) -> std::vector<Action> {
            if (r.kind == kind) {
                return {{StatusReply(1)}, Action::Do(20, [&rig] { rig.CloseWindow(); })};
            }
            return test::GoodDevice{}(r);
        });
        const auto start = std::chrono::steady_clock::now();
        const int result = kind == RequestKind::Erase
                               ? Ended(rig.env, EraseRegion(rig.env, kMainAddress, 0x4000))
                               : Ended(rig.env, WriteImage(rig.env, kMainAddress, 0, kImageMain));
        EXPECT_EQ(result, -1);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        EXPECT_EQ(rig.device.Requests(kind).size(), 1u);
        EXPECT_TRUE(rig.host.Of("box").empty());
    }
}

// Every request of a write is a block. The first send of the second block is answered only
// after its resend has left; the resend's own answer follows. `rejectThird` makes the device refuse
// the third block every time.
test::Responder LateThenResend(int waitMs, bool rejectThird) {
    return [waitMs, rejectThird](const Request& r) -> std::vector<Action> {
        if (r.kind == RequestKind::WriteBlock && r.address == kSecondBlock) {
            if (r.sendOfThis == 1) return {{StatusReply(0), waitMs * 3 / 2}};
            if (r.sendOfThis == 2) return {{StatusReply(0), waitMs}};
        }
        // Every other answer takes a few milliseconds, so that no two answers meet in one
        // run of the dispatcher and merge into one signal.
        if (rejectThird && r.kind == RequestKind::WriteBlock && r.address == kSecondBlock + 4096) {
            return {{StatusReply(1), 5}};
        }
        return {{StatusReply(0), 5}};
    };
}

TEST_F(LateAnswers, LateAnswerAndResendAnswerBothBelongToTheirBlock) {
    rig.device.SetResponder(LateThenResend(static_cast<int>(rig.env.timing.blockWaitMs), false));
    EXPECT_EQ(Ended(rig.env, WriteImage(rig.env, kMainAddress, 0, kImageMain)), 0);
    EXPECT_EQ(rig.device.Requests(RequestKind::WriteBlock).size(), 71u);
    EXPECT_EQ(rig.device.WrittenBytes(kMainAddress, 283088), ImageBytes(rig.firmware, kImageMain));
    // The resend's answer did not satisfy the third block: the step ends with nothing pending.
    EXPECT_FALSE(rig.context.Event().Wait(50));
}

TEST_F(LateAnswers, LateAnswerNeverMakesARejectedBlockCountAsWritten) {
    rig.device.SetResponder(LateThenResend(static_cast<int>(rig.env.timing.blockWaitMs), true));
    EXPECT_EQ(Ended(rig.env, WriteImage(rig.env, kMainAddress, 0, kImageMain)), -1);
    EXPECT_EQ(SendsOf(rig, RequestKind::WriteBlock, kSecondBlock + 4096), 32u);
    EXPECT_EQ(rig.host.Of("box"), std::vector<std::string>{"Error|Transfer error occurred.|error"});
}

// The second block's first send is answered with `status` only after its block wait, in the
// middle of the retry pause that follows (a loaded machine may move either end by a good
// part of the pause); every other answer comes at once.
class LateAnswersInThePause : public ::testing::Test {
protected:
    static engine::Timing Timing() {
        engine::Timing t = test::ShortTiming();
        t.blockWaitMs = 200;
        t.retryPauseMs = 400;
        return t;
    }
    int WriteWithLateFirstAnswer(std::uint8_t status) {
        rig.context.SetCurrentDeviceId(kTq5);
        rig.device.SetResponder([status](const Request& r) -> std::vector<Action> {
            if (r.kind == RequestKind::WriteBlock && r.address == kSecondBlock &&
                r.sendOfThis == 1) {
                const engine::Timing t = Timing();
                return {
                    {StatusReply(status), static_cast<int>(t.blockWaitMs + t.retryPauseMs / 2)}};
            }
            return {{StatusReply(0), 5}};
        });
        return Ended(rig.env, WriteImage(rig.env, kMainAddress, 0, kImageMain));
    }
    EngineRig rig{firmware::EmbeddedFirmware(), Timing()};
};

TEST_F(LateAnswersInThePause, AcknowledgementNeedsNoResend) {
    EXPECT_EQ(WriteWithLateFirstAnswer(0), 0);
    EXPECT_EQ(SendsOf(rig, RequestKind::WriteBlock, kSecondBlock), 1u);
    EXPECT_EQ(rig.device.Requests(RequestKind::WriteBlock).size(), 70u);
    EXPECT_EQ(rig.device.WrittenBytes(kMainAddress, 283088), ImageBytes(rig.firmware, kImageMain));
    EXPECT_FALSE(rig.context.Event().Wait(50));
}

TEST_F(LateAnswersInThePause, RefusalSendsTheBlockAgain) {
    // A refusal is no acknowledgement: the block goes again, and its answer settles it.
    EXPECT_EQ(WriteWithLateFirstAnswer(1), 0);
    EXPECT_EQ(SendsOf(rig, RequestKind::WriteBlock, kSecondBlock), 2u);
    EXPECT_EQ(rig.device.WrittenBytes(kMainAddress, 283088), ImageBytes(rig.firmware, kImageMain));
    EXPECT_FALSE(rig.context.Event().Wait(50));
}

// --- read ----------------------------------------------------------------------------------

TEST_F(FlashSteps, ReadReturnsFourBytes) {
    rig.device.SetResponder(test::GoodDevice{kTq5, {{0x31FFC, Bytes{'1', '.', '0', '0'}}}});
    std::uint8_t out[4] = {};
    EXPECT_EQ(Code(ReadDeviceMemory(rig.env, 0x31FFC, 4, out)), 0);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{'1', '.', '0', '0'}));
    EXPECT_EQ(rig.device.Requests()[0].bytes,
              test::Hex("F0 52 00 6E 60 30 7C 3F 0C 00 00 04 00 00 00 00 F7"));
    EXPECT_TRUE(rig.host.Events().empty());
}

TEST_F(FlashSteps, ReadFailuresShowNothing) {
    const std::vector<test::Responder> failures = {
        [](const Request&) { return std::vector<Action>{}; },
        [](const Request&) {
            return std::vector<Action>{{test::ReadReplyOf({1, 2, 3, 4}, true)}};
        },
        [](const Request&) { return std::vector<Action>{{StatusReply(9)}}; },
        // Another kind of 0x60 message carries no data.
        [](const Request&) { return std::vector<Action>{{test::Hex("F0 52 00 6E 60 05 F7")}}; },
    };
    for (const auto& failure : failures) {
        EngineRig fresh;
        fresh.context.SetCurrentDeviceId(kTq5);
        fresh.device.SetResponder(failure);
        std::uint8_t out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
        EXPECT_EQ(Code(ReadDeviceMemory(fresh.env, 0x31FFC, 4, out)), -1);
        EXPECT_EQ(Bytes(out, out + 4), (Bytes{0xAA, 0xAA, 0xAA, 0xAA}));
        EXPECT_TRUE(fresh.host.Events().empty());
    }
}

}  // namespace
}  // namespace tq5::engine
