#pragma once
// Carries calls from worker threads to the window's GUI thread. A worker's call is queued,
// the window is rung with a posted message, and the worker waits until the GUI thread has
// run it. Nothing is sent with SendMessage: a GUI thread that waits for workers (while the
// window closes) would otherwise deadlock with a worker blocked in it.
//
// Once the window closes (Close on the GUI thread), queued calls are dropped, waiting
// workers are released at once, and no later call reaches the window. A call that is
// running at that moment (a message box's loop on the GUI thread) finishes on its own;
// the worker that asked for it does not wait for it. Calls therefore carry their data by
// value and hand results back through the shared call, never through the worker's stack.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace tq5::app {

class GuiThreadCalls {
public:
    // GUI thread, once the window exists: calls are rung with `ringMessage` (wParam and
    // lParam 0); the window procedure then calls RunPending.
    void Attach(HWND window, UINT ringMessage);
    // GUI thread: runs the queued calls in order.
    void RunPending();
    // GUI thread: when the window is told to close, and again when it is destroyed (a
    // second call changes nothing).
    void Close();

    // Any thread. Runs `body` on the GUI thread (at once when called there) and returns its
    // result; nothing when the window is closed or closes before the call has run through.
    template <typename Result>
    std::optional<Result> Call(std::function<Result()> body) {
        auto result = std::make_shared<std::optional<Result>>();
        const bool ran = Run([body = std::move(body), result] { *result = body(); });
        if (!ran) return std::nullopt;
        return *result;
    }
    // As Call, for calls without a result; false when the call did not run through.
    bool Run(std::function<void()> body);

private:
    struct Pending {
        std::function<void()> body;
        bool done = false;
    };

    bool OnGuiThread() const;

    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::shared_ptr<Pending>> queue_;
    HWND window_ = nullptr;
    UINT ringMessage_ = 0;
    DWORD guiThread_ = 0;
    bool attached_ = false;
    bool closed_ = false;
};

}  // namespace tq5::app
