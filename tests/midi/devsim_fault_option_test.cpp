// tq5-devsim's --fault text: what it turns into, and what it refuses.

#include "sim/devsim/fault_option.hpp"

#include <gtest/gtest.h>

namespace tq5::sim {
namespace {

TEST(DevsimFaultOption, ReadsRequestOrdinalActionAndItsValue) {
    const auto drop = ParseFaultOption("write-block:3:drop-reply");
    ASSERT_TRUE(drop);
    EXPECT_EQ(drop->on, RequestType::WriteBlock);
    EXPECT_EQ(drop->ordinal, 3u);
    EXPECT_EQ(drop->action, FaultAction::DropReply);

    const auto status = ParseFaultOption("erase:1:answer-status:5");
    ASSERT_TRUE(status);
    EXPECT_EQ(status->status, 5);

    const auto delay = ParseFaultOption("read-memory:0:delay-reply:200");
    ASSERT_TRUE(delay);
    EXPECT_EQ(delay->ordinal, 0u);  // every read
    EXPECT_EQ(delay->delayMs, 200u);

    const auto cut = ParseFaultOption("identity:1:truncate-reply:7");
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->truncateTo, 7u);
}

TEST(DevsimFaultOption, RefusesWhatTheDeviceCouldNotCarryOut) {
    for (const char* text : {"", "write-block", "write-block:3", "bogus:1:drop-reply",
                             "erase:1:explode", "erase:x:drop-reply", "erase:-1:drop-reply",
                             "erase:1:drop-reply:5",         // takes no value
                             "erase:1:answer-status:128",    // not a data byte
                             "identity:1:corrupt-read-crc",  // only read replies carry one
                             "erase:1:delay-reply:10:extra", "erase:4-2:drop-reply",
                             "erase:0-3:drop-reply", "erase:1-:drop-reply",
                             "write-block:0:refuse-read-above",  // reads only
                             "read-memory:0:read-in-pieces:0"}) {
        EXPECT_FALSE(ParseFaultOption(text)) << text;
    }
}

}  // namespace
}  // namespace tq5::sim
