#pragma once
// A pipe that ends a poll(2) on another thread: a reader polls ReadFd() beside its device's
// descriptors, and Wake() from any thread makes that poll return. Both ends are
// non-blocking and closed on exec, so a child process never holds them.

#include <atomic>

namespace tq5::midi {

class WakePipe {
public:
    WakePipe() = default;
    ~WakePipe() { Close(); }
    WakePipe(const WakePipe&) = delete;
    WakePipe& operator=(const WakePipe&) = delete;

    // False when the system has no pipe to give.
    [[nodiscard]] bool Open();
    // Makes a poll on ReadFd() return, now or at its next call; nothing when closed.
    void Wake();
    void Close();
    // The end to poll for POLLIN; -1 when closed.
    int ReadFd() const { return read_.load(); }

private:
    std::atomic<int> read_{-1};
    std::atomic<int> write_{-1};
};

}  // namespace tq5::midi
