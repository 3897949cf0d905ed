// Named mutexes as instance locks: a name once taken stays taken for the process, and a name
// that some other kind of object holds counts as taken.

#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

#include "app/instance_number.hpp"
#include "app/win32/win32_named_locks.hpp"

namespace tq5::test {
namespace {

// Names of this test process alone, so a running updater is never disturbed.
std::string UniqueName(const char* what) {
    return std::string("tq5 lock test ") + what + " " + std::to_string(GetCurrentProcessId());
}

TEST(Win32NamedLocksTest, NameTakenOnceStaysTaken) {
    app::Win32NamedLocks locks;
    const std::string name = UniqueName("taken");
    EXPECT_TRUE(locks.TryTake(name));
    EXPECT_FALSE(locks.TryTake(name));
    app::Win32NamedLocks other;  // another holder in the same session
    EXPECT_FALSE(other.TryTake(name));
    EXPECT_TRUE(other.TryTake(UniqueName("second")));
}

TEST(Win32NamedLocksTest, NameOfAnotherKindOfObjectCountsAsTaken) {
    const std::string name = UniqueName("event");
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
    ASSERT_NE(event, nullptr);
    app::Win32NamedLocks locks;
    EXPECT_FALSE(locks.TryTake(name));
    CloseHandle(event);
}

// Instance numbers over the mutexes, with the twenty names prefixed so that the test never
// meets a real instance.
class PrefixedLocks final : public app::NamedLocks {
public:
    bool TryTake(const std::string& name) override {
        return locks.TryTake(UniqueName("instances") + " " + name);
    }
    app::Win32NamedLocks locks;
};

TEST(Win32NamedLocksTest, TwentyFirstClaimIsRefused) {
    PrefixedLocks locks;
    for (int expected = 1; expected <= app::kMaxInstances; ++expected) {
        EXPECT_EQ(app::ClaimInstanceNumber(locks), expected);
    }
    EXPECT_EQ(app::ClaimInstanceNumber(locks), 0);
}

}  // namespace
}  // namespace tq5::test
