// Instance numbers: claimed in order, reused, refused past twenty, freed by the system when a
// holder dies. POSIX locks are tested in folders of their own, never the real one.

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "app/instance_number.hpp"
#include "app/posix/posix_named_locks.hpp"
#include "temp_folder.hpp"

namespace tq5::app {
namespace {

namespace fs = std::filesystem;

// In-memory locks: a name is taken once; names in `broken` can never be had.
class FakeNamedLocks : public NamedLocks {
public:
    bool TryTake(const std::string& name) override {
        tried.push_back(name);
        if (broken.count(name) != 0) return false;
        return taken.insert(name).second;
    }
    std::set<std::string> taken;
    std::set<std::string> broken;
    std::vector<std::string> tried;
};

// A lock folder of the test's own inside a fresh temporary folder, removed afterwards.
class PosixNamedLocksTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(temp_.Path().empty()); }

    test::TempFolder temp_{"tq5-instances"};
    const fs::path& root_ = temp_.Path();
    const fs::path folder = root_ / "locks";
};

TEST(InstanceNumber, TitlesAreTheLockNames) {
    EXPECT_EQ(InstanceTitle(1), "VARN TQ-5 System v1.10 Updater");
    EXPECT_EQ(InstanceTitle(2), "VARN TQ-5 System v1.10 Updater (2)");
    EXPECT_EQ(InstanceTitle(20), "VARN TQ-5 System v1.10 Updater (20)");
}

TEST(InstanceNumber, RefusalNamesTwenty) {
    EXPECT_EQ(TooManyInstancesText(),
              "It is forbidden to launch more than 20 instance of this application.");
}

TEST(InstanceNumber, ClaimsInOrderAndStopsAtTheFirstFree) {
    FakeNamedLocks locks;
    EXPECT_EQ(ClaimInstanceNumber(locks), 1);
    EXPECT_EQ(ClaimInstanceNumber(locks), 2);
    // The second claim tried 1 (taken) and then took 2, and nothing beyond it.
    EXPECT_EQ(locks.tried,
              (std::vector<std::string>{InstanceTitle(1), InstanceTitle(1), InstanceTitle(2)}));
}

TEST(InstanceNumber, ALockThatCannotBeHadCountsAsTaken) {
    FakeNamedLocks locks;
    locks.broken = {InstanceTitle(1), InstanceTitle(2)};
    EXPECT_EQ(ClaimInstanceNumber(locks), 3);
}

TEST(InstanceNumber, RefusesWhenAllTwentyAreTaken) {
    FakeNamedLocks locks;
    for (int n = 1; n <= kMaxInstances; ++n) locks.taken.insert(InstanceTitle(n));
    EXPECT_EQ(ClaimInstanceNumber(locks), 0);
    EXPECT_EQ(locks.tried.size(), 20u);
}

TEST(PosixNamedLocksNames, FileNamesAreSafeAndDistinct) {
    const std::string one = PosixNamedLocks::LockFileName(InstanceTitle(1));
    const std::string two = PosixNamedLocks::LockFileName(InstanceTitle(2));
    EXPECT_NE(one, two);
    EXPECT_EQ(one.find('/'), std::string::npos);
    EXPECT_EQ(one.find(' '), std::string::npos);
    // Names that differ only in unsafe characters still get files of their own.
    EXPECT_NE(PosixNamedLocks::LockFileName("a b"), PosixNamedLocks::LockFileName("a_b"));
    EXPECT_NE(PosixNamedLocks::LockFileName("a/b"), PosixNamedLocks::LockFileName("a%2Fb"));
    EXPECT_EQ(PosixNamedLocks::LockFileName("../x"), "..%2Fx.lock");
}

TEST_F(PosixNamedLocksTest, NumbersAreReused) {
    PosixNamedLocks running(folder);
    ASSERT_TRUE(running.TryTake(InstanceTitle(1)));
    ASSERT_TRUE(running.TryTake(InstanceTitle(3)));
    PosixNamedLocks starting(folder);
    EXPECT_EQ(ClaimInstanceNumber(starting), 2);
    EXPECT_EQ(ClaimInstanceNumber(starting), 4);
}

TEST_F(PosixNamedLocksTest, TheTwentyFirstClaimIsRefused) {
    PosixNamedLocks locks(folder);
    for (int n = 1; n <= kMaxInstances; ++n) ASSERT_EQ(ClaimInstanceNumber(locks), n);
    PosixNamedLocks late(folder);
    EXPECT_EQ(ClaimInstanceNumber(late), 0);
}

TEST_F(PosixNamedLocksTest, AFolderThatIsNotOursHoldsNoLock) {
    fs::create_directories(root_ / "elsewhere");
    fs::create_directory_symlink(root_ / "elsewhere", folder);
    PosixNamedLocks locks(folder);
    EXPECT_EQ(ClaimInstanceNumber(locks), 0);
}

TEST_F(PosixNamedLocksTest, LockFilesThatCannotBeUsedAreNamedAndOnlyTheyAreSkipped) {
    PosixNamedLocks running(folder);
    ASSERT_TRUE(running.TryTake(InstanceTitle(2)));  // held by a real instance
    // Numbers 1, 3 and 4 have things in place of their lock files.
    fs::create_directory(folder / PosixNamedLocks::LockFileName(InstanceTitle(1)));
    fs::create_symlink(root_ / "elsewhere",
                       folder / PosixNamedLocks::LockFileName(InstanceTitle(3)));
    ASSERT_EQ(mkfifo((folder / PosixNamedLocks::LockFileName(InstanceTitle(4))).c_str(), 0600), 0);

    PosixNamedLocks starting(folder);
    EXPECT_EQ(ClaimInstanceNumber(starting), 5);
    const std::vector<std::string> expected = {
        (folder / PosixNamedLocks::LockFileName(InstanceTitle(1))).string() + ": a folder",
        (folder / PosixNamedLocks::LockFileName(InstanceTitle(3))).string() + ": a symbolic link",
        (folder / PosixNamedLocks::LockFileName(InstanceTitle(4))).string() +
            ": not a regular file",
    };
    EXPECT_EQ(starting.UnusableFiles(), expected);  // number 2 is held, not unusable
    EXPECT_FALSE(fs::exists(root_ / "elsewhere"));  // the link was not followed
}

// Runs a child that claims a number in `folder`, reports it through a pipe and then waits to
// be killed. Returns the child's pid and the number it claimed.
std::pair<pid_t, int> StartHolder(const fs::path& folder) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        PosixNamedLocks locks(folder);
        const int number = ClaimInstanceNumber(locks);
        if (write(fds[1], &number, sizeof number) != sizeof number) _exit(1);
        for (;;) pause();
    }
    close(fds[1]);
    int number = -1;
    EXPECT_EQ(read(fds[0], &number, sizeof number), static_cast<ssize_t>(sizeof number));
    close(fds[0]);
    return {pid, number};
}

void Kill(pid_t pid) {
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
}

TEST_F(PosixNamedLocksTest, ACrashedHolderFreesItsNumber) {
    const auto [first, firstNumber] = StartHolder(folder);
    const auto [second, secondNumber] = StartHolder(folder);
    EXPECT_EQ(firstNumber, 1);
    EXPECT_EQ(secondNumber, 2);

    Kill(first);  // dies without any chance to clean up
    PosixNamedLocks starting(folder);
    EXPECT_EQ(ClaimInstanceNumber(starting), 1);
    Kill(second);
}

}  // namespace
}  // namespace tq5::app
