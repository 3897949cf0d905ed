#include "web/src/dialog_thread.hpp"

namespace tq5::web {

DialogThread::~DialogThread() {
    Quit();
    if (!thread_.joinable()) return;
    // A thread cannot join itself; ending on it, it lets itself go instead.
    if (OnThisThread()) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

void DialogThread::Start(std::function<void()> body) { thread_ = std::thread(std::move(body)); }

void DialogThread::Post(std::function<void()> task) {
    {
        std::lock_guard guard(lock_);
        if (quitting_.load()) return;
        tasks_.push_back(std::move(task));
    }
    changed_.notify_all();
}

void DialogThread::Wake() {
    {
        std::lock_guard guard(lock_);
        woken_ = true;
    }
    changed_.notify_all();
}

void DialogThread::Quit() {
    {
        std::lock_guard guard(lock_);
        quitting_.store(true);
        tasks_.clear();
    }
    changed_.notify_all();
}

void DialogThread::RunUntil(const std::function<bool()>& done) {
    while (!quitting_.load() && !done()) {
        std::function<void()> task;
        {
            std::unique_lock guard(lock_);
            changed_.wait(guard, [&] { return woken_ || quitting_.load() || !tasks_.empty(); });
            woken_ = false;
            if (quitting_.load()) return;
            if (!tasks_.empty()) {
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
        }
        if (task) task();
    }
}

}  // namespace tq5::web
