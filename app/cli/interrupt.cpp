#include "app/cli/interrupt.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>

#include "app/cli/cli_options.hpp"

namespace tq5::app::cli {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kPlainNotice = "tq5-updater: interrupted.\n";

// Everything the handler touches is lock-free.
std::atomic<bool> g_interrupted{false};
std::atomic<const char*> g_notice{kPlainNotice};
std::atomic<bool> g_noticePrinted{false};
std::atomic<int> g_outcome{-1};  // the exit code once the result is known
std::atomic<Clock::rep> g_finishDeadline{0};
std::atomic<Clock::rep> g_stallDeadline{0};
std::atomic<int> g_stallCode{1};
std::atomic<const char*> g_stallLine{nullptr};
std::atomic<const char*> g_jsonInterrupted{nullptr};
std::atomic<const char*> g_jsonStalled{nullptr};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free &&
                  std::atomic<const char*>::is_always_lock_free,
              "used from a signal handler");

int g_wakeRead = -1;           // the watcher sleeps on this pipe
int g_wakeWrite = -1;          // the handler and FinishWithin wake it
int g_stderr = STDERR_FILENO;  // a copy: stderr itself is silenced while MIDI systems are probed

void WriteAll(int fd, const char* text) {
    std::size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t written = ::write(fd, text, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;  // a closed stderr: nothing to be done
        text += written;
        left -= static_cast<std::size_t>(written);
    }
}

void Wake() {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(g_wakeWrite, &byte, 1);
    errno = saved;
}

// Async-signal-safe.
void PrintNoticeOnce() {
    if (g_noticePrinted.exchange(true)) return;
    WriteAll(g_stderr, g_notice.load());
}

void OnSignal(int) {
    if (g_interrupted.exchange(true)) {
        // A second signal: no more waiting.
        const int outcome = g_outcome.load();
        if (outcome < 0) PrintNoticeOnce();
        ::_exit(outcome < 0 ? kExitInterrupted : outcome);
    }
    Wake();
}

// `last`: a line that stdout ends with (the outcome of --json), or null.
[[noreturn]] void EndNow(int exitCode, const char* last) {
    // What stdout holds goes out, unless the program is stuck in the middle of writing it
    // (then no line of its own follows, which would cut into a line of the program's).
    if (::ftrylockfile(stdout) == 0) {
        if (last != nullptr) std::fputs(last, stdout);
        std::fflush(stdout);
        ::funlockfile(stdout);
    }
    ::_exit(exitCode);
}

[[noreturn]] void EndInterruptedOrFinished() {
    const int outcome = g_outcome.load();
    if (outcome < 0) PrintNoticeOnce();
    // A known result has had its outcome line already.
    EndNow(outcome < 0 ? kExitInterrupted : outcome,
           outcome < 0 ? g_jsonInterrupted.load() : nullptr);
}

Clock::time_point At(Clock::rep ticks) { return Clock::time_point(Clock::duration(ticks)); }

void Watch() {
    std::optional<Clock::time_point> interruptDeadline;
    for (;;) {
        Clock::time_point deadline = Clock::time_point::max();
        if (interruptDeadline) deadline = *interruptDeadline;
        const Clock::rep finish = g_finishDeadline.load();
        if (finish != 0) deadline = std::min(deadline, At(finish));
        const Clock::rep stall = g_stallDeadline.load();
        if (stall != 0) deadline = std::min(deadline, At(stall));

        int timeoutMs = -1;
        if (deadline != Clock::time_point::max()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            timeoutMs = static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
        }
        pollfd wake{g_wakeRead, POLLIN, 0};
        if (::poll(&wake, 1, timeoutMs) > 0) {
            char drained[64];
            while (::read(g_wakeRead, drained, sizeof drained) > 0) {
            }
        }
        if (g_interrupted.load() && !interruptDeadline) {
            interruptDeadline = Clock::now() + std::chrono::milliseconds(kInterruptGraceMs);
        }
        const Clock::time_point now = Clock::now();
        if ((interruptDeadline && now >= *interruptDeadline) ||
            (finish != 0 && now >= At(finish))) {
            EndInterruptedOrFinished();
        }
        const Clock::rep stalled = g_stallDeadline.load();  // the call may have returned
        if (stalled != 0 && stalled == stall && now >= At(stalled)) {
            WriteAll(g_stderr, g_stallLine.load());
            EndNow(g_stallCode.load(), g_jsonStalled.load());
        }
    }
}

}  // namespace

void CatchInterrupts() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);

    const int copy = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (copy >= 0) g_stderr = copy;
    sigset_t stopping;
    sigemptyset(&stopping);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stopping, signal);
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    action.sa_mask = stopping;
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);

    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) == 0) {
        g_wakeRead = wake[0];
        g_wakeWrite = wake[1];
        // The watcher alone takes the signals: every thread started after this one (the MIDI
        // libraries', the poll timer, the workers) inherits this thread's mask. So a handler
        // never runs in the middle of a library's call, and a signal is never left waiting
        // on a thread that is stuck in one.
        pthread_sigmask(SIG_BLOCK, &stopping, nullptr);
        std::thread([stopping] {
            pthread_sigmask(SIG_UNBLOCK, &stopping, nullptr);
            Watch();
        }).detach();
    }
}

bool Interrupted() { return g_interrupted.load(); }

void SetInterruptNotice(const char* line) { g_notice.store(line != nullptr ? line : kPlainNotice); }

void SetJsonEndings(const char* interrupted, const char* stalled) {
    g_jsonInterrupted.store(interrupted);
    g_jsonStalled.store(stalled);
}

void PrintInterruptNotice() {
    std::fflush(stderr);  // after whatever the program wrote through stdio
    PrintNoticeOnce();
}

StallGuard::StallGuard(int boundMs, int exitCode, const char* line) {
    g_stallCode.store(exitCode);
    g_stallLine.store(line);
    g_stallDeadline.store(
        (Clock::now() + std::chrono::milliseconds(boundMs)).time_since_epoch().count());
    Wake();
}

StallGuard::~StallGuard() { g_stallDeadline.store(0); }

void FinishWithin(int exitCode, int boundMs) {
    g_outcome.store(exitCode);
    g_finishDeadline.store(
        (Clock::now() + std::chrono::milliseconds(boundMs)).time_since_epoch().count());
    Wake();
}

}  // namespace tq5::app::cli
