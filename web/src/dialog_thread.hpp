#pragma once
// The dialog's GUI thread in the page. The browser's main thread holds the page and the MIDI
// objects and must never wait; the dialog's handlers, though, may wait (a modal box returns
// only once the user has dismissed it, closing waits for the workers). So they run here, on
// a thread of their own, in the order the page posts them, as a Windows dialog's handlers
// run on its window's thread.
//
// A modal wait on this thread (RunUntil) keeps running posted tasks meanwhile, like the
// nested message loop of a Windows message box: a version check that ends while a box is
// up still gets its completion handled.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace tq5::web {

class DialogThread {
public:
    DialogThread() = default;
    // Ends the loop and joins the thread (tasks not yet run are dropped).
    ~DialogThread();
    DialogThread(const DialogThread&) = delete;
    DialogThread& operator=(const DialogThread&) = delete;

    // Starts the thread: `body` runs on it (it normally calls RunUntilQuit).
    void Start(std::function<void()> body);

    // Any thread: queues `task` for the dialog thread. Dropped once Quit has been called.
    void Post(std::function<void()> task);
    // Any thread: a RunUntil in progress looks at its condition again.
    void Wake();
    // Any thread: every RunUntil returns after the task in progress; later tasks are dropped.
    void Quit();
    bool Quitting() const { return quitting_.load(); }

    // On the dialog thread: runs posted tasks until `done` holds or Quit was called.
    void RunUntil(const std::function<bool()>& done);
    void RunUntilQuit() {
        RunUntil([] { return false; });
    }

    bool OnThisThread() const { return std::this_thread::get_id() == thread_.get_id(); }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> tasks_;
    bool woken_ = false;
    std::atomic<bool> quitting_{false};
    std::thread thread_;
};

}  // namespace tq5::web
