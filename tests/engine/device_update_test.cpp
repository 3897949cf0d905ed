// The firmware update against the virtual TQ-5: what the user sees and what the device's
// flash holds afterwards.

#include <gtest/gtest.h>

#include "device_rig.hpp"
#include "engine/procedures/flash_steps.hpp"

namespace tq5::engine {
namespace {

using sim::DeviceOptions;
using sim::Fault;
using sim::FaultAction;
using sim::RequestType;
using test::DeviceRig;

// A device whose boot loader is older than the carried one: the boot rows run.
DeviceOptions OldBoot() {
    DeviceOptions o;
    o.firmware.bootVersion = "0.90";
    return o;
}

DeviceOptions With(DeviceOptions o, Fault fault) {
    o.faults.push_back(fault);
    return o;
}

Fault On(RequestType type, std::uint32_t ordinal, std::uint32_t count, FaultAction action,
         std::uint8_t status = 1, std::uint32_t delayMs = 0) {
    Fault f;
    f.on = type;
    f.ordinal = ordinal;
    f.count = count;
    f.action = action;
    f.status = status;
    f.delayMs = delayMs;
    return f;
}

void ExpectFlashHoldsImages(const DeviceRig& rig) {
    for (const ImageRegion& region : kImageRegions) {
        const ImageRef image = *rig.firmware.Locate(region.imageId);
        EXPECT_EQ(rig.device.ReadFlash(region.address, image.size),
                  Bytes(image.data, image.data + image.size))
            << "image " << region.imageId;
    }
}

// Status texts with each run of "Data transmit" lines shown as one "T".
std::vector<std::string> StatusOutline(const std::vector<std::string>& texts) {
    std::vector<std::string> out;
    for (const std::string& t : texts) {
        const std::string entry = t.rfind("Data transmit", 0) == 0 ? "T" : t;
        if (entry == "T" && !out.empty() && out.back() == "T") continue;
        out.push_back(entry);
    }
    return out;
}

std::vector<std::string> Tail(const std::vector<std::string>& v, std::size_t n) {
    return std::vector<std::string>(v.end() - static_cast<std::ptrdiff_t>(std::min(n, v.size())),
                                    v.end());
}

const std::string kCompleted = "Version update completed.";

TEST(DeviceUpdate, OlderBootLoaderGetsEveryRow) {
    DeviceRig rig(OldBoot());
    rig.RunUpdate();
    EXPECT_EQ(rig.device.RequestCount(RequestType::WriteBlock), 927u);
    ExpectFlashHoldsImages(rig);

    const std::string E = "Erasing Flash memory.";
    EXPECT_EQ(StatusOutline(rig.host.Of("status")),
              (std::vector<std::string>{E, "", E, E, "T", E, "T", E, "T", E, "T", kCompleted}));
    EXPECT_EQ(rig.host.Of("counter"),
              (std::vector<std::string>{"0/10", "1/10", "2/10", "3/10", "4/10", "5/10", "6/10",
                                        "7/10", "8/10", "9/10", "10/10"}));
    EXPECT_EQ(rig.host.Of("range"),
              (std::vector<std::string>{"10", "10", "4096", "10", "204800", "10", "283088", "10",
                                        "3297280", "4096"}));
    EXPECT_EQ(rig.host.Of("pos").back(), "4096");
    EXPECT_EQ(Tail(rig.host.Events(), 3),
              (std::vector<std::string>{"status:" + kCompleted, "release:", "enable:0"}));
    EXPECT_TRUE(rig.host.Of("box").empty());
}

TEST(DeviceUpdate, CurrentBootLoaderIsLeftAlone) {
    DeviceRig rig;  // installed boot version equals the carried one
    const Bytes bootBefore = rig.device.ReadFlash(0, 0x32000);
    rig.RunUpdate();
    EXPECT_EQ(rig.device.RequestCount(RequestType::WriteBlock), 877u);
    EXPECT_EQ(rig.device.RequestCount(RequestType::Erase), 4u);
    ExpectFlashHoldsImages(rig);
    EXPECT_EQ(rig.device.ReadFlash(0, 0x32000), bootBefore);
    EXPECT_EQ(rig.host.Of("counter").size(), 11u);  // skipped rows still counted
    EXPECT_EQ(rig.host.Of("status").back(), kCompleted);
}

TEST(DeviceUpdate, DeviceNotInUpdateModeIsToldSoAndNothingErased) {
    DeviceOptions normal;
    normal.mode = sim::DeviceMode::Normal;
    DeviceRig rig(normal);
    rig.RunUpdate();
    EXPECT_EQ(rig.device.RequestCount(RequestType::Erase), 0u);
    EXPECT_EQ(rig.host.Events(),
              (std::vector<std::string>{
                  "lock:", "counter:0/10", "status:Erasing Flash memory.",
                  "status:", "box:Error|Please use the firmware update mode.|error", "release:"}));
}

TEST(DeviceUpdate, WrongDeviceIdIsRejectedAndKeptAsCurrent) {
    DeviceRig rig(With({}, On(RequestType::IdentityRequest, 1, 1, FaultAction::AnswerOtherId)));
    rig.RunUpdate();
    EXPECT_EQ(rig.host.Of("box"),
              std::vector<std::string>{"Error|Illegal device connected.|error"});
    EXPECT_EQ(rig.context.CurrentDeviceId(), (DeviceId{0x6E, 0x00, 0x06, 0x00}));
    EXPECT_EQ(rig.device.RequestCount(RequestType::EnterUpdate), 0u);
    // Only an update that accepted a device puts its id into the updater's identity reply.
    const auto reply = rig.context.IdentityReply().Bytes();
    EXPECT_EQ(Bytes(reply.begin() + 6, reply.begin() + 10), (Bytes{0, 0, 0, 0}));
}

TEST(DeviceUpdate, IdentityRequestAfterTheUpdateIsAnsweredWithTheAcceptedId) {
    DeviceRig rig;
    rig.RunUpdate();
    rig.device.SendUnsolicited(sim::UnsolicitedMessage::IdentityRequest);
    ASSERT_TRUE(rig.device.WaitForUpdaterAnswers(1, std::chrono::seconds(5)));
    const Bytes answer = rig.device.UpdaterAnswers().back();
    EXPECT_EQ(Bytes(answer.begin() + 6, answer.begin() + 10), (Bytes{0x6E, 0x00, 0x05, 0x00}));
}

TEST(DeviceUpdate, FinishAnsweredWithAnErrorStillCompletes) {
    DeviceRig rig(With({}, On(RequestType::Finish, 1, 1, FaultAction::AnswerStatus, 5)));
    rig.RunUpdate();
    EXPECT_EQ(rig.host.Of("status").back(), kCompleted);
    EXPECT_TRUE(rig.host.Of("box").empty());
}

TEST(DeviceUpdate, ThirtyOneLostAcknowledgementsThenSuccess) {
    // Short enough for 31 waits in a test, long enough that no answered block times out on a
    // loaded machine (at 40 ms some did, and were counted as resends; at 150 ms, beside two
    // busy loops, too); the images cut short, so that few answered blocks are exposed.
    const engine::FirmwareStore& images = test::ShortImages();
    DeviceRig clean({}, images);
    clean.RunUpdate();
    engine::Timing quick = test::ShortTiming();
    quick.blockWaitMs = 300;
    DeviceRig rig(With({}, On(RequestType::WriteBlock, 5, 31, FaultAction::DropReply)), images,
                  quick);
    rig.RunUpdate();
    EXPECT_EQ(rig.device.RequestCount(RequestType::WriteBlock),
              clean.device.RequestCount(RequestType::WriteBlock) + 31u);
    ASSERT_FALSE(rig.host.Of("status").empty());
    EXPECT_EQ(rig.host.Of("status").back(), kCompleted);
    ExpectFlashHoldsImages(rig);
}

TEST(DeviceUpdate, BlockRefusedThirtyTwoTimesEndsTheUpdate) {
    DeviceRig rig(With({}, On(RequestType::WriteBlock, 5, 32, FaultAction::AnswerStatus)));
    rig.RunUpdate();
    EXPECT_EQ(rig.device.RequestCount(RequestType::WriteBlock), 4u + 32u);
    EXPECT_EQ(Tail(rig.host.Events(), 2),
              (std::vector<std::string>{"box:Error|Transfer error occurred.|error", "release:"}));
    EXPECT_EQ(rig.device.RequestCount(RequestType::Finish), 0u);
}

TEST(DeviceUpdate, BlockRefusedThirtyOneTimesGoesOn) {
    DeviceRig rig(With({}, On(RequestType::WriteBlock, 5, 31, FaultAction::AnswerStatus)));
    rig.RunUpdate();
    EXPECT_EQ(rig.host.Of("status").back(), kCompleted);
    ExpectFlashHoldsImages(rig);
}

TEST(DeviceUpdate, EraseRefusedSixTimesGoesOnSevenTimesEnds) {
    DeviceRig six(With({}, On(RequestType::Erase, 1, 6, FaultAction::AnswerStatus, 3)));
    six.RunUpdate();
    EXPECT_EQ(six.host.Of("status").back(), kCompleted);
    ExpectFlashHoldsImages(six);

    DeviceRig seven(With({}, On(RequestType::Erase, 1, 7, FaultAction::AnswerStatus, 3)));
    seven.RunUpdate();
    EXPECT_EQ(seven.device.RequestCount(RequestType::Erase), 7u);
    EXPECT_EQ(seven.host.Of("box"),
              std::vector<std::string>{"Error|Transfer error occurred.|error"});
    EXPECT_EQ(seven.device.RequestCount(RequestType::WriteBlock), 0u);
}

TEST(DeviceUpdate, BootVersionReadWithBadChecksumEndsWithoutMessage) {
    DeviceRig rig(With({}, On(RequestType::ReadMemory, 1, 1, FaultAction::CorruptReadCrc)));
    rig.RunUpdate();
    EXPECT_TRUE(rig.host.Of("box").empty());
    EXPECT_EQ(rig.host.Events().back(), "release:");
    EXPECT_EQ(rig.device.RequestCount(RequestType::Erase), 0u);
}

TEST(DeviceUpdate, LateAcknowledgementStillLandsEveryBlock) {
    // A block wait long enough that no other block times out on a loaded machine, so that
    // the one resend counted is the late block's.
    engine::Timing timing = test::ShortTiming();
    timing.blockWaitMs = 400;
    // The 5th block's answer comes after its resend has left; the resend's answer follows.
    DeviceRig rig(With({}, On(RequestType::WriteBlock, 5, 1, FaultAction::DelayReply, 0,
                              timing.blockWaitMs * 3 / 2)),
                  firmware::EmbeddedFirmware(), timing);
    rig.RunUpdate();
    EXPECT_EQ(rig.host.Of("status").back(), kCompleted);
    EXPECT_EQ(rig.device.RequestCount(RequestType::WriteBlock), 878u);
    ExpectFlashHoldsImages(rig);
}

TEST(DeviceUpdate, LateAcknowledgementNeverCoversARefusedBlock) {
    // Block 5 is answered late, after its resend has left; the resend is answered at once;
    // every send of block 6 is refused and never carried out. The late answer comes half a
    // block wait after the resend: a loaded machine may move either by a good part of that.
    engine::Timing timing = test::ShortTiming();
    timing.blockWaitMs = 400;
    DeviceOptions o = With({}, On(RequestType::WriteBlock, 5, 1, FaultAction::DelayReply, 0,
                                  timing.blockWaitMs * 3 / 2));
    o.faults.push_back(On(RequestType::WriteBlock, 7, 40, FaultAction::AnswerStatus));
    DeviceRig rig(o, firmware::EmbeddedFirmware(), timing);
    rig.RunUpdate();
    EXPECT_NE(rig.host.Of("status").back(), kCompleted);
    EXPECT_EQ(rig.host.Of("box"), std::vector<std::string>{"Error|Transfer error occurred.|error"});
    EXPECT_EQ(rig.device.RequestCount(RequestType::Finish), 0u);
    EXPECT_EQ(rig.device.RequestCount(RequestType::WriteBlock), 6u + 32u);
}

// --- a link that pollutes, splits, loses and duplicates --------------------------------------
// The update either completes over a flash that holds the images, or fails with "Transfer
// error occurred." (or the step's time-out); it never completes over anything else.

constexpr std::uint32_t kEveryOne = 0;

std::vector<Fault> OnEveryRequest(FaultAction action) {
    std::vector<Fault> faults;
    for (const RequestType type :
         {RequestType::IdentityRequest, RequestType::EnterUpdate, RequestType::ReadMemory,
          RequestType::Erase, RequestType::WriteBlock, RequestType::Finish}) {
        faults.push_back(On(type, kEveryOne, 1, action));
    }
    return faults;
}

struct LinkCase {
    const char* name;
    std::vector<Fault> faults;
    bool earlyCompletion = false;     // the device says it has finished before it is asked
    bool verify = false;              // the read-back check after writing
    std::uint32_t failSendsFrom = 0;  // the line refuses sends from this one on (1 = first)
    std::uint32_t failSends = 0;
    // What must happen: completion, or the failure's message and cause.
    bool completes = true;
    std::string message;
    Cause cause = Cause::None;
};

void PrintTo(const LinkCase& c, std::ostream* os) { *os << c.name; }

class LinkFaults : public ::testing::TestWithParam<LinkCase> {};

TEST_P(LinkFaults, CompletesOnlyOverAFlashThatHoldsTheImages) {
    const LinkCase& c = GetParam();
    DeviceOptions options;
    options.faults = c.faults;
    options.earlyCompletionNotice = c.earlyCompletion;
    // The rig's patient waits: no case but the lost block waits out a single one.
    DeviceRig rig(options);
    rig.env.verifyFlash = c.verify;
    rig.line.failFrom = c.failSendsFrom;
    rig.line.failCount = c.failSends;
    rig.RunUpdate();

    const std::vector<Outcome> outcomes = rig.host.Outcomes();
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].completed, c.completes);
    EXPECT_FALSE(rig.context.IsBusy());
    if (c.completes) {
        EXPECT_EQ(rig.host.Of("status").back(), kCompleted);
        EXPECT_TRUE(rig.host.Of("box").empty());
        ExpectFlashHoldsImages(rig);
    } else {
        EXPECT_EQ(rig.host.Of("box"), std::vector<std::string>{"Error|" + c.message + "|error"});
        EXPECT_EQ(outcomes[0].cause, c.cause);
        EXPECT_NE(rig.host.Of("status").back(), kCompleted);
    }
}

Fault LateCopy(std::uint32_t block, std::uint32_t delayMs) {
    Fault f = On(RequestType::WriteBlock, block, 1, FaultAction::DuplicateLate);
    f.delayMs = delayMs;
    return f;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Faults, LinkFaults,
    ::testing::Values(
        LinkCase{"RealTimeBytesInAndAroundEveryReply", OnEveryRequest(FaultAction::RealTimeBytes),
                 false, false, 0, 0, true, "", Cause::None},
        LinkCase{"EveryReplyInTwoPieces", OnEveryRequest(FaultAction::SplitReply), false, false, 0,
                 0, true, "", Cause::None},
        LinkCase{"ForeignMessageWithoutEndBeforeEveryReply",
                 OnEveryRequest(FaultAction::ForeignUnterminated), false, true, 0, 0, true, "", Cause::None},
        LinkCase{"CompletionNoticeBeforeTheFinishRequest", {}, true, false, 0, 0, true, "", Cause::None},
        LinkCase{"CompletionNoticeBeforeTheReadBackCheck", {}, true, true, 0, 0, true, "", Cause::None},
        LinkCase{"LostBlockIsSentAgain",
                 {On(RequestType::WriteBlock, 3, 1, FaultAction::LoseRequest)}, false, false, 0, 0,
                 true, "", Cause::None},
        LinkCase{"OneSendFailsAndIsMadeAgain", {}, false, false, 10, 1, true, "", Cause::None},
        LinkCase{"SendsFailForGood", {}, false, false, 10, 1000, false, "Time out error(2)",
                 Cause::SendFailed},
        LinkCase{"EveryAcknowledgementTwice",
                 {On(RequestType::WriteBlock, kEveryOne, 1, FaultAction::DuplicateReply)}, false,
                 false, 0, 0, false, "Transfer error occurred.", Cause::DuplicateReplies},
        LinkCase{"OneAcknowledgementAgainLater", {LateCopy(5, 30)}, false, false, 0, 0, false,
                 "Transfer error occurred.", Cause::DuplicateReplies},
        LinkCase{"OneAcknowledgementAgainLaterWithTheCheck", {LateCopy(5, 30)}, false, true, 0, 0,
                 false, "Transfer error occurred.", Cause::DuplicateReplies},
        LinkCase{"BlockAcknowledgedButNeverWritten",
                 {On(RequestType::WriteBlock, 7, 1, FaultAction::AnswerStatus, 0)}, false, true, 0,
                 0, false, "Transfer error occurred.", Cause::Mismatch}),
    [](const ::testing::TestParamInfo<LinkCase>& p) { return std::string(p.param.name); });
// clang-format on

// The check names the image and the first flash address that differs: a block acknowledged
// without being written leaves erased flash where the image has other bytes.
TEST(DeviceUpdate, ReadBackCheckNamesTheFirstDifference) {
    DeviceRig rig(With({}, On(RequestType::WriteBlock, 7, 1, FaultAction::AnswerStatus, 0)));
    rig.env.verifyFlash = true;
    rig.RunUpdate();
    // Block 7 is the main image's 6th: the preset image took the first.
    const ImageRef main = *rig.firmware.Locate(kImageMain);
    std::uint32_t first = 5 * 4096;
    while (main.data[first] == 0xFF) ++first;
    ASSERT_EQ(rig.host.Outcomes().size(), 1u);
    const Outcome outcome = rig.host.Outcomes()[0];
    EXPECT_EQ(outcome.phase, Phase::Verify);
    EXPECT_EQ(outcome.imageId, kImageMain);
    EXPECT_EQ(outcome.address, 0x33000u + first);
    EXPECT_EQ(rig.device.RequestCount(RequestType::Finish), 0u);
}

// --- what a device serves of a read: however it serves them, the update completes over the
// images and tells the device it is finished, read back in the largest size served or, when
// none is, saying so. The two large images are cut short: even the smallest reads are few.

const engine::FirmwareStore& ShortImages() {
    static const firmware::MemoryFirmwareStore store = [] {
        auto s = firmware::MemoryFirmwareStore::CopyOf(firmware::EmbeddedFirmware());
        for (const int id : {kImageMain, kImageData}) {
            const ImageRef image = *s.Locate(id);
            s.Set(id, Bytes(image.data, image.data + 16384));
        }
        return s;
    }();
    return store;
}
constexpr std::int64_t kShortImagesBytes = 4096 + 16384 + 16384 + 4096;

Fault ReadLimit(FaultAction action, std::uint32_t bytes) {
    Fault f = On(RequestType::ReadMemory, 0, 1, action);
    f.bytes = bytes;
    return f;
}

struct ReadBackCase {
    const char* name;
    std::vector<Fault> faults;
    bool strict;              // the device writes only over erased flash
    std::uint32_t readBytes;  // 0: no read served, the flash not read back
    Cause unreadable = Cause::None;
    int blocksFoundWritten = 0;
};

void PrintTo(const ReadBackCase& c, std::ostream* os) { *os << c.name; }

class ReadBackOfADevice : public ::testing::TestWithParam<ReadBackCase> {};

TEST_P(ReadBackOfADevice, CompletesOverTheImagesAndSaysWhetherItReadThemBack) {
    const ReadBackCase& c = GetParam();
    DeviceOptions options;
    options.faults = c.faults;
    options.strictWrites = c.strict;
    engine::Timing timing = test::PatientTiming();
    timing.eraseReadWaitMs = 1500;   // a read never answered, the first of its size
    timing.verifyReadWaitMs = 1000;  // one whose size has been answered
    DeviceRig rig(options, ShortImages(), timing);
    rig.env.verifyFlash = true;
    rig.RunUpdate();

    ASSERT_EQ(rig.host.Outcomes().size(), 1u);
    const Outcome o = rig.host.Outcomes()[0];
    EXPECT_TRUE(o.completed);
    EXPECT_EQ(o.verified, c.readBytes != 0);
    EXPECT_EQ(o.readBack.result,
              c.readBytes != 0 ? ReadBackResult::Verified : ReadBackResult::Unreadable);
    EXPECT_EQ(o.readBack.readBytes, c.readBytes);
    EXPECT_EQ(o.readBack.unreadable, c.unreadable);
    EXPECT_EQ(o.readBack.blocksFoundWritten, c.blocksFoundWritten);
    EXPECT_TRUE(rig.host.Of("box").empty());
    EXPECT_EQ(rig.device.RequestCount(RequestType::Finish), 1u);
    ExpectFlashHoldsImages(rig);
}

const Fault kLostAcknowledgement = On(RequestType::WriteBlock, 9, 1, FaultAction::DropReply);

// clang-format off
INSTANTIATE_TEST_SUITE_P(Devices, ReadBackOfADevice, ::testing::Values(
    ReadBackCase{"RefusesReadsAbove256", {ReadLimit(FaultAction::RefuseLargeRead, 256)}, false, 256},
    ReadBackCase{"NeverAnswersReadsAbove2048", {ReadLimit(FaultAction::IgnoreLargeRead, 2048)}, false, 256},
    ReadBackCase{"AnswersReadsInPieces", {ReadLimit(FaultAction::ReadInPieces, 700)}, false, 4096},
    ReadBackCase{"LosesTheFirstReadOfTheCheck",
                 {On(RequestType::ReadMemory, 2, 1, FaultAction::DropReply)}, false, 4096},
    ReadBackCase{"RefusesEveryReadButFourBytes", {ReadLimit(FaultAction::RefuseLargeRead, 4)},
                 false, 0, Cause::DeviceStatus},
    ReadBackCase{"AnswersNoReadButFourBytes", {ReadLimit(FaultAction::IgnoreLargeRead, 4)}, false,
                 0, Cause::TimedOut},
    ReadBackCase{"StrictLosesAnAcknowledgement", {kLostAcknowledgement}, true, 4096, Cause::None, 1},
    ReadBackCase{"StrictLosesAnAcknowledgementReadsSmall",
                 {kLostAcknowledgement, ReadLimit(FaultAction::RefuseLargeRead, 512)}, true, 512,
                 Cause::None, 1}),
    [](const ::testing::TestParamInfo<ReadBackCase>& p) { return std::string(p.param.name); });
// clang-format on

// A read answered later than the check's own wait is waited for (the first of its size as
// long as any memory read), not sent again and again.
TEST(DeviceUpdate, SlowReadsAreWaitedForNotSentAgain) {
    engine::Timing timing = test::ShortTiming();
    timing.verifyReadWaitMs = 40;
    timing.eraseReadWaitMs = 3000;
    // The boot version's read and the check's first five, each 200 ms late.
    DeviceRig rig(With({}, On(RequestType::ReadMemory, 1, 6, FaultAction::DelayReply, 0, 200)),
                  ShortImages(), timing);
    rig.env.verifyFlash = true;
    rig.RunUpdate();
    ASSERT_EQ(rig.host.Outcomes().size(), 1u);
    EXPECT_TRUE(rig.host.Outcomes()[0].verified);
    EXPECT_EQ(rig.device.RequestCount(RequestType::ReadMemory), 1u + kShortImagesBytes / 4096);
}

// Without the check (the window), a strict device's refusals of the resend of a block whose
// answer was lost end the update after the step's retries.
TEST(DeviceUpdate, WithoutTheCheckTheWriteStepKeepsItsRetries) {
    DeviceOptions strict = With({}, kLostAcknowledgement);
    strict.strictWrites = true;
    DeviceRig rig(strict);
    rig.RunUpdate();
    EXPECT_EQ(rig.host.Of("box"), std::vector<std::string>{"Error|Transfer error occurred.|error"});
    EXPECT_EQ(rig.device.RequestCount(RequestType::WriteBlock), 8u + 32u);
}

// --- a device that never answers one kind of request ---------------------------------------

struct SilenceCase {
    RequestType type;
    const char* box;  // nullptr: no message
};

class SilentDevice : public ::testing::TestWithParam<SilenceCase> {};

TEST_P(SilentDevice, EndsWithTheStepsMessageAndReleases) {
    engine::Timing t = test::ShortTiming();
    t.blockWaitMs = 20;
    Fault silence = On(GetParam().type, 1, 1000, FaultAction::DropReply);
    DeviceRig rig(With({}, silence), firmware::EmbeddedFirmware(), t);
    rig.RunUpdate();
    if (GetParam().box != nullptr) {
        EXPECT_EQ(rig.host.Of("box"),
                  std::vector<std::string>{std::string("Error|") + GetParam().box + "|error"});
    } else {
        EXPECT_TRUE(rig.host.Of("box").empty());
    }
    EXPECT_EQ(rig.host.Events().back(), "release:");
    EXPECT_TRUE(rig.host.Of("enable").empty());
    EXPECT_FALSE(rig.context.IsBusy());
}

INSTANTIATE_TEST_SUITE_P(
    EachRequest, SilentDevice,
    ::testing::Values(SilenceCase{RequestType::IdentityRequest, "Time out error(1)"},
                      SilenceCase{RequestType::EnterUpdate, "Time out error(1)"},
                      SilenceCase{RequestType::ReadMemory, nullptr},
                      SilenceCase{RequestType::Erase, "Time out error(3)"},
                      SilenceCase{RequestType::WriteBlock, "Time out error(2)"},
                      SilenceCase{RequestType::Finish, "Transfer error occurred."}));

// --- the window closing during each wait ---------------------------------------------------

class ClosingWindow : public ::testing::TestWithParam<RequestType> {};

TEST_P(ClosingWindow, EndsAtOnceTouchingNothing) {
    engine::Timing product;  // the closing, not a time-out, must end the wait
    product.enterPauseMs = 5;
    DeviceRig rig(With({}, On(GetParam(), 1, 1000, FaultAction::DropReply)),
                  firmware::EmbeddedFirmware(), product);
    std::thread closer([&] {
        while (rig.device.RequestCount(GetParam()) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        rig.CloseWindow();
    });
    EXPECT_LT(rig.RunUpdate(), std::chrono::seconds(10));
    closer.join();
    EXPECT_EQ(rig.host.After("closing"), std::vector<std::string>{});
    EXPECT_TRUE(rig.host.Of("box").empty());
    EXPECT_TRUE(rig.context.IsBusy());  // nobody released the controls
}

INSTANTIATE_TEST_SUITE_P(EachWait, ClosingWindow,
                         ::testing::Values(RequestType::IdentityRequest, RequestType::EnterUpdate,
                                           RequestType::ReadMemory, RequestType::Erase,
                                           RequestType::WriteBlock, RequestType::Finish));

}  // namespace
}  // namespace tq5::engine
