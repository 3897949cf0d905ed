#include "app/win32/gui_thread_calls.hpp"

namespace tq5::app {

void GuiThreadCalls::Attach(HWND window, UINT ringMessage) {
    std::lock_guard guard(lock_);
    window_ = window;
    ringMessage_ = ringMessage;
    guiThread_ = GetCurrentThreadId();
    attached_ = true;
    closed_ = false;
}

bool GuiThreadCalls::OnGuiThread() const { return GetCurrentThreadId() == guiThread_; }

bool GuiThreadCalls::Run(std::function<void()> body) {
    auto call = std::make_shared<Pending>();
    call->body = std::move(body);
    {
        std::unique_lock guard(lock_);
        if (!attached_ || closed_) return false;
        if (!OnGuiThread()) {
            queue_.push_back(call);
            // A full queue of posted messages only delays the ring: the next one drains all.
            PostMessageA(window_, ringMessage_, 0, 0);
            changed_.wait(guard, [&] { return call->done || closed_; });
            return call->done;
        }
    }
    call->body();
    return true;
}

void GuiThreadCalls::RunPending() {
    while (true) {
        std::shared_ptr<Pending> call;
        {
            std::lock_guard guard(lock_);
            if (closed_ || queue_.empty()) return;
            call = queue_.front();
            queue_.pop_front();
        }
        call->body();  // may run a nested message loop (a message box)
        {
            std::lock_guard guard(lock_);
            call->done = true;
        }
        changed_.notify_all();
    }
}

void GuiThreadCalls::Close() {
    {
        std::lock_guard guard(lock_);
        closed_ = true;
        queue_.clear();
    }
    changed_.notify_all();
}

}  // namespace tq5::app
