// Worker calls carried to the window's thread: they run there, in order; closing the window
// lets waiting workers go at once, also while one of their calls is still running on the
// GUI thread (a message box whose owner is being destroyed), and nothing runs afterwards.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <optional>
#include <thread>
#include <vector>

#include "app/win32/gui_thread_calls.hpp"

namespace tq5::test {
namespace {

constexpr UINT kRing = WM_APP + 7;

class GuiThreadCallsTest : public ::testing::Test {
protected:
    GuiThreadCallsTest() {
        window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                 nullptr);
        calls.Attach(window, kRing);
    }
    ~GuiThreadCallsTest() override { DestroyWindow(window); }

    // The window's message loop, for as long as `until` is false (`limit` at most).
    template <typename Predicate>
    bool Pump(Predicate until, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!until()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (message.hwnd == window && message.message == kRing) calls.RunPending();
            }
            Sleep(1);
        }
        return true;
    }

    HWND window = nullptr;
    app::GuiThreadCalls calls;
};

TEST_F(GuiThreadCallsTest, WorkerCallsRunOnTheGuiThreadInOrder) {
    ASSERT_NE(window, nullptr);
    std::vector<int> order;
    std::atomic<bool> finished{false};
    std::optional<DWORD> ranOn;
    std::thread worker([&] {
        ranOn = calls.Call<DWORD>([] { return GetCurrentThreadId(); });
        for (int i = 0; i < 5; ++i) calls.Run([&order, i] { order.push_back(i); });
        finished.store(true);
    });
    ASSERT_TRUE(Pump([&] { return finished.load(); }));
    worker.join();
    ASSERT_TRUE(ranOn.has_value());
    EXPECT_EQ(*ranOn, GetCurrentThreadId());
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST_F(GuiThreadCallsTest, CallOnTheGuiThreadRunsAtOnce) {
    bool ran = false;
    EXPECT_TRUE(calls.Run([&] { ran = true; }));
    EXPECT_TRUE(ran);
}

TEST_F(GuiThreadCallsTest, ClosingLetsAWaitingWorkerGoAndDropsItsCall) {
    std::atomic<bool> ran{false};
    auto result =
        std::async(std::launch::async, [&] { return calls.Run([&] { ran.store(true); }); });
    // The GUI thread is busy elsewhere (waiting for the workers, as a closing window does).
    Sleep(50);
    calls.Close();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_FALSE(result.get());
    // Rings that were still queued run nothing.
    Pump([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_FALSE(ran.load());
}

TEST_F(GuiThreadCallsTest, WorkerIsLetGoWhileItsCallStillRunsWhenTheWindowCloses) {
    std::atomic<bool> workerReturned{false};
    std::atomic<bool> callFinished{false};
    std::atomic<bool> waitedForWorker{false};
    std::thread worker([&] {
        calls.Run([&] {
            // A message box's loop: the window is destroyed inside it, and its destroy
            // handler waits for the workers' host calls to end.
            calls.Close();
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (!workerReturned.load() && std::chrono::steady_clock::now() < deadline) Sleep(1);
            waitedForWorker.store(workerReturned.load());
            callFinished.store(true);
        });
        workerReturned.store(true);
    });
    ASSERT_TRUE(Pump([&] { return callFinished.load(); }));
    worker.join();
    EXPECT_TRUE(waitedForWorker.load()) << "the worker waited for a call of a closed window";
}

TEST_F(GuiThreadCallsTest, NothingRunsOnceClosed) {
    calls.Close();
    bool ran = false;
    EXPECT_FALSE(calls.Run([&] { ran = true; }));
    std::optional<int> fromWorker = 1;
    std::thread worker([&] { fromWorker = calls.Call<int>([] { return 2; }); });
    worker.join();
    EXPECT_FALSE(ran);
    EXPECT_FALSE(fromWorker.has_value());
}

}  // namespace
}  // namespace tq5::test
